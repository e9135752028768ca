#include "planwin/PlanTableModel.h"

#include <QBrush>
#include <QColor>
#include <QDataStream>
#include <QFileInfo>
#include <QIODevice>
#include <QMimeData>
#include <QUrl>

namespace tamberlo::planwin {

PlanTableModel::PlanTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void PlanTableModel::setLayout(const plan::Layout& layout, const QList<plan::MeasuredFile>& files) {
    beginResetModel();
    const bool sameRows = layout.messages.size() == layout_.messages.size();
    layout_ = layout;
    files_ = files;
    if (!sameRows) {
        states_ = QList<StateOf>(layout_.messages.size());
        current_ = -1;
    }
    endResetModel();
}

void PlanTableModel::setRowState(int row, RowState state, const QString& detail) {
    if (row < 0 || row >= states_.size())
        return;
    states_[row] = {state, detail};
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void PlanTableModel::clearStates() {
    for (int r = 0; r < states_.size(); ++r)
        setRowState(r, RowState::None);
    setCurrentRow(-1);
}

void PlanTableModel::setCurrentRow(int row) {
    const int old = current_;
    current_ = row;
    for (int r : {old, row}) {
        if (r >= 0 && r < rowCount())
            emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
    }
}

int PlanTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(layout_.messages.size());
}

int PlanTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString PlanTableModel::stateText(int row) const {
    const StateOf& s = states_.value(row);
    QString text;
    switch (s.state) {
    case RowState::None:
        break;
    case RowState::Waiting:
        text = tr("等待");
        break;
    case RowState::Recording:
        text = tr("录音中");
        break;
    case RowState::Done:
        text = tr("已录");
        break;
    case RowState::Failed:
        text = tr("未完成");
        break;
    case RowState::Found:
        text = tr("找到");
        break;
    case RowState::Missing:
        text = tr("缺失");
        break;
    case RowState::Moved:
        text = tr("移位");
        break;
    }
    return s.detail.isEmpty() ? text : text + QLatin1Char(' ') + s.detail;
}

QVariant PlanTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const int row = index.row();
    const plan::PlacedMessage& m = layout_.messages[row];
    const plan::MeasuredFile file = files_.value(row);
    const bool unmeasured = !file.lengthMs.has_value();

    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        switch (index.column()) {
        case Number:
            return m.number;
        case Name:
            return m.name;
        case File:
            return role == Qt::EditRole ? m.path : QFileInfo(m.file).fileName();
        case Length:
            return unmeasured ? tr("无法播放")
                              : QStringLiteral("%1 s").arg(m.lengthMs / 1000.0, 0, 'f', 2);
        case Rows:
            return m.rows;
        case Start:
            return plan::rowText(m.start);
        case End:
            return plan::rowText(m.end);
        case State:
            return stateText(row);
        default:
            return {};
        }
    }
    if (role == Qt::ToolTipRole) {
        if (index.column() == File)
            return m.path;
        if (index.column() == Length && unmeasured)
            return file.problem;
        if (index.column() == Name && m.identifier != m.name)
            return tr("头文件中为 %1").arg(m.identifier);
        return {};
    }
    if (role == Qt::TextAlignmentRole) {
        if (index.column() == Name || index.column() == File || index.column() == State)
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role == Qt::BackgroundRole && row == current_)
        return QBrush(QColor(0xFF, 0xE9, 0x8F));
    if (role == Qt::ForegroundRole) {
        const RowState s = states_.value(row).state;
        if ((index.column() == Length && unmeasured) ||
            (index.column() == State && (s == RowState::Missing || s == RowState::Failed)))
            return QBrush(QColor(0xC0, 0x00, 0x00));
        if (index.column() == State && (s == RowState::Found || s == RowState::Done))
            return QBrush(QColor(0x00, 0x80, 0x00));
        if (index.column() == State && s == RowState::Moved)
            return QBrush(QColor(0xB0, 0x60, 0x00));
    }
    return {};
}

QVariant PlanTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Number:
        return tr("编号");
    case Name:
        return tr("名称");
    case File:
        return tr("文件");
    case Length:
        return tr("长度");
    case Rows:
        return tr("行数");
    case Start:
        return tr("起始");
    case End:
        return tr("结束");
    case State:
        return tr("状态");
    default:
        return {};
    }
}

Qt::ItemFlags PlanTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags f =
        Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (index.column() == Name)
        f |= Qt::ItemIsEditable;
    return f;
}

bool PlanTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.column() != Name || index.row() >= rowCount())
        return false;
    const QString name = value.toString().trimmed();
    if (name.isEmpty() || name == layout_.messages[index.row()].name)
        return false;
    emit renameRequested(index.row(), name);
    return true;
}

QStringList PlanTableModel::mimeTypes() const {
    return {QString::fromLatin1(RowsMimeType), QStringLiteral("text/uri-list")};
}

QMimeData* PlanTableModel::mimeData(const QModelIndexList& indexes) const {
    QList<int> rows;
    for (const QModelIndex& i : indexes) {
        if (i.isValid() && !rows.contains(i.row()))
            rows.append(i.row());
    }
    std::sort(rows.begin(), rows.end());
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << rows;
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(RowsMimeType), bytes);
    return data;
}

QStringList PlanTableModel::droppedFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            files.append(url.toLocalFile());
    }
    return files;
}

bool PlanTableModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                     const QModelIndex&) const {
    return data &&
           (data->hasFormat(QString::fromLatin1(RowsMimeType)) || !droppedFiles(data).isEmpty());
}

bool PlanTableModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int,
                                  const QModelIndex& parent) {
    if (!data || action == Qt::IgnoreAction)
        return false;
    // Dropped on a cell: before that cell's row; between rows: at `row`; below: at the end.
    int before = row >= 0 ? row : (parent.isValid() ? parent.row() : rowCount());
    before = std::clamp(before, 0, rowCount());
    if (data->hasFormat(QString::fromLatin1(RowsMimeType))) {
        QList<int> rows;
        QDataStream in(data->data(QString::fromLatin1(RowsMimeType)));
        in >> rows;
        rows.removeIf([this](int r) { return r < 0 || r >= rowCount(); });
        if (!rows.isEmpty())
            emit moveRequested(rows, before);
        return false;
    }
    const QStringList files = droppedFiles(data);
    if (!files.isEmpty())
        emit filesDropped(files, before);
    return false;
}

Qt::DropActions PlanTableModel::supportedDropActions() const {
    return Qt::MoveAction | Qt::CopyAction;
}

Qt::DropActions PlanTableModel::supportedDragActions() const {
    return Qt::MoveAction;
}

} // namespace tamberlo::planwin

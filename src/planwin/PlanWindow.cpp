#include "planwin/PlanWindow.h"

#include "audio/QtAudioPlayer.h"
#include "chip/ChipClient.h"
#include "chip/ChipMap.h"
#include "link/PortResolver.h"
#include "link/QtSerialPort.h"
#include "plan/ClientChip.h"
#include "plan/Measure.h"
#include "plan/QtRecordingAudio.h"
#include "planwin/MemoryBar.h"
#include "planwin/PlanCheck.h"
#include "planwin/PlanTableModel.h"
#include "planwin/QtPlanDialogs.h"
#include "widgets/AudioOutputBox.h"
#include "widgets/QtMessageBoxes.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

namespace tamberlo::planwin {

namespace {

// What a port number typed into the port box stands for right now (the panel's tool tip).
QString portToolTip(const QString& text, const QList<SerialDevice>& devices) {
    QString reason;
    const std::optional<std::int16_t> number = parsePortNumber(text, &reason);
    return number ? describePort(*number, devices) : reason;
}

QString uniqueName(const QString& wanted, const QList<plan::PlanMessage>& messages) {
    const auto taken = [&messages](const QString& name) {
        return std::any_of(messages.begin(), messages.end(),
                           [&name](const plan::PlanMessage& m) { return m.name == name; });
    };
    if (!taken(wanted))
        return wanted;
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1_%2").arg(wanted).arg(n);
        if (!taken(candidate))
            return candidate;
    }
}

QPushButton* makeButton(const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setAutoDefault(false);
    return b;
}

} // namespace

// One run's link to the chip: the port is open for as long as the session lives.
struct PlanWindow::Session {
    SerialPort* port = nullptr;
    std::unique_ptr<SerialPort> ownPort;
    std::unique_ptr<ChipClient> client;
    std::unique_ptr<plan::ClientChip> chip;
    std::unique_ptr<plan::Programmer> programmer;
    std::unique_ptr<ChipMapper> mapper;
};

PlanWindow::PlanWindow(QWidget* parent) : PlanWindow(Platform{}, parent) {}

PlanWindow::PlanWindow(Platform platform, QWidget* parent) : QWidget(parent) {
    port_ = platform.port;
    player_ = platform.player;
    audio_ = platform.audio;
    boxes_ = platform.boxes;
    if (!boxes_) {
        ownBoxes_ = std::make_unique<QtMessageBoxes>(this);
        boxes_ = ownBoxes_.get();
    }
    dialogs_ = platform.dialogs;
    if (!dialogs_) {
        ownDialogs_ = std::make_unique<QtPlanDialogs>(this);
        dialogs_ = ownDialogs_.get();
    }
    build();
    nameControls();
    connectControls();
    clock_.setInterval(ClockIntervalMs);
    connect(&clock_, &QTimer::timeout, this, &PlanWindow::clockTick);
    relayout();
    setStatus(tr("添加音频文件或打开一个计划文件。"));
}

PlanWindow::~PlanWindow() {
    closeSession();
}

void PlanWindow::build() {
    setWindowTitle(tr("Tamberlo 录音计划"));
    setAcceptDrops(true);

    // The chip: port, model, sample rate.
    auto* chipBox = new QGroupBox(tr("芯片"), this);
    chipBox->setObjectName(QStringLiteral("chip_frame"));
    auto* chipGrid = new QHBoxLayout(chipBox);
    portBox_ = new QComboBox(chipBox);
    portBox_->setEditable(true);
    for (int n = 1; n <= 16; ++n)
        portBox_->addItem(QString::number(n));
    portBox_->setCurrentText(QStringLiteral("1"));
    portBox_->setMinimumContentsLength(3);
    modelBox_ = new QComboBox(chipBox);
    modelBox_->addItem(tr("自动"));
    modelBox_->addItems(plan::chipModelNames());
    modelBox_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    modelBox_->setItemData(0, tr("录音或校验时读芯片的器件 ID"), Qt::ToolTipRole);
    rateBox_ = new QComboBox(chipBox);
    rateBox_->addItems(plan::sampleRateNames());
    // Neither list box shrinks below its longest entry ("ISD17240", "12000").
    modelBox_->setMinimumContentsLength(8);
    rateBox_->setMinimumContentsLength(5);
    rateBox_->setCurrentText(QString::number(plan::Plan::DefaultSampleRate));
    auto* portLabel = new QLabel(tr("串口"), chipBox);
    auto* modelLabel = new QLabel(tr("型号"), chipBox);
    auto* rateLabel = new QLabel(tr("采样率"), chipBox);
    portLabel->setBuddy(portBox_);
    modelLabel->setBuddy(modelBox_);
    rateLabel->setBuddy(rateBox_);
    chipGrid->addWidget(portLabel);
    chipGrid->addWidget(portBox_);
    chipGrid->addSpacing(8);
    chipGrid->addWidget(modelLabel);
    chipGrid->addWidget(modelBox_);
    chipGrid->addSpacing(8);
    chipGrid->addWidget(rateLabel);
    chipGrid->addWidget(rateBox_);
    chipGrid->addWidget(new QLabel(QStringLiteral("Hz"), chipBox));

    // The plan file.
    auto* fileBox = new QGroupBox(tr("计划文件"), this);
    fileBox->setObjectName(QStringLiteral("file_frame"));
    auto* fileRow = new QHBoxLayout(fileBox);
    openPlan_ = makeButton(tr("打开"), fileBox);
    savePlan_ = makeButton(tr("保存"), fileBox);
    savePlanAs_ = makeButton(tr("另存为"), fileBox);
    fileRow->addWidget(openPlan_);
    fileRow->addWidget(savePlan_);
    fileRow->addWidget(savePlanAs_);

    // The address table for firmware.
    auto* exportBox = new QGroupBox(tr("导出地址表"), this);
    exportBox->setObjectName(QStringLiteral("export_frame"));
    auto* exportRow = new QHBoxLayout(exportBox);
    exportHeader_ = makeButton(tr("头文件 .h"), exportBox);
    exportCsv_ = makeButton(QStringLiteral("CSV"), exportBox);
    exportJson_ = makeButton(QStringLiteral("JSON"), exportBox);
    exportRow->addWidget(exportHeader_);
    exportRow->addWidget(exportCsv_);
    exportRow->addWidget(exportJson_);

    auto* top = new QHBoxLayout;
    top->addWidget(chipBox);
    top->addWidget(fileBox);
    top->addWidget(exportBox);
    top->addStretch(1);

    // The messages.
    auto* messagesBox = new QGroupBox(tr("录音段"), this);
    messagesBox->setObjectName(QStringLiteral("messages_frame"));
    auto* messagesRow = new QHBoxLayout(messagesBox);
    model_ = new PlanTableModel(this);
    view_ = new QTableView(messagesBox);
    view_->setModel(model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setDragEnabled(true);
    view_->setAcceptDrops(true);
    view_->setDropIndicatorShown(true);
    view_->setDragDropMode(QAbstractItemView::DragDrop);
    view_->setDragDropOverwriteMode(false);
    view_->setDefaultDropAction(Qt::MoveAction);
    view_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::SelectedClicked);
    view_->verticalHeader()->setVisible(false);
    view_->setAlternatingRowColors(true);
    QHeaderView* header = view_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(PlanTableModel::Name, QHeaderView::Interactive);
    header->setSectionResizeMode(PlanTableModel::File, QHeaderView::Stretch);
    header->resizeSection(PlanTableModel::Name, 140);
    header->setMinimumSectionSize(48);
    auto* editButtons = new QVBoxLayout;
    addFiles_ = makeButton(tr("添加文件…"), messagesBox);
    remove_ = makeButton(tr("删除"), messagesBox);
    moveUp_ = makeButton(tr("上移"), messagesBox);
    moveDown_ = makeButton(tr("下移"), messagesBox);
    for (QPushButton* b : {addFiles_, remove_, moveUp_, moveDown_})
        editButtons->addWidget(b);
    editButtons->addStretch(1);
    messagesRow->addWidget(view_, 1);
    messagesRow->addLayout(editButtons);

    // The chip's memory.
    auto* memoryBox = new QGroupBox(tr("芯片存储"), this);
    memoryBox->setObjectName(QStringLiteral("memory_frame"));
    auto* memoryColumn = new QVBoxLayout(memoryBox);
    bar_ = new MemoryBar(memoryBox);
    usage_ = new QLabel(memoryBox);
    memoryColumn->addWidget(bar_);
    memoryColumn->addWidget(usage_);

    // Recording and verifying.
    auto* runBox = new QGroupBox(tr("录音"), this);
    runBox->setObjectName(QStringLiteral("run_frame"));
    auto* runGrid = new QGridLayout(runBox);
    eraseFirst_ = new QCheckBox(tr("先擦除全部"), runBox);
    recordAll_ = makeButton(tr("全部录音"), runBox);
    QFont bold = recordAll_->font();
    bold.setBold(true);
    recordAll_->setFont(bold);
    stop_ = makeButton(tr("停止"), runBox);
    continue_ = makeButton(tr("从这里继续"), runBox);
    verify_ = makeButton(tr("校验"), runBox);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(eraseFirst_);
    buttons->addWidget(recordAll_);
    buttons->addWidget(stop_);
    buttons->addWidget(continue_);
    buttons->addSpacing(16);
    buttons->addWidget(verify_);
    buttons->addStretch(1);
    // The output the files play on: often a USB sound card cabled to the board's line-in
    // rather than the default output.
    outputBox_ = new AudioOutputBox(runBox);
    auto* outputLabel = new QLabel(tr("声音输出"), runBox);
    outputLabel->setObjectName(QStringLiteral("output_label"));
    outputLabel->setBuddy(outputBox_);
    buttons->addWidget(outputLabel);
    buttons->addWidget(outputBox_);
    messageProgress_ = new QProgressBar(runBox);
    planProgress_ = new QProgressBar(runBox);
    for (QProgressBar* p : {messageProgress_, planProgress_}) {
        p->setRange(0, 1000);
        p->setValue(0);
        p->setTextVisible(false);
    }
    elapsedText_ = new QLabel(runBox);
    remainingText_ = new QLabel(runBox);
    status_ = new QLabel(runBox);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setMinimumHeight(status_->fontMetrics().lineSpacing() * 3);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    runGrid->addLayout(buttons, 0, 0, 1, 4);
    runGrid->addWidget(new QLabel(tr("当前段"), runBox), 1, 0);
    runGrid->addWidget(messageProgress_, 1, 1);
    runGrid->addWidget(new QLabel(tr("已用时"), runBox), 1, 2);
    runGrid->addWidget(elapsedText_, 1, 3);
    runGrid->addWidget(new QLabel(tr("全部"), runBox), 2, 0);
    runGrid->addWidget(planProgress_, 2, 1);
    runGrid->addWidget(new QLabel(tr("剩余"), runBox), 2, 2);
    runGrid->addWidget(remainingText_, 2, 3);
    runGrid->addWidget(status_, 3, 0, 1, 4);
    runGrid->setColumnStretch(1, 1);
    elapsedText_->setMinimumWidth(
        elapsedText_->fontMetrics().horizontalAdvance(QStringLiteral("00:00")) + 8);
    elapsedText_->setText(clockText(0));
    remainingText_->setText(clockText(0));

    planFile_ = new QLabel(this);
    planFile_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* column = new QVBoxLayout(this);
    column->addLayout(top);
    column->addWidget(planFile_);
    column->addWidget(messagesBox, 1);
    column->addWidget(memoryBox);
    column->addWidget(runBox);
    // The layout sets the smallest size (every box and caption whole); the window opens a
    // little larger, for the table.
    resize(1000, 680);
}

void PlanWindow::nameControls() {
    setObjectName(QStringLiteral("PlanWindow"));
    const auto name = [](QWidget* w, const char* objectName, bool accessible) {
        w->setObjectName(QString::fromLatin1(objectName));
        if (accessible)
            w->setAccessibleName(QString::fromLatin1(objectName));
    };
    // Controls without a caption of their own carry their name as accessible name too.
    name(portBox_, "port_box", true);
    name(modelBox_, "model_box", true);
    name(rateBox_, "rate_box", true);
    name(view_, "messages", true);
    name(bar_, "memory_bar", true);
    name(usage_, "usage_text", true);
    name(planFile_, "plan_file_text", true);
    name(status_, "status_text", true);
    name(elapsedText_, "elapsed_time", true);
    name(remainingText_, "remaining_time", true);
    name(messageProgress_, "message_progress", true);
    name(planProgress_, "plan_progress", true);
    name(eraseFirst_, "erase_first", false);
    name(addFiles_, "add_files", false);
    name(remove_, "remove_message", false);
    name(moveUp_, "move_up", false);
    name(moveDown_, "move_down", false);
    name(openPlan_, "open_plan", false);
    name(savePlan_, "save_plan", false);
    name(savePlanAs_, "save_plan_as", false);
    name(recordAll_, "record_all", false);
    name(stop_, "stop_recording", false);
    name(continue_, "continue_from", false);
    name(verify_, "verify", false);
    name(exportHeader_, "export_header", false);
    name(exportCsv_, "export_csv", false);
    name(exportJson_, "export_json", false);
}

void PlanWindow::connectControls() {
    connect(addFiles_, &QPushButton::clicked, this, &PlanWindow::chooseAddFiles);
    connect(remove_, &QPushButton::clicked, this, [this] { removeRows(selectedRows()); });
    connect(moveUp_, &QPushButton::clicked, this, [this] { moveSelection(-1); });
    connect(moveDown_, &QPushButton::clicked, this, [this] { moveSelection(1); });
    connect(openPlan_, &QPushButton::clicked, this, &PlanWindow::chooseOpenPlan);
    connect(savePlan_, &QPushButton::clicked, this, &PlanWindow::savePlan);
    connect(savePlanAs_, &QPushButton::clicked, this, &PlanWindow::savePlanAs);
    connect(recordAll_, &QPushButton::clicked, this, &PlanWindow::recordAll);
    connect(stop_, &QPushButton::clicked, this, &PlanWindow::stopRecording);
    connect(continue_, &QPushButton::clicked, this, &PlanWindow::continueFromHere);
    connect(verify_, &QPushButton::clicked, this, &PlanWindow::verify);
    connect(exportHeader_, &QPushButton::clicked, this,
            [this] { chooseExport(plan::ExportFormat::Header); });
    connect(exportCsv_, &QPushButton::clicked, this,
            [this] { chooseExport(plan::ExportFormat::Csv); });
    connect(exportJson_, &QPushButton::clicked, this,
            [this] { chooseExport(plan::ExportFormat::Json); });
    connect(modelBox_, &QComboBox::currentIndexChanged, this, [this](int index) {
        plan_.model = index <= 0 ? QStringLiteral("auto") : modelBox_->itemText(index);
        relayout();
    });
    connect(rateBox_, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        plan_.sampleRate = text.toInt();
        relayout();
    });
    connect(outputBox_, &AudioOutputBox::chosen, this,
            [this](const QByteArray& id) { plan_.output = QString::fromUtf8(id); });
    // The model's requests come back through the event loop, after the view's drop is over.
    connect(model_, &PlanTableModel::renameRequested, this, &PlanWindow::renameMessage,
            Qt::QueuedConnection);
    connect(model_, &PlanTableModel::moveRequested, this, &PlanWindow::moveRows,
            Qt::QueuedConnection);
    connect(model_, &PlanTableModel::filesDropped, this, &PlanWindow::addFiles,
            Qt::QueuedConnection);
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PlanWindow::updateControls);
    // The tool tips name the device each port number stands for when they are looked at.
    portBox_->installEventFilter(this);
}

bool PlanWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == portBox_ &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress ||
         event->type() == QEvent::ToolTip))
        refreshPortToolTips();
    return QWidget::eventFilter(watched, event);
}

void PlanWindow::refreshPortToolTips() {
    const QList<SerialDevice> devices = presentSerialDevices();
    for (int i = 0; i < portBox_->count(); ++i)
        portBox_->setItemData(i, portToolTip(portBox_->itemText(i), devices), Qt::ToolTipRole);
    portBox_->setToolTip(portToolTip(portBox_->currentText(), devices));
}

// --- The plan -----------------------------------------------------------------------------

const plan::ChipMemory* PlanWindow::chosenChip() const {
    return plan_.autoModel() ? detectedChip_ : plan::findChipMemory(plan_.model);
}

void PlanWindow::measureMissing() {
    for (const plan::PlanMessage& m : plan_.messages) {
        const QFileInfo info(m.path);
        const qint64 size = info.exists() ? info.size() : -1;
        const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
        const auto known = lengths_.constFind(m.path);
        if (known != lengths_.cend() && known->size == size && known->modified == modified)
            continue;
        if (!player_) {
            ownPlayer_ = std::make_unique<QtAudioPlayer>();
            player_ = ownPlayer_.get();
        }
        lengths_.insert(m.path, {plan::measureFile(m.path, *player_), size, modified});
    }
}

QList<plan::MeasuredFile> PlanWindow::filesOf(const plan::Plan& p) const {
    QList<plan::MeasuredFile> files;
    for (const plan::PlanMessage& m : p.messages)
        files.append(lengths_.value(m.path).file);
    return files;
}

void PlanWindow::relayout() {
    measureMissing();
    measured_ = filesOf(plan_);
    layout_ = plan::allocate(plan_, measured_, chosenChip());
    model_->setLayout(layout_, measured_);
    bar_->setPlanLayout(layout_, plan_.firstRow);

    QString usage;
    if (layout_.chip) {
        const double usedS = layout_.row.msOf(layout_.rowsUsed) / 1000.0;
        const double haveS = layout_.row.msOf(layout_.rowsAvailable()) / 1000.0;
        usage = tr("%1：已用 %2 / %3 行 (%4 s / %5 s)，%6 段")
                    .arg(layout_.chip->name)
                    .arg(layout_.rowsUsed)
                    .arg(layout_.rowsAvailable())
                    .arg(usedS, 0, 'f', 1)
                    .arg(haveS, 0, 'f', 1)
                    .arg(layout_.messages.size());
        if (bar_->missingRows() > 0)
            usage += tr("——放不下，缺 %1 行").arg(bar_->missingRows());
    } else {
        usage = tr("型号自动：已用 %1 行 (%2 s)，%3 段")
                    .arg(layout_.rowsUsed)
                    .arg(layout_.row.msOf(layout_.rowsUsed) / 1000.0, 0, 'f', 1)
                    .arg(layout_.messages.size());
    }
    usage_->setText(usage);
    usage_->setStyleSheet(bar_->missingRows() > 0 ? QStringLiteral("color: #C00000;") : QString());
    planFile_->setText(planPath_.isEmpty()
                           ? tr("计划文件：未保存")
                           : tr("计划文件：%1").arg(QFileInfo(planPath_).fileName()));
    planFile_->setToolTip(QDir::toNativeSeparators(planPath_));
    updateControls();
}

void PlanWindow::showModel() {
    const QSignalBlocker blockModel(modelBox_);
    const QSignalBlocker blockRate(rateBox_);
    outputBox_->choose(plan_.output.toUtf8());
    const int index =
        plan_.autoModel() ? 0 : modelBox_->findText(plan_.model, Qt::MatchFixedString);
    modelBox_->setCurrentIndex(std::max(0, index));
    if (rateBox_->findText(QString::number(plan_.sampleRate)) < 0)
        rateBox_->addItem(QString::number(plan_.sampleRate));
    rateBox_->setCurrentText(QString::number(plan_.sampleRate));
}

void PlanWindow::addFiles(const QStringList& files, int before) {
    if (running_ || files.isEmpty())
        return;
    int at = before < 0 ? static_cast<int>(plan_.messages.size())
                        : std::min(before, static_cast<int>(plan_.messages.size()));
    const int first = at;
    for (const QString& f : files) {
        const QFileInfo info(f);
        plan::PlanMessage m;
        m.name = uniqueName(info.completeBaseName().isEmpty() ? info.fileName()
                                                              : info.completeBaseName(),
                            plan_.messages);
        m.path = QDir::cleanPath(info.absoluteFilePath());
        m.file = m.path;
        plan_.messages.insert(at++, m);
    }
    relayout();
    QList<int> added;
    for (int r = first; r < at; ++r)
        added.append(r);
    selectRows(added);
    setStatus(tr("已添加 %1 个文件。").arg(files.size()));
}

void PlanWindow::removeRows(QList<int> rows) {
    if (running_ || rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end(), std::greater<>());
    for (int r : rows) {
        if (r >= 0 && r < plan_.messages.size())
            plan_.messages.removeAt(r);
    }
    relayout();
}

void PlanWindow::moveRows(QList<int> rows, int before) {
    if (running_ || rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QList<plan::PlanMessage> moving;
    int at = std::clamp(before, 0, static_cast<int>(plan_.messages.size()));
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (*it < 0 || *it >= plan_.messages.size())
            continue;
        moving.prepend(plan_.messages.takeAt(*it));
        if (*it < at)
            --at;
    }
    QList<int> moved;
    for (const plan::PlanMessage& m : moving) {
        moved.append(at);
        plan_.messages.insert(at++, m);
    }
    relayout();
    selectRows(moved);
}

void PlanWindow::moveSelection(int delta) {
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    if (delta < 0 && rows.first() > 0)
        moveRows(rows, rows.first() - 1);
    else if (delta > 0 && rows.last() + 1 < plan_.messages.size())
        moveRows(rows, rows.last() + 2);
}

void PlanWindow::renameMessage(int row, const QString& name) {
    if (running_ || row < 0 || row >= plan_.messages.size())
        return;
    plan_.messages[row].name = name.trimmed();
    relayout();
}

QList<int> PlanWindow::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& i : view_->selectionModel()->selectedRows())
        rows.append(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void PlanWindow::selectRows(const QList<int>& rows) {
    QItemSelection selection;
    for (int r : rows)
        selection.select(model_->index(r, 0), model_->index(r, PlanTableModel::ColumnCount - 1));
    view_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.isEmpty())
        view_->scrollTo(model_->index(rows.first(), 0));
    updateControls();
}

void PlanWindow::updateControls() {
    const bool idle = !running_;
    const bool any = !plan_.messages.isEmpty();
    const QList<int> rows = selectedRows();
    for (QWidget* w : std::initializer_list<QWidget*>{portBox_, modelBox_, rateBox_, addFiles_,
                                                      openPlan_, eraseFirst_, outputBox_})
        w->setEnabled(idle);
    remove_->setEnabled(idle && !rows.isEmpty());
    moveUp_->setEnabled(idle && !rows.isEmpty() && rows.first() > 0);
    moveDown_->setEnabled(idle && !rows.isEmpty() && rows.last() + 1 < plan_.messages.size());
    savePlan_->setEnabled(idle && any);
    savePlanAs_->setEnabled(idle && any);
    for (QPushButton* b : {exportHeader_, exportCsv_, exportJson_})
        b->setEnabled(idle && any);
    recordAll_->setEnabled(idle && any);
    verify_->setEnabled(idle && any);
    stop_->setEnabled(running_ && session_ && session_->programmer);
    continue_->setEnabled(idle && resumeFrom_ > 0 && resumeFrom_ <= plan_.messages.size());
    continue_->setToolTip(resumeFrom_ > 0
                              ? tr("从第 %1 段继续录音，前面已录的段保持不变").arg(resumeFrom_)
                              : QString());
    view_->setDragEnabled(idle);
    view_->setEditTriggers(idle ? QAbstractItemView::DoubleClicked |
                                      QAbstractItemView::EditKeyPressed |
                                      QAbstractItemView::SelectedClicked
                                : QAbstractItemView::NoEditTriggers);
}

void PlanWindow::setStatus(const QString& text, bool fault) {
    status_->setText(text);
    status_->setStyleSheet(fault ? QStringLiteral("color: #C00000;") : QString());
}

QString PlanWindow::statusText() const {
    return status_->text();
}

void PlanWindow::showProblems(const QString& what, const QStringList& problems) {
    boxes_->show(what + QLatin1Char('\n') + problems.join(QLatin1Char('\n')), tr("录音计划"),
                 MessageIcon::Critical);
}

// --- Files ---------------------------------------------------------------------------------

void PlanWindow::chooseAddFiles() {
    addFiles(
        dialogs_->openFiles(tr("添加音频文件"), {tr("音频文件 (*.mp3 *.wav)"), tr("所有文件 (*)")}),
        -1);
}

void PlanWindow::chooseOpenPlan() {
    const QString path =
        dialogs_->openFile(tr("打开录音计划"), {tr("录音计划 (*.json)"), tr("所有文件 (*)")});
    if (!path.isEmpty())
        openPlanFile(path);
}

bool PlanWindow::openPlanFile(const QString& path) {
    QString error;
    std::optional<plan::Plan> read = plan::readPlan(path, &error);
    if (!read) {
        boxes_->show(tr("无法打开计划文件：\n%1").arg(error), tr("录音计划"),
                     MessageIcon::Critical);
        return false;
    }
    plan_ = *read;
    planPath_ = QFileInfo(path).absoluteFilePath();
    resumeFrom_ = 0;
    showModel();
    relayout();
    model_->clearStates();
    setStatus(tr("已打开 %1：%2 段。").arg(QFileInfo(path).fileName()).arg(plan_.messages.size()));
    return true;
}

bool PlanWindow::savePlanFile(const QString& path) {
    plan::Plan out = plan_;
    const QDir folder = QFileInfo(path).absoluteDir();
    for (plan::PlanMessage& m : out.messages)
        m.file = folder.relativeFilePath(m.path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(plan::planToJson(out)) < 0 ||
        !file.commit()) {
        boxes_->show(tr("无法保存计划文件 %1：%2").arg(path, file.errorString()), tr("录音计划"),
                     MessageIcon::Critical);
        return false;
    }
    plan_ = out;
    plan_.source = QFileInfo(path).absoluteFilePath();
    planPath_ = plan_.source;
    relayout();
    setStatus(tr("已保存 %1。").arg(QFileInfo(path).fileName()));
    return true;
}

void PlanWindow::savePlan() {
    if (planPath_.isEmpty())
        savePlanAs();
    else
        savePlanFile(planPath_);
}

void PlanWindow::savePlanAs() {
    const QString suggested = planPath_.isEmpty() ? QStringLiteral("plan.json") : planPath_;
    QString path = dialogs_->saveFile(tr("保存录音计划"), {tr("录音计划 (*.json)")}, suggested);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".json");
    savePlanFile(path);
}

void PlanWindow::chooseExport(plan::ExportFormat format) {
    const QString base =
        planPath_.isEmpty() ? QStringLiteral("prompts") : QFileInfo(planPath_).completeBaseName();
    QString suffix;
    QString filter;
    switch (format) {
    case plan::ExportFormat::Header:
        suffix = QStringLiteral("h");
        filter = tr("C 头文件 (*.h)");
        break;
    case plan::ExportFormat::Csv:
        suffix = QStringLiteral("csv");
        filter = tr("CSV 表格 (*.csv)");
        break;
    case plan::ExportFormat::Json:
        suffix = QStringLiteral("json");
        filter = tr("JSON (*.json)");
        break;
    }
    QString suggested = base + QLatin1Char('.') + suffix;
    if (!planPath_.isEmpty())
        suggested = QFileInfo(planPath_).absoluteDir().filePath(suggested);
    const QString path = dialogs_->saveFile(tr("导出地址表"), {filter}, suggested);
    if (!path.isEmpty())
        exportTo(path, format);
}

bool PlanWindow::exportTo(const QString& path, plan::ExportFormat format) {
    if (!layout_.ok()) {
        showProblems(tr("计划有问题，不能导出："), layout_.problems);
        return false;
    }
    const QString name =
        planPath_.isEmpty() ? QStringLiteral("prompts") : QFileInfo(planPath_).fileName();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(plan::exportLayout(layout_, format, name)) < 0 || !file.commit()) {
        boxes_->show(tr("无法写入 %1：%2").arg(path, file.errorString()), tr("导出地址表"),
                     MessageIcon::Critical);
        return false;
    }
    setStatus(tr("地址表已导出到 %1。").arg(QDir::toNativeSeparators(path)));
    return true;
}

// --- Drops on the window --------------------------------------------------------------------

void PlanWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!running_ && !PlanTableModel::droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void PlanWindow::dropEvent(QDropEvent* event) {
    const QStringList files = PlanTableModel::droppedFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    addFiles(files, -1);
}

void PlanWindow::closeEvent(QCloseEvent* event) {
    // A recording is stopped first (STOP sent, the messages so far kept); the window closes
    // once the run has ended.
    if (running_ && session_ && session_->programmer) {
        closeAfterRun_ = true;
        stopRecording();
        event->ignore();
        return;
    }
    if (player_)
        player_->command(PlayerCommand::Close);
    event->accept();
}

// --- Runs ------------------------------------------------------------------------------------

bool PlanWindow::openSession() {
    closeSession();
    QString reason;
    const std::optional<std::int16_t> number = parsePortNumber(portBox_->currentText(), &reason);
    if (!number) {
        boxes_->show(tr("串口号 \"%1\" 无效：%2").arg(portBox_->currentText(), reason),
                     tr("串口状态"), MessageIcon::Critical);
        return false;
    }
    auto session = std::make_unique<Session>();
    session->port = port_;
    if (!session->port) {
        session->ownPort = std::make_unique<QtSerialPort>();
        session->port = session->ownPort.get();
    }
    session->port->setPortNumber(*number);
    if (!session->port->open()) {
        boxes_->show(tr("串口 %1 打不开：%2").arg(*number).arg(session->port->errorText()),
                     tr("串口状态"), MessageIcon::Critical);
        return false;
    }
    session->client = std::make_unique<ChipClient>(*session->port);
    session->chip = std::make_unique<plan::ClientChip>(*session->client);
    session_ = std::move(session);
    return true;
}

void PlanWindow::closeSession() {
    if (!session_)
        return;
    // Completions still queued come back to their owners before they go.
    if (session_->client)
        session_->client->cancelAll();
    std::unique_ptr<Session> s = std::move(session_);
    s->programmer.reset();
    s->mapper.reset();
    s->chip.reset();
    s->client.reset();
    if (s->port->isOpen())
        s->port->close();
}

void PlanWindow::endRun() {
    running_ = false;
    clock_.stop();
    clockTick();
    model_->setCurrentRow(-1);
    updateControls();
    // The session goes once the engine's signal that brought us here has returned.
    QTimer::singleShot(0, this, [this] {
        if (!running_)
            closeSession();
        emit runFinished();
        if (closeAfterRun_ && !running_)
            close();
    });
}

void PlanWindow::recordAll() {
    startRecording(1);
}

void PlanWindow::continueFromHere() {
    if (resumeFrom_ > 0)
        startRecording(resumeFrom_);
}

void PlanWindow::startRecording(int from) {
    if (running_)
        return;
    if (plan_.messages.isEmpty()) {
        boxes_->show(tr("计划中还没有录音段"), tr("录音计划"), MessageIcon::Information);
        return;
    }
    // A file edited since it was measured is measured again: the run records what is on disk.
    relayout();
    if (!layout_.ok()) {
        showProblems(tr("计划有问题，什么都没有录："), layout_.problems);
        return;
    }
    const bool erase = from == 1 && eraseFirst_->isChecked();
    if (erase && !dialogs_->ask(tr("录音前要擦除芯片中的全部内容（包括计划以外的段）。\n继续吗？"),
                                tr("擦除全部")))
        return;
    if (!openSession())
        return;
    if (!audio_) {
        ownAudio_ = std::make_unique<plan::QtRecordingAudio>();
        audio_ = ownAudio_.get();
    }
    // The run plays on the output the plan names (empty: the default output). The recording
    // audio made here is the Qt one; one given from outside is not told yet.
    if (ownAudio_)
        static_cast<plan::QtRecordingAudio*>(ownAudio_.get())
            ->setOutputDevice(plan_.output.toUtf8());

    for (int r = 0; r < plan_.messages.size(); ++r)
        model_->setRowState(r,
                            r + 1 < from ? model_->rowState(r) : PlanTableModel::RowState::Waiting);
    runAudioMs_ = 0;
    for (int r = from - 1; r < layout_.messages.size(); ++r)
        runAudioMs_ += layout_.messages[r].lengthMs;
    doneAudioMs_ = currentPosMs_ = currentLenMs_ = 0;
    messagesLeft_ = static_cast<int>(layout_.messages.size()) - from + 1;
    messageProgress_->setValue(0);
    planProgress_->setValue(0);
    resumeFrom_ = 0;
    outcome_ = {};

    plan::ProgramOptions options;
    options.eraseFirst = erase;
    options.from = from;
    auto* programmer = new plan::Programmer(plan_, measured_, *session_->chip, *audio_, options);
    session_->programmer.reset(programmer);
    // The engine's step lines are the command line's; the window says the same in its own
    // words as the messages start and end.
    connect(programmer, &plan::Programmer::messageStarted, this, &PlanWindow::onMessageStarted);
    connect(programmer, &plan::Programmer::messageProgress, this, &PlanWindow::onMessageProgress);
    connect(programmer, &plan::Programmer::messageDone, this, &PlanWindow::onMessageDone);
    connect(programmer, &plan::Programmer::finished, this, &PlanWindow::onProgramFinished);
    connect(session_->chip.get(), &plan::ClientChip::deviceLost, programmer,
            &plan::Programmer::deviceGone);
    connect(programmer, &plan::Programmer::notice, this,
            [this](const QString& text) { setStatus(text); });

    running_ = true;
    elapsed_.start();
    clock_.start();
    updateControls();
    setStatus(erase ? tr("正在擦除芯片……") : tr("正在连接芯片……"));
    programmer->start();
}

void PlanWindow::stopRecording() {
    if (running_ && session_ && session_->programmer) {
        setStatus(tr("正在停止……"));
        session_->programmer->interrupt(QStringLiteral("stopped by the operator"));
    }
}

void PlanWindow::onMessageStarted(int number, int count, const plan::PlacedMessage& message) {
    // The engine has read the chip's model by now.
    if (session_ && session_->programmer && plan_.autoModel()) {
        const plan::Layout& engine = session_->programmer->layout();
        if (engine.chip && (!detectedChip_ || detectedChip_->name != engine.chip->name)) {
            detectedChip_ = plan::findChipMemory(engine.chip->deviceId);
            relayout();
        }
    }
    const int row = number - 1;
    model_->setCurrentRow(row);
    model_->setRowState(row, PlanTableModel::RowState::Recording);
    view_->scrollTo(model_->index(row, 0));
    currentPosMs_ = 0;
    currentLenMs_ = message.lengthMs;
    messageProgress_->setValue(0);
    setStatus(tr("正在录第 %1 段（共 %2 段）：%3，行 %4–%5")
                  .arg(number)
                  .arg(count)
                  .arg(message.name, plan::rowText(message.start), plan::rowText(message.end)));
}

void PlanWindow::onMessageProgress(int, std::int64_t positionMs, std::int64_t lengthMs) {
    currentPosMs_ = positionMs;
    currentLenMs_ = lengthMs;
    messageProgress_->setValue(
        lengthMs > 0 ? static_cast<int>(std::min<std::int64_t>(1000, positionMs * 1000 / lengthMs))
                     : 0);
    clockTick();
}

void PlanWindow::onMessageDone(const plan::MessageTiming& timing) {
    const int row = timing.number - 1;
    model_->setRowState(row, PlanTableModel::RowState::Done);
    doneAudioMs_ += layout_.messages.value(row).lengthMs;
    currentPosMs_ = currentLenMs_ = 0;
    messagesLeft_ = std::max(0, messagesLeft_ - 1);
    messageProgress_->setValue(1000);
    clockTick();
    if (row + 1 == layout_.messages.size())
        setStatus(tr("全部录完，正在读回芯片中的段（map）……"));
}

void PlanWindow::clockTick() {
    elapsedText_->setText(clockText(elapsed_.isValid() ? elapsed_.elapsed() : 0));
    const std::int64_t doneMs = doneAudioMs_ + std::min(currentPosMs_, currentLenMs_);
    const std::int64_t remaining = running_ ? std::max<std::int64_t>(0, runAudioMs_ - doneMs) +
                                                  std::int64_t(messagesLeft_) * OverheadPerMessageMs
                                            : 0;
    remainingText_->setText(clockText(remaining));
    if (runAudioMs_ > 0)
        planProgress_->setValue(
            static_cast<int>(std::min<std::int64_t>(1000, doneMs * 1000 / runAudioMs_)));
}

void PlanWindow::learnModel(std::uint8_t deviceId) {
    const plan::ChipMemory* chip = plan::findChipMemory(deviceId);
    if (chip && plan_.autoModel() && chip != detectedChip_) {
        detectedChip_ = chip;
        relayout();
    }
}

void PlanWindow::onProgramFinished(const plan::ProgramOutcome& outcome) {
    outcome_ = outcome;
    if (outcome.layout.chip)
        learnModel(outcome.layout.chip->deviceId);
    using Kind = plan::ProgramOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Done:
        showChecks(outcome.chipStarts);
        planProgress_->setValue(1000);
        setStatus(
            tr("全部录完：%1 段，芯片中的段与计划一致。").arg(outcome.complete.size()) +
            (outcome.notes.isEmpty() ? QString() : QLatin1Char('\n') + outcome.notes.join('\n')));
        break;
    case Kind::Mismatch:
        showChecks(outcome.chipStarts);
        setStatus(tr("录完了，但芯片与计划不一致：\n%1").arg(outcome.mismatches.join('\n')), true);
        break;
    case Kind::PlanRefused:
        for (int r = 0; r < plan_.messages.size(); ++r)
            if (model_->rowState(r) == PlanTableModel::RowState::Waiting)
                model_->setRowState(r, PlanTableModel::RowState::None);
        setStatus(tr("什么都没有录：\n%1").arg(outcome.problems.join('\n')), true);
        break;
    case Kind::Fault:
        for (int r = 0; r < plan_.messages.size(); ++r) {
            if (model_->rowState(r) == PlanTableModel::RowState::Recording ||
                model_->rowState(r) == PlanTableModel::RowState::Waiting)
                model_->setRowState(r, r + 1 == outcome.failedMessage
                                           ? PlanTableModel::RowState::Failed
                                           : PlanTableModel::RowState::None);
        }
        resumeFrom_ = outcome.failedMessage;
        // The command line's own words under a line that says what the button does.
        setStatus((resumeFrom_ > 0 ? tr("录音中断，可从第 %1 段继续：").arg(resumeFrom_)
                                   : tr("录音中断：")) +
                      QLatin1Char('\n') + outcome.error,
                  true);
        break;
    }
    endRun();
}

void PlanWindow::verify() {
    if (running_ || plan_.messages.isEmpty())
        return;
    if (!openSession())
        return;
    model_->clearStates();
    planProgress_->setValue(0);
    messageProgress_->setValue(0);
    runAudioMs_ = doneAudioMs_ = currentPosMs_ = currentLenMs_ = 0;
    messagesLeft_ = 0;
    session_->mapper = std::make_unique<ChipMapper>(*session_->client);
    connect(session_->mapper.get(), &ChipMapper::progress, this, [this](int found, int bound) {
        planProgress_->setValue(bound > 0 ? std::min(1000, found * 1000 / bound) : 0);
        setStatus(tr("正在读芯片中的段：已找到 %1 段……").arg(found));
    });
    connect(session_->mapper.get(), &ChipMapper::finished, this, &PlanWindow::onVerified);
    running_ = true;
    elapsed_.start();
    clock_.start();
    updateControls();
    setStatus(tr("正在读芯片中的段（map）……"));
    session_->mapper->start();
}

void PlanWindow::onVerified(const MessageMap& map) {
    if (!map.ok()) {
        setStatus(tr("校验没有完成：%1").arg(map.errorText), true);
        endRun();
        return;
    }
    if (map.model)
        learnModel(map.model->id);
    QList<int> starts;
    for (std::uint16_t s : map.starts)
        starts.append(s);
    showChecks(starts);
    planProgress_->setValue(1000);
    endRun();
}

void PlanWindow::showChecks(const QList<int>& chipStarts) {
    const QList<MessageCheck> checks = checkMessages(layout_, chipStarts);
    int found = 0;
    int missing = 0;
    int moved = 0;
    for (int r = 0; r < checks.size(); ++r) {
        switch (checks[r].state) {
        case MessageCheck::State::Found:
            ++found;
            model_->setRowState(r, PlanTableModel::RowState::Found);
            break;
        case MessageCheck::State::Missing:
            ++missing;
            model_->setRowState(r, PlanTableModel::RowState::Missing);
            break;
        case MessageCheck::State::Moved:
            ++moved;
            model_->setRowState(r, PlanTableModel::RowState::Moved,
                                tr("（芯片 %1）").arg(plan::rowText(checks[r].chipStart)));
            break;
        }
    }
    const QList<int> extra = unplannedStarts(layout_, chipStarts);
    QString text = tr("芯片中有 %1 段：找到 %2，缺失 %3，移位 %4")
                       .arg(chipStarts.size())
                       .arg(found)
                       .arg(missing)
                       .arg(moved);
    if (!extra.isEmpty()) {
        QStringList rows;
        for (int s : extra)
            rows << plan::rowText(s);
        text += tr("；计划外的段：%1").arg(rows.join(QLatin1String(", ")));
    }
    setStatus(text + tr("。"), missing + moved > 0);
}

} // namespace tamberlo::planwin

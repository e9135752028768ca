#include "plan/PlanDocument.h"

#include "audio/QtAudioPlayer.h"
#include "plan/Measure.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

namespace tamberlo::plan {

PlanDocument::PlanDocument(AudioPlayer* player, QObject* parent)
    : QObject(parent), player_(player) {}

PlanDocument::~PlanDocument() = default;

const ChipModel* PlanDocument::chosenChip() const {
    return plan_.autoModel() ? detectedChip_ : plannedChip(plan_);
}

QString PlanDocument::uniqueName(const QString& wanted, const QList<PlanMessage>& messages) {
    const auto taken = [&messages](const QString& name) {
        return std::any_of(messages.begin(), messages.end(),
                           [&name](const PlanMessage& m) { return m.name == name; });
    };
    if (!taken(wanted))
        return wanted;
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1_%2").arg(wanted).arg(n);
        if (!taken(candidate))
            return candidate;
    }
}

QList<int> PlanDocument::addFiles(const QStringList& files, int before) {
    const int size = static_cast<int>(plan_.messages.size());
    int at = before < 0 ? size : std::min(before, size);
    QList<int> added;
    // Named and resolved as the command line's plan of files; kept by absolute path until
    // the plan is saved.
    for (PlanMessage m : planFromFiles(files).messages) {
        m.name = uniqueName(m.name, plan_.messages);
        m.file = m.path;
        added.append(at);
        plan_.messages.insert(at++, m);
    }
    relayout();
    return added;
}

void PlanDocument::removeRows(QList<int> rows) {
    std::sort(rows.begin(), rows.end(), std::greater<>());
    for (int r : rows) {
        if (r >= 0 && r < plan_.messages.size())
            plan_.messages.removeAt(r);
    }
    relayout();
}

QList<int> PlanDocument::moveRows(QList<int> rows, int before) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QList<PlanMessage> moving;
    int at = std::clamp(before, 0, static_cast<int>(plan_.messages.size()));
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (*it < 0 || *it >= plan_.messages.size())
            continue;
        moving.prepend(plan_.messages.takeAt(*it));
        if (*it < at)
            --at;
    }
    QList<int> moved;
    for (const PlanMessage& m : moving) {
        moved.append(at);
        plan_.messages.insert(at++, m);
    }
    relayout();
    return moved;
}

bool PlanDocument::renameMessage(int row, const QString& name) {
    if (row < 0 || row >= plan_.messages.size())
        return false;
    plan_.messages[row].name = name.trimmed();
    relayout();
    return true;
}

void PlanDocument::setModel(const QString& model) {
    plan_.model = model;
    relayout();
}

void PlanDocument::setSampleRate(int rate) {
    plan_.sampleRate = rate;
    relayout();
}

void PlanDocument::learnModel(std::uint8_t deviceId) {
    const ChipModel* chip = findChipModel(deviceId);
    if (chip && plan_.autoModel() && chip != detectedChip_) {
        detectedChip_ = chip;
        relayout();
    }
}

bool PlanDocument::open(const QString& path, QString* error) {
    std::optional<Plan> read = readPlan(path, error);
    if (!read)
        return false;
    plan_ = *read;
    path_ = QFileInfo(path).absoluteFilePath();
    relayout();
    return true;
}

bool PlanDocument::save(const QString& path, QString* error) {
    Plan out = plan_;
    const QDir folder = QFileInfo(path).absoluteDir();
    for (PlanMessage& m : out.messages)
        m.file = folder.relativeFilePath(m.path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(planToJson(out)) < 0 || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    plan_ = out;
    plan_.source = QFileInfo(path).absoluteFilePath();
    path_ = plan_.source;
    relayout();
    return true;
}

QString PlanDocument::exportName() const {
    return path_.isEmpty() ? QStringLiteral("prompts") : QFileInfo(path_).fileName();
}

bool PlanDocument::exportTo(const QString& path, ExportFormat format, QString* error) const {
    if (!layout_.ok()) {
        if (error)
            *error = layout_.problems.join(QLatin1Char('\n'));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(exportLayout(layout_, format, exportName())) < 0 || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

void PlanDocument::measureChanged() {
    for (const PlanMessage& m : plan_.messages) {
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
        lengths_.insert(m.path, {measureFile(m.path, *player_), size, modified});
    }
}

void PlanDocument::relayout() {
    measureChanged();
    measured_.clear();
    for (const PlanMessage& m : plan_.messages)
        measured_.append(lengths_.value(m.path).file);
    layout_ = allocate(plan_, measured_, chosenChip());
    emit changed();
}

} // namespace tamberlo::plan

#pragma once

#include "plan/Allocation.h"
#include "plan/Export.h"
#include "plan/Plan.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <memory>

namespace tamberlo {
class AudioPlayer;
}

namespace tamberlo::plan {

// The plan being edited, laid out again after every change: messages added, removed, moved
// or renamed, the model, sample rate or output chosen, a plan file opened or saved, the
// model learnt from the chip. Each file's length is measured once and kept by path with
// the file's size and modification time, so a file edited on disk is measured again at the
// next layout.
class PlanDocument : public QObject {
    Q_OBJECT
public:
    // `player` measures the files; null: a Qt player is made when the first file is measured.
    explicit PlanDocument(AudioPlayer* player = nullptr, QObject* parent = nullptr);
    ~PlanDocument() override;

    const Plan& plan() const { return plan_; }
    const Layout& layout() const { return layout_; }
    const QList<MeasuredFile>& measured() const { return measured_; }
    // The plan file (absolute), or empty for a plan not saved yet.
    QString path() const { return path_; }
    // The model the plan is laid out for: the plan's own, or for "auto" the one learnt from
    // the chip (null before).
    const ChipModel* chosenChip() const;
    // The player that measures the files; null before the first file is measured.
    AudioPlayer* player() const { return player_; }

    // Adds one message per file before row `before` (-1 or past the end: at the end), named
    // by the file's base name made unique; returns the rows they got.
    QList<int> addFiles(const QStringList& files, int before = -1);
    void removeRows(QList<int> rows);
    // Moves the rows (any order) so that they stand, in their order, before row `before`;
    // returns the rows they stand at now.
    QList<int> moveRows(QList<int> rows, int before);
    // The name as typed, without surrounding blanks; false for a row that is not there.
    bool renameMessage(int row, const QString& name);
    // "auto" or a model name.
    void setModel(const QString& model);
    void setSampleRate(int rate);
    // The output the files play on while the chip records; nothing to lay out.
    void setOutput(const QString& output) { plan_.output = output; }
    // The chip said which model it is: a plan on "auto" is laid out for it.
    void learnModel(std::uint8_t deviceId);

    // Reads a plan file; false with the engine's reason ("plan.json: message 3: …").
    bool open(const QString& path, QString* error);
    // Writes the plan file with file names relative to its folder; false with the reason.
    bool save(const QString& path, QString* error);
    // The name the address table is exported under: the plan file's, or "prompts".
    QString exportName() const;
    // Writes the address table of the current layout; false with the reason.
    bool exportTo(const QString& path, ExportFormat format, QString* error) const;

    // Measures what changed on disk and lays the plan out again.
    void relayout();

    // `wanted`, or `wanted_2`, `wanted_3`… whichever no message has yet.
    static QString uniqueName(const QString& wanted, const QList<PlanMessage>& messages);

signals:
    // The plan was laid out again (after every change).
    void changed();

private:
    void measureChanged();

    AudioPlayer* player_ = nullptr;
    std::unique_ptr<AudioPlayer> ownPlayer_;
    Plan plan_;
    QString path_;
    Layout layout_;
    QList<MeasuredFile> measured_;
    struct Measured {
        MeasuredFile file;
        qint64 size = -1;
        QDateTime modified;
    };
    QHash<QString, Measured> lengths_; // by absolute path
    const ChipModel* detectedChip_ = nullptr;
};

} // namespace tamberlo::plan

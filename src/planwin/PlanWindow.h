#pragma once

#include "plan/Export.h"
#include "plan/PlanDocument.h"
#include "plan/PlanRun.h"
#include "planwin/PlanWindowUi.h"

#include <QTimer>
#include <QWidget>
#include <memory>

namespace tamberlo {
class AudioOutputBox;
class AudioPlayer;
class MessageBoxes;
class SerialPort;
} // namespace tamberlo

namespace tamberlo::planwin {

class MemoryBar;
class PlanDialogs;
class PlanTableModel;

// The message plan in a window of its own: the messages as a table, the chip's memory as a
// bar, recording them all into the chip, checking the chip against the plan, and the
// address table exported for firmware. The window shows a plan document and drives the
// runs on it (plan/PlanDocument.h, plan/PlanRun.h).
//
// Every change to the plan (files added, dropped, removed or moved, a name edited, the model
// or the sample rate chosen) lays it out again at once. A run (record all, verify) opens the
// port for its duration only.
class PlanWindow : public QWidget {
    Q_OBJECT
public:
    // The platform edges; any left null is made from its Qt adapter.
    struct Platform {
        SerialPort* port = nullptr;            // the port runs open
        AudioPlayer* player = nullptr;         // measures the files' lengths
        plan::RecordingAudio* audio = nullptr; // plays the files while the chip records
        MessageBoxes* boxes = nullptr;
        PlanDialogs* dialogs = nullptr;
    };
    static constexpr int ClockIntervalMs = 250;

    explicit PlanWindow(QWidget* parent = nullptr);
    explicit PlanWindow(Platform platform, QWidget* parent = nullptr);
    ~PlanWindow() override;

    // Reads a plan file; on failure tells the operator and returns false.
    bool openPlanFile(const QString& path);
    // Writes the plan file (file names relative to its folder); false after telling why.
    bool savePlanFile(const QString& path);
    // Adds one message per file before row `before` (-1: at the end), named by the file.
    void addFiles(const QStringList& files, int before = -1);
    void removeRows(QList<int> rows);
    // Moves the rows (any order) so that they stand, in their order, before row `before`.
    void moveRows(QList<int> rows, int before);
    void renameMessage(int row, const QString& name);
    // Writes the address table; false after telling why.
    bool exportTo(const QString& path, plan::ExportFormat format);

    plan::PlanDocument& document() { return doc_; }
    plan::PlanRun& run() { return run_; }
    const plan::Plan& plan() const { return doc_.plan(); }
    const plan::Layout& layout() const { return doc_.layout(); }
    const QList<plan::MeasuredFile>& measured() const { return doc_.measured(); }
    QString planPath() const { return doc_.path(); }
    PlanTableModel& table() { return *ui_.model; }
    MemoryBar& memoryBar() { return *ui_.bar; }
    bool isRunning() const { return run_.isRunning(); }
    // The message "continue from here" resumes at; 0 when there is none.
    int resumeFrom() const { return run_.resumeFrom(); }
    // The last run's result, as the engine reported it.
    const plan::ProgramOutcome& lastOutcome() const { return run_.outcome(); }
    QString statusText() const;
    QTimer& clockTimer() { return clock_; }
    // The sound output the files play on (kept in the plan as its "output").
    AudioOutputBox& outputBox() { return *ui_.outputBox; }

public slots:
    void recordAll();
    void continueFromHere();
    void stopRecording();
    void verify();
    // The clock's tick: elapsed and remaining time.
    void clockTick();

signals:
    // A recording or verify run has ended (and its port is being closed).
    void runFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void connectControls();
    void connectRun();
    void showLayout();
    void showModel();
    void chooseAddFiles();
    void chooseOpenPlan();
    void savePlan();
    void savePlanAs();
    void chooseExport(plan::ExportFormat format);
    void moveSelection(int delta);
    QList<int> selectedRows() const;
    void selectRows(const QList<int>& rows);
    void updateControls();
    void setStatus(const QString& text, bool fault = false);
    void showProblems(const QString& what, const QStringList& problems);
    void showPortProblem();
    void startRecording(int from);
    void startRun(const QString& status);
    void showRecorded(const plan::ProgramOutcome& outcome, const plan::ChipComparison& chip);
    void endRun();

    // Platform edges, owned when made here.
    std::unique_ptr<MessageBoxes> ownBoxes_;
    std::unique_ptr<PlanDialogs> ownDialogs_;
    MessageBoxes* boxes_ = nullptr;
    PlanDialogs* dialogs_ = nullptr;

    plan::PlanDocument doc_;
    plan::PlanRun run_;
    bool closeAfterRun_ = false; // the operator closed the window while it recorded
    QTimer clock_;
    PlanWindowUi ui_;
};

} // namespace tamberlo::planwin

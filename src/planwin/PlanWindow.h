#pragma once

#include "plan/Allocation.h"
#include "plan/Export.h"
#include "plan/Plan.h"
#include "plan/Programmer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QTimer>
#include <QWidget>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;

namespace tamberlo {
class AudioOutputBox;
class AudioPlayer;
class MessageBoxes;
class SerialPort;
struct MessageMap;
} // namespace tamberlo

namespace tamberlo::planwin {

class MemoryBar;
class PlanDialogs;
class PlanTableModel;

// The message plan in a window of its own: the messages as a table, the chip's memory as a
// bar, recording them all into the chip through the plan engine, checking the chip against
// the plan, and the address table exported for firmware.
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
    // What one message takes beyond its audio when recorded (frames, pointer read), for the
    // remaining time.
    static constexpr int OverheadPerMessageMs = 600;
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

    const plan::Plan& plan() const { return plan_; }
    const plan::Layout& layout() const { return layout_; }
    const QList<plan::MeasuredFile>& measured() const { return measured_; }
    QString planPath() const { return planPath_; }
    PlanTableModel& table() { return *model_; }
    MemoryBar& memoryBar() { return *bar_; }
    bool isRunning() const { return running_; }
    // The message "continue from here" resumes at; 0 when there is none.
    int resumeFrom() const { return resumeFrom_; }
    // The last run's result, as the engine reported it.
    const plan::ProgramOutcome& lastOutcome() const { return outcome_; }
    QString statusText() const;
    QTimer& clockTimer() { return clock_; }
    // The sound output the files play on (kept in the plan as its "output").
    AudioOutputBox& outputBox() { return *outputBox_; }

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
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Session;

    void build();
    void nameControls();
    void connectControls();
    void relayout();
    void measureMissing();
    QList<plan::MeasuredFile> filesOf(const plan::Plan& plan) const;
    const plan::ChipMemory* chosenChip() const;
    void showModel();
    void chooseAddFiles();
    void chooseOpenPlan();
    void savePlan();
    void savePlanAs();
    void chooseExport(plan::ExportFormat format);
    void moveSelection(int delta);
    QList<int> selectedRows() const;
    void selectRows(const QList<int>& rows);
    void refreshPortToolTips();
    void updateControls();
    void setStatus(const QString& text, bool fault = false);
    void showProblems(const QString& what, const QStringList& problems);

    bool openSession();
    void closeSession();
    void startRecording(int from);
    void onMessageStarted(int number, int count, const plan::PlacedMessage& message);
    void onMessageProgress(int number, std::int64_t positionMs, std::int64_t lengthMs);
    void onMessageDone(const plan::MessageTiming& timing);
    void onProgramFinished(const plan::ProgramOutcome& outcome);
    void onVerified(const MessageMap& map);
    void showChecks(const QList<int>& chipStarts);
    void learnModel(std::uint8_t deviceId);
    void endRun();

    // Platform edges, owned when made here.
    std::unique_ptr<AudioPlayer> ownPlayer_;
    std::unique_ptr<plan::RecordingAudio> ownAudio_;
    std::unique_ptr<MessageBoxes> ownBoxes_;
    std::unique_ptr<PlanDialogs> ownDialogs_;
    SerialPort* port_ = nullptr;
    AudioPlayer* player_ = nullptr;
    plan::RecordingAudio* audio_ = nullptr;
    MessageBoxes* boxes_ = nullptr;
    PlanDialogs* dialogs_ = nullptr;

    plan::Plan plan_;
    QString planPath_;
    plan::Layout layout_;
    QList<plan::MeasuredFile> measured_;
    // By absolute path, with the file's size and modification time when it was measured: a
    // file edited while the window is open is measured again.
    struct Measured {
        plan::MeasuredFile file;
        qint64 size = -1;
        QDateTime modified;
    };
    QHash<QString, Measured> lengths_;
    const plan::ChipMemory* detectedChip_ = nullptr;

    std::unique_ptr<Session> session_;
    bool running_ = false;
    bool closeAfterRun_ = false; // the operator closed the window while it recorded
    int resumeFrom_ = 0;
    plan::ProgramOutcome outcome_;
    QTimer clock_;
    QElapsedTimer elapsed_;
    // Audio of the run's messages (ms), of those finished, and where the current one is.
    std::int64_t runAudioMs_ = 0;
    std::int64_t doneAudioMs_ = 0;
    std::int64_t currentPosMs_ = 0;
    std::int64_t currentLenMs_ = 0;
    int messagesLeft_ = 0;

    PlanTableModel* model_ = nullptr;
    MemoryBar* bar_ = nullptr;
    QComboBox* portBox_ = nullptr;
    QComboBox* modelBox_ = nullptr;
    QComboBox* rateBox_ = nullptr;
    AudioOutputBox* outputBox_ = nullptr;
    QTableView* view_ = nullptr;
    QLabel* usage_ = nullptr;
    QLabel* planFile_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* elapsedText_ = nullptr;
    QLabel* remainingText_ = nullptr;
    QProgressBar* messageProgress_ = nullptr;
    QProgressBar* planProgress_ = nullptr;
    QCheckBox* eraseFirst_ = nullptr;
    QPushButton* addFiles_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* moveUp_ = nullptr;
    QPushButton* moveDown_ = nullptr;
    QPushButton* openPlan_ = nullptr;
    QPushButton* savePlan_ = nullptr;
    QPushButton* savePlanAs_ = nullptr;
    QPushButton* recordAll_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* continue_ = nullptr;
    QPushButton* verify_ = nullptr;
    QPushButton* exportHeader_ = nullptr;
    QPushButton* exportCsv_ = nullptr;
    QPushButton* exportJson_ = nullptr;
};

} // namespace tamberlo::planwin

#pragma once

#include "plan/Allocation.h"
#include "plan/Plan.h"
#include "plan/PlanCheck.h"
#include "plan/Programmer.h"

#include <QElapsedTimer>
#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>

namespace tamberlo {
class SerialPort;
struct MessageMap;
} // namespace tamberlo

namespace tamberlo::plan {

// What one message takes beyond its audio when it is recorded (SET_REC and its status
// read, the output's start, STOP, the pointer read, the closing map scan's share): the
// figure bench/plan holds the programmer to. The remaining time of a run counts it once
// for every message not yet done.
inline constexpr int OverheadPerMessageMs = 600;

// The time a recording still needs: the audio not yet played and the overhead of each
// message not yet done.
std::int64_t remainingRunMs(std::int64_t audioLeftMs, int messagesLeft);

// A message's row in a run: waiting, being recorded, done or failed; after a map scan,
// found, missing or moved.
enum class RowState { None, Waiting, Recording, Done, Failed, Found, Missing, Moved };

// One row's state with, for Moved, the start the chip has.
struct RowCheck {
    RowState state = RowState::None;
    int chipStart = -1;
    bool operator==(const RowCheck&) const = default;
};

// A map scan compared with the layout: each row's state and the counts.
struct ChipComparison {
    QList<RowCheck> rows;
    int chipMessages = 0;
    int found = 0;
    int missing = 0;
    int moved = 0;
    QList<int> unplanned; // chip starts inside no planned message
};
ChipComparison compareWithChip(const Layout& layout, const QList<int>& chipStarts);

// The rows whose state changes once a recording has ended with `outcome`: for Done and
// Mismatch every row as `chip` compared it; for a refused plan the waiting rows back to
// none; for a fault the message it stopped at failed, the other rows not done back to
// none. `during` holds the states as the run left them.
struct RowChange {
    int row = 0;
    RowCheck check;
    bool operator==(const RowChange&) const = default;
};
QList<RowChange> rowsAfterRecording(const QList<RowState>& during, const ProgramOutcome& outcome,
                                    const ChipComparison& chip);

class PlanDocument;

// The runs the plan window drives on a document: recording its plan (from the first
// message, or from the one a fault stopped at) or verifying the chip against it. The port
// is opened for a run's length only, with the chip client, the programmer or the mapper on
// it; the device going away ends a recording at once. The model the chip reports is handed
// to the document. The run keeps the rows' states, the remaining time and where "continue
// from here" resumes.
//
// prepareRecording() and prepareVerify() open the port and make the engine; start() sets
// it going (the caller shows the run as started in between: the engine may end it at once).
class PlanRun : public QObject {
    Q_OBJECT
public:
    // The platform edges; a null port or audio is made from its Qt adapter.
    struct Platform {
        SerialPort* port = nullptr;
        RecordingAudio* audio = nullptr;
    };
    // Why a run did not start: the port text is no port number, or the port did not open.
    struct PortProblem {
        enum class Kind { None, BadNumber, NotOpened };
        Kind kind = Kind::None;
        int number = 0;
        QString reason;
    };

    PlanRun(PlanDocument& document, Platform platform, QObject* parent = nullptr);
    ~PlanRun() override;

    // Recording the document's messages from `from` (1-based) into the chip behind
    // `portText`; false when the port does not open (portProblem() says why).
    bool prepareRecording(const QString& portText, int from, bool eraseFirst);
    // Reading the chip's messages (map) to compare them with the document's layout.
    bool prepareVerify(const QString& portText);
    void start();
    // Ends a recording as a fault at the current message (STOP sent first).
    void stop();

    bool isRunning() const { return running_; }
    // A recording that stop() can end.
    bool isRecording() const;
    const PortProblem& portProblem() const { return problem_; }
    // The message "continue from here" resumes at; 0 when there is none.
    int resumeFrom() const { return resumeFrom_; }
    void forgetResume() { resumeFrom_ = 0; }
    const ProgramOutcome& outcome() const { return outcome_; }
    // The run's elapsed time, its remaining time (0 when idle) and how much of its audio is
    // done in thousandths (nothing for a run without audio).
    std::int64_t elapsedMs() const;
    std::int64_t remainingMs() const;
    std::optional<int> planPermille() const;

signals:
    // start() has set the run going; the engine starts right after.
    void started();
    void rowChanged(int row, const tamberlo::plan::RowCheck& check);
    // The row being recorded; -1 once none is.
    void currentRowChanged(int row);
    void messageStarted(int number, int count, const tamberlo::plan::PlacedMessage& message);
    // The current message's share played, in thousandths.
    void messagePermille(int permille);
    // A message is recorded; `last` when it was the plan's last.
    void messageDone(int number, bool last);
    void notice(const QString& text);
    // The chip said which model it is.
    void modelLearned(std::uint8_t deviceId);
    // The map scan: messages found so far, of up to `bound`.
    void scanProgress(int found, int bound);
    // A recording has ended with `outcome` (the rows' states already set); for Done and
    // Mismatch `chip` compares the map scan with the plan.
    void recorded(const tamberlo::plan::ProgramOutcome& outcome,
                  const tamberlo::plan::ChipComparison& chip);
    // A verify has ended: an error text, or the comparison.
    void verified(const QString& error, const tamberlo::plan::ChipComparison& chip);
    // The run is over (states, outcome and resume point final); its port is closed in a
    // queued call, and then `finished` follows.
    void ended();
    void finished();

private:
    struct Session;
    bool openSession(const QString& portText);
    void closeSession();
    void end();
    void setRow(int row, const RowCheck& check);
    void onMessageStarted(int number, int count, const PlacedMessage& message);
    void onMessageProgress(int number, std::int64_t positionMs, std::int64_t lengthMs);
    void onMessageDone(const MessageTiming& timing);
    void onProgramFinished(const ProgramOutcome& outcome);
    void onMapped(const MessageMap& map);

    PlanDocument& doc_;
    SerialPort* port_ = nullptr;
    RecordingAudio* audio_ = nullptr;
    std::unique_ptr<RecordingAudio> ownAudio_;
    std::unique_ptr<Session> session_;
    PortProblem problem_;
    QList<RowState> states_; // as this run set them
    bool running_ = false;
    int resumeFrom_ = 0;
    ProgramOutcome outcome_;
    QElapsedTimer elapsed_;
    // Audio of the run's messages (ms), of those finished, and where the current one is.
    std::int64_t runAudioMs_ = 0;
    std::int64_t doneAudioMs_ = 0;
    std::int64_t currentPosMs_ = 0;
    std::int64_t currentLenMs_ = 0;
    int messagesLeft_ = 0;
};

} // namespace tamberlo::plan

#pragma once

#include "plan/Allocation.h"
#include "plan/Plan.h"
#include "plan/ProgrammerParts.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>

namespace tamberlo::plan {

struct ProgramOptions {
    // From message 1: G_ERASE before the first message. With a later `from`: SET_ERASE of
    // the rows of messages `from` to the last, the earlier ones kept.
    bool eraseFirst = false;
    int from = 1; // the first message to record (1-based); earlier ones are in the chip
};

// When things happened for one message, in microseconds of the monotonic clock.
struct MessageTiming {
    int number = 0;
    std::int64_t frameSentUs = 0;  // SET_REC's last byte written
    std::int64_t audioStartUs = 0; // the file's first sample out of the output
    std::int64_t audioEndUs = 0;   // its last sample out of the output
    std::int64_t stopHandedUs = 0; // STOP handed to the chip client
    std::int64_t stopSentUs = 0;   // the STOP byte written
    int stoppedRow = -1;           // the chip's current row after STOP
    bool usedAllRows = false;      // it stopped at the row after its last: no margin left
    int attempts = 1;              // 2 when the first recording failed and was erased
    double startOffsetMs() const { return (audioStartUs - frameSentUs) / 1000.0; }
    double stopOffsetMs() const { return (stopSentUs - audioEndUs) / 1000.0; }
};

struct ProgramOutcome {
    enum class Kind { Done, PlanRefused, Fault, Mismatch };
    // Why a run did not end done: the plan (or a file) does not fit the chip, no reply in
    // time, the device lost, a command refused, a chip with an unknown device ID, the chip
    // differs from the plan (its messages read back, FULL, a recording outside the rows), the
    // audio could not be played whole, or the run was interrupted.
    enum class Cause {
        None,
        Plan,
        Timeout,
        DeviceLost,
        Refused,
        UnknownChip,
        Differs,
        Audio,
        Interrupted
    };
    Kind kind = Kind::Done;
    Cause cause = Cause::None;
    QString error;          // for a fault: what happened, on which message
    QStringList problems;   // for a refused plan: every reason
    int failedMessage = 0;  // the message a fault stopped at (1-based), else 0
    QList<int> complete;    // messages recorded in this run
    QList<int> chipStarts;  // the map scan's result
    QStringList mismatches; // planned starts the chip lacks, starts it has beyond the plan
    Layout layout;
    QList<MessageTiming> timings;
    QStringList notes; // what went well but is worth knowing (a message used all its rows)
};

// Records a plan into the chip, message by message, on the event loop:
//
//   the output checked (none: refused before anything is sent), PU, DEVID (the model
//   checked against the plan, or taken for "auto"), the plan laid out and checked against
//   that model, the erase asked for (G_ERASE from message 1, else SET_ERASE of messages
//   `from` onwards; on a resume without it, SET_ERASE of message `from`, whose rows may
//   hold an interrupted recording), each erase waited for with status reads until the
//   chip is ready. Then for each message from `from`: the file loaded and measured again
//   (grown past its rows: that message fails before SET_REC), SET_REC with its rows, the
//   audio started the moment the frame's last byte is written, STOP handed over once the
//   file's last sample has come out of the output (by the output's word or by the
//   freshest position report, whichever comes first; never before), STOP's reply checked
//   for FULL, the record pointer read to confirm the chip stopped from the message's
//   start to the row after its end. Then the map scan, compared with the plan's starts.
//
// A message whose audio failed (no start, a failing or starved output, a file ended early)
// or that the chip ended itself at the end of its rows is stopped, its rows erased
// (SET_ERASE) and recorded once more; a second failure ends the run (6 for the audio).
// A fault of the chip (no reply, the device gone, a refused command) ends the run at
// once: STOP is tried if a recording may be running, and `finished` says which message it
// was and which are complete. Nothing is erased beyond the rows of the messages this run
// records, and SET_REC is only ever sent with a message's planned rows.
class Programmer : public QObject {
    Q_OBJECT
public:
    static constexpr int WatchMs = 5;
    // Audio whose position has not moved this long after start is taken as not playing.
    static constexpr int AudioStartTimeoutMs = 3000;
    // A player that reports the file finished this much short of its length ended early.
    static constexpr int EndedEarlyMs = 50;
    // How far behind the output a position report may be; a report further behind when the
    // file should have ended is an output that fell behind.
    static constexpr int StaleReportMs = 250;
    // How long after the expected end the output may take to say the last sample is out.
    static constexpr int FinishGraceMs = 1000;

    Programmer(Plan plan, QList<MeasuredFile> files, ProgrammerChip& chip, RecordingAudio& audio,
               ProgramOptions options, QObject* parent = nullptr);

    void start();
    // Ends the run as a fault (Ctrl-C): STOP if a recording may be running, the outcome says
    // which messages are complete.
    void interrupt(const QString& why);
    // The device behind the port went away: the run ends at once, the audio stops, and no
    // STOP is tried on a port that is gone.
    void deviceLost(const QString& why);
    const Layout& layout() const { return layout_; }
    // The clock, in microseconds of the monotonic clock (tests set their own).
    void setClock(std::function<std::int64_t()> clockUs) { clock_ = std::move(clockUs); }

public slots:
    // Tick of the watch timer while a file plays: hands STOP over in time, reports progress.
    void watchTick();

signals:
    // A line about what is being done ("chip: ISD1760", "erasing the whole chip").
    void step(const QString& text);
    void messageStarted(int number, int count, const tamberlo::plan::PlacedMessage& message);
    // While a file plays: how far it is (ms) of its length.
    void messageProgress(int number, std::int64_t positionMs, std::int64_t lengthMs);
    void messageDone(const tamberlo::plan::MessageTiming& timing);
    // A recording failed and is erased to be made once more, or a note on a message.
    void notice(const QString& text);
    void finished(const tamberlo::plan::ProgramOutcome& outcome);

private:
    void checkModel(const ProgrammerChip::Result& r);
    void eraseThenRecord();
    // Erases the rows of the messages still in toErase_, one after the other, then records.
    void eraseQueued();
    // SET_ERASE of the message at `index`, the erase waited for, then `then`.
    void eraseMessage(int index, std::function<void()> then);
    void waitReady(const QString& what, std::function<void()> then);
    void nextMessage();
    void recordMessage();
    void frameSent();
    void sendStop();
    void stopDone(const ProgrammerChip::Result& r);
    void confirm(const ProgrammerChip::Result& r);
    // The message's recording is not whole: once more after an erase, else the run ends.
    void messageFailed(const QString& why, ProgramOutcome::Cause cause);
    void retry();
    void scan();
    void compare(const ProgrammerChip::Result& r);
    // Ends the run with a fault of the chip client.
    void fail(const QString& what, ProgrammerChip::Fault fault);
    // Ends the run for that cause; STOP tried first if a recording may be running.
    void failWith(const QString& what, ProgramOutcome::Cause cause, bool tryStop = true);
    void finish();
    bool fault(const ProgrammerChip::Result& r, const QString& doing);
    QString audioFailure(const QString& why) const;
    std::int64_t now() const { return clock_(); }

    Plan plan_;
    QList<MeasuredFile> files_;
    ProgrammerChip& chip_;
    RecordingAudio& audio_;
    ProgramOptions options_;
    Layout layout_;
    ProgramOutcome outcome_;
    QTimer watch_;
    std::function<std::int64_t()> clock_;

    int index_ = -1;         // the message being recorded (0-based)
    bool recording_ = false; // SET_REC may have started a recording
    bool stopHanded_ = false;
    bool ended_ = false;
    bool fullBefore_ = false; // FULL in the status read confirming SET_REC
    int attempt_ = 0;         // 0: the message's first recording, 1: its second
    QList<int> toErase_;      // messages whose rows are erased before the first recording
    std::int64_t audioLengthMs_ = 0;
    std::int64_t lastProgressUs_ = 0;
    MessageTiming timing_;
};

} // namespace tamberlo::plan

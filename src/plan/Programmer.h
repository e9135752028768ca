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
    bool eraseFirst = false; // G_ERASE before the first message
    int from = 1;            // the first message to record (1-based); earlier ones are in the chip
};

// When things happened for one message, in microseconds of the monotonic clock.
struct MessageTiming {
    int number = 0;
    std::int64_t frameSentUs = 0;  // SET_REC's last byte written
    std::int64_t audioStartUs = 0; // the file's position 0, as the player's position tells
    std::int64_t audioEndUs = 0;   // audioStartUs + the file's length
    std::int64_t stopHandedUs = 0; // STOP handed to the chip client
    std::int64_t stopSentUs = 0;   // the STOP byte written
    int stoppedRow = -1;           // the chip's current row after STOP
    double startOffsetMs() const { return (audioStartUs - frameSentUs) / 1000.0; }
    double stopOffsetMs() const { return (stopSentUs - audioEndUs) / 1000.0; }
};

struct ProgramOutcome {
    enum class Kind { Done, PlanRefused, Fault, Mismatch };
    Kind kind = Kind::Done;
    int exitCode = 0;       // the command line's codes: 0, 1 (plan), 3, 4, 5 (map differs)
    QString error;          // for a fault: what happened, on which message
    QStringList problems;   // for a refused plan: every reason
    int failedMessage = 0;  // the message a fault stopped at (1-based), else 0
    QList<int> complete;    // messages recorded in this run
    QList<int> chipStarts;  // the map scan's result
    QStringList mismatches; // planned starts the chip lacks, starts it has beyond the plan
    Layout layout;
    QList<MessageTiming> timings;
};

// Records a plan into the chip, message by message, on the event loop:
//
//   PU, DEVID (the model checked against the plan, or taken for "auto"), the plan laid
//   out and checked against that model, G_ERASE if asked (then the status read until the
//   chip is ready), and for each message from `from`: the file loaded and held, SET_REC
//   with its rows, the audio started the moment the frame's last byte is written, STOP
//   handed over so that its byte leaves at the file's end, the record pointer read to
//   confirm the chip stopped inside the message's rows. Then the map scan, compared with
//   the plan's starts.
//
// A fault (no reply, the device gone, a refused command, audio that does not play) ends
// the run at once: STOP is tried if a recording may be running, and `finished` says which
// message it was and which are complete. Nothing is erased unless asked, and SET_REC is
// only ever sent with a message's planned rows.
class Programmer : public QObject {
    Q_OBJECT
public:
    static constexpr int WatchMs = 5;
    // Audio whose position has not moved this long after start is taken as not playing.
    static constexpr int AudioStartTimeoutMs = 3000;

    Programmer(Plan plan, QList<MeasuredFile> files, ProgrammerChip& chip, RecordingAudio& audio,
               ProgramOptions options, QObject* parent = nullptr);

    void start();
    // Ends the run as a fault (Ctrl-C): STOP if a recording may be running, the outcome says
    // which messages are complete.
    void interrupt(const QString& why);
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
    void finished(const tamberlo::plan::ProgramOutcome& outcome);

private:
    void checkModel(const ProgrammerChip::Result& r);
    void eraseThenRecord();
    void waitReady(int triesLeft);
    void nextMessage();
    void frameSent();
    void sendStop();
    void stopDone(const ProgrammerChip::Result& r);
    void confirm(const ProgrammerChip::Result& r);
    void scan();
    void compare(const ProgrammerChip::Result& r);
    // Ends the run with a fault of the chip client (or of the audio).
    void fail(const QString& what, ProgrammerChip::Fault fault);
    void finish();
    bool fault(const ProgrammerChip::Result& r, const QString& doing);
    std::int64_t now() const { return clock_(); }

    Plan plan_;
    QList<MeasuredFile> files_;
    ProgrammerChip& chip_;
    RecordingAudio& audio_;
    ProgramOptions options_;
    Layout layout_;
    ProgramOutcome outcome_;
    QTimer watch_;
    QTimer stopTimer_;
    std::function<std::int64_t()> clock_;

    int index_ = -1;         // the message being recorded (0-based)
    bool recording_ = false; // SET_REC may have started a recording
    bool stopHanded_ = false;
    bool ended_ = false;
    std::int64_t audioLengthMs_ = 0;
    std::int64_t lastProgressUs_ = 0;
    MessageTiming timing_;
};

} // namespace tamberlo::plan

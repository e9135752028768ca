#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

namespace tamberlo::plan {

// What the programmer needs of the chip: one command at a time, each answered through its
// callback once the reply is in (or the command failed). The adapter over the chip client
// lives with the command line; tests use a scripted fake.
class ProgrammerChip {
public:
    enum class Fault { None, Timeout, DeviceLost, Refused };
    struct Result {
        Fault fault = Fault::None;
        QString text;        // the client's line for a fault: port, device, command, what
        int currentRow = -1; // from the reply's SR0, where it carries one
        int pointer = -1;    // pointer reads
        int deviceId = -1;   // DEVID
        bool ready = false;  // waitUntilReady: the chip is idle (RDY)
        // The status the reply carried (STOP's reply, the status read confirming SET_REC):
        // whether there was one, and its FULL flag.
        bool hasStatus = false;
        bool full = false;
        QList<int> starts; // the map scan: message start rows in the chip
        bool ok() const { return fault == Fault::None; }
    };
    using Done = std::function<void(const Result&)>;
    using Sent = std::function<void()>;

    virtual ~ProgrammerChip() = default;
    virtual void powerUp(Done done) = 0;
    virtual void deviceId(Done done) = 0;
    virtual void eraseAll(Done done) = 0;
    // SET_ERASE start..end; the chip erases for a while after its reply (see waitUntilReady).
    virtual void eraseRows(int start, int end, Done done) = 0;
    // Until the chip has finished erasing: the chip's status reads, a Timeout fault when it
    // is still erasing after the chip operations' limit.
    virtual void waitUntilReady(Done done) = 0;
    // SET_REC start..end; `sent` runs the moment the frame's last byte has been written.
    virtual void setRecord(int start, int end, Sent sent, Done done) = 0;
    // STOP; `sent` runs the moment its byte has been written. The result carries the
    // status of STOP's reply.
    virtual void stop(Sent sent, Done done) = 0;
    virtual void readRecordPointer(Done done) = 0;
    virtual void scanMessages(Done done) = 0;
    // How long after being handed a one-byte command its byte leaves, in milliseconds.
    virtual int handOverLeadMs() const = 0;
};

// The audio a recording takes: the file played on the PC, judged by what has come out of
// the output device rather than by a player's position.
class RecordingAudio {
public:
    virtual ~RecordingAudio() = default;
    // Whether there is a working output to play on; false with the reason (naming the
    // output) when there is none, before anything is sent to the chip.
    virtual bool outputReady(QString* why) = 0;
    // The output's name for messages ("the default output (Null Output)").
    virtual QString outputName() const = 0;
    // Loads the whole file and holds it at its start; false with a reason when it cannot.
    virtual bool load(const QString& path, QString* why) = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    // How much of the file has come out of the output, in milliseconds; 0 before the
    // first sample has.
    virtual std::int64_t playedMs() const = 0;
    virtual std::int64_t lengthMs() const = 0;
    // The file's last sample has come out of the output.
    virtual bool finished() const = 0;
    // When the last sample comes out of the output (the programmer's clock, microseconds),
    // once the output knows; 0 before.
    virtual std::int64_t lastSampleOutUs() const = 0;
    // Why the playback since start() failed (the output gone, starved, the file ended
    // early or played a different length); empty while it plays well.
    virtual QString failure() const = 0;
};

} // namespace tamberlo::plan

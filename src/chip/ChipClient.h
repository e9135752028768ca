#pragma once

// ChipClient: the chip driven one command at a time over a SerialPort, each command waiting
// for its reply (or for its timeout) before the next frame goes out. Widget-free and
// event-driven: nothing here blocks or runs a nested event loop; a caller that wants to
// wait (the command-line tool) runs the event loop until the completion arrives.
//
//     ChipClient client(port);                 // port already open
//     client.submit({singleFrame(Opcode::DEVID)}, [](const ChipResult& r) {
//         if (r.ok() && r.model) ... r.model->name, r.decoded.status->flagNames() ...
//     });
//     // A command the chip may refuse: confirm = true follows it with a DEVID status read,
//     // and CMD_ERR there completes the command with ChipError::Refused.
//     client.submit({rangeFrame(Opcode::SET_REC, 0x010, 0x05F), true}, onDone);
//     connect(&client, &ChipClient::frameSent, ...);   // a frame's last byte has left
//     client.stopNow(onStopped);                        // STOP ahead of all queued work
//
// Frames are paced one byte per 50 ms (no byte sooner than 50 ms after the one before it,
// across frames too); a frame that has started always goes out whole. Before each frame the
// input is discarded, so a late or surplus byte never shifts the next reply. A reply is
// complete at the catalogue's length for the opcode; commands with no reply there complete
// when their last byte has left. The timeout (default 1,000 ms) runs from the last byte,
// however short it is: the reply timer never runs while a frame is going out.
//
// A device that goes away fails everything at once and is remembered: deviceLost() is
// emitted (also when the client is idle, so an owner waiting on something else hears of it
// at once), and whatever is submitted afterwards fails with DeviceLost, "the device went
// away", rather than with the closed port it left behind. end() closes the client for good
// when a run is over: the frame in progress is cut, nothing queued or submitted later is
// ever written.
// Completions run once per request, in submission order (stopNow's STOP excepted), after
// the client's own state is settled, so a completion may submit further work.
//
// frameSent() waits until the system has put the frame's last byte on the line (a USB
// adapter's driver may hold it for some ms), looked at every millisecond for at most
// LineWaitMs; a reply byte, the end of the exchange or of the client announces it at once.
//
// Tests drive the timers directly: tick() is the pacing timer's tick, replyTimedOut() the
// reply timer's expiry, lineTick() the line timer's; setClock() replaces the monotonic clock.

#include "chip/ChipReply.h"
#include "link/SerialPort.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace tamberlo {

// Nanoseconds in a millisecond: the client's clock counts nanoseconds.
inline constexpr qint64 NsPerMs = 1'000'000;

enum class ChipError {
    None,
    Timeout,    // the reply did not come (complete) in time
    DeviceLost, // the device behind the port went away
    Refused,    // the chip refused the command (CMD_ERR in the next status)
    PortClosed, // the port was not open when the frame was due
    Cancelled,  // cancelAll() before the request went out, or submitted after end()
};

// "timeout", "device lost", "refused", "port closed", "cancelled"; empty for None.
QString chipErrorName(ChipError error);

struct ChipRequest {
    std::vector<std::uint8_t> frame; // opcode first; 1, 3 or 5 bytes
    // Follow the command with a DEVID status read: CMD_ERR in its SR0 means the chip
    // refused this command. Use it for commands that change the chip's state.
    bool confirm = false;
    // Reply timeout for this request; 0 or less: the client's timeout.
    int timeoutMs = 0;
};

struct ChipResult {
    quint64 id = 0;
    std::uint8_t opcode = 0;
    std::vector<std::uint8_t> frame;
    std::vector<std::uint8_t> reply; // the command's own reply bytes as they came
    DecodedReply decoded;            // what they carry
    // SR0 of the confirming status read (confirm = true), and all that read's reply says.
    std::optional<ChipStatus> confirmation;
    DecodedReply confirmationReply;
    // The model, from the command's own DEVID reply or from the confirming read.
    const ChipModel* model = nullptr;
    // Monotonic clock (ns) when the frame's last byte was handed to the port; -1 if it
    // never went out.
    qint64 lastByteNs = -1;
    ChipError error = ChipError::None;
    // What happened, in words, naming the command: "no reply to DEVID (0x09) within
    // 1000 ms". Empty when done.
    QString errorText;

    bool ok() const { return error == ChipError::None; }
};

class ChipClient : public QObject {
    Q_OBJECT
public:
    static constexpr int PaceMs = BytePaceMs;
    static constexpr int DefaultTimeoutMs = 1000;

    using Completion = std::function<void(const ChipResult&)>;
    // Monotonic nanoseconds; by default std::chrono::steady_clock, which on Linux is
    // CLOCK_MONOTONIC like QElapsedTimer's.
    using Clock = std::function<qint64()>;

    explicit ChipClient(SerialPort& port, QObject* parent = nullptr);
    ~ChipClient() override;

    void setTimeoutMs(int ms) { timeoutMs_ = ms > 0 ? ms : DefaultTimeoutMs; }
    int timeoutMs() const { return timeoutMs_; }
    void setClock(Clock clock);
    qint64 now() const { return clock_(); }

    // Queues a request; returns its id (counting from 1). The first frame goes out at once
    // when the client is idle and the pacing allows.
    quint64 submit(ChipRequest request, Completion completion = {});
    // STOP ahead of everything queued; it goes out as soon as the request in progress has
    // finished (a frame that has started goes out whole, and its reply is awaited).
    quint64 stopNow(Completion completion = {});
    // Completes every queued request, and the one in progress, with `reason`.
    void cancelAll(ChipError reason = ChipError::Cancelled);
    // The run is over: completes everything with Cancelled (`why` says why: "the run has
    // ended"), stops both timers and writes nothing more, not even the rest of a frame that
    // has started, whatever event loop runs later. Requests submitted afterwards complete at
    // once with Cancelled.
    void end(const QString& why = QStringLiteral("the run has ended"));
    bool hasEnded() const { return ended_; }
    // The longest frameSent() waits for the system to put a frame's last byte on the line.
    static constexpr int LineWaitMs = 100;
    // The device behind the port went away (and the port has not been opened since; the
    // port closes itself when its device goes away).
    bool isDeviceLost() const { return deviceLost_; }

    bool isIdle() const { return !current_ && queue_.empty(); }
    std::size_t pending() const { return queue_.size() + (current_ ? 1 : 0); }
    // The last model a DEVID reply named; nullptr before one did.
    const ChipModel* model() const { return model_; }
    // The last SR0 a reply carried.
    std::optional<ChipStatus> lastStatus() const { return lastStatus_; }

    QTimer& paceTimer() { return paceTimer_; }
    QTimer& replyTimer() { return replyTimer_; }
    QTimer& lineTimer() { return lineTimer_; }

public slots:
    // The pacing timer's tick: the next byte of the frame in progress, or the first byte of
    // the next frame.
    void tick();
    // The reply timer's expiry.
    void replyTimedOut();
    // The look at whether the last frame's bytes have left the system.
    void lineTick();

signals:
    void byteWritten(std::uint8_t byte, qint64 ns);
    void byteRead(std::uint8_t byte, qint64 ns);
    // Bytes read that belong to no reply (late, surplus, noise), or discarded before a frame.
    void strayBytes(int count);
    // A frame's last byte has left for the chip, at `ns` on the monotonic clock: the system
    // has put it on the line (as far as the port can tell), not only been handed it.
    void frameSent(std::uint8_t opcode, qint64 ns);
    void finished(const tamberlo::ChipResult& result);
    // Nothing left to do.
    void idle();
    // The device behind the port went away; everything queued has failed with DeviceLost.
    void deviceLost();

private:
    struct Job {
        quint64 id = 0;
        ChipRequest request;
        Completion completion;
        ChipResult result;
        bool probing = false; // the confirming DEVID read is in progress
        // Cancelled while its frame was going out: completes so once the frame is out.
        std::optional<ChipError> cancel;
        QString cancelText;
    };
    enum class Phase { Idle, Waiting, Sending, AwaitingReply };

    void onCommunication(tamberlo::CommEvent kind);
    void pump();
    void beginExchange();
    void writeNext();
    void exchangeDone();
    void complete(ChipError error, const QString& text);
    void finish(Job& job, ChipError error, const QString& text);
    void failAll(ChipError reason, const QString& what);
    void completeLater(std::deque<Job>& into, ChipError reason, const QString& text);
    const std::vector<std::uint8_t>& exchangeFrame() const;
    QString exchangeName() const;

    SerialPort& port_;
    Clock clock_;
    QTimer paceTimer_;
    QTimer replyTimer_;
    QTimer lineTimer_;
    // A frame whose last byte is written but still held by the system: its opcode, and
    // when the wait for it began.
    std::optional<std::uint8_t> unsentOpcode_;
    qint64 unsentSinceNs_ = 0;
    void announceWhenOut(std::uint8_t opcode, qint64 writtenNs);
    void announceUnsent();
    void dropUnsent();
    int timeoutMs_ = DefaultTimeoutMs;
    quint64 nextId_ = 1;
    std::deque<Job> queue_;
    std::optional<Job> current_;
    Phase phase_ = Phase::Idle;
    std::size_t sent_ = 0;              // bytes of the exchange's frame written
    std::uint8_t expected_ = 0;         // reply bytes the exchange waits for
    std::vector<std::uint8_t> reply_;   // reply bytes so far
    std::optional<qint64> lastWriteNs_; // the last byte written, for the pacing
    const ChipModel* model_ = nullptr;
    std::optional<ChipStatus> lastStatus_;
    bool completing_ = false; // inside a completion: pump() afterwards, not from within
    bool deviceLost_ = false;
    bool ended_ = false;
    QString endText_;
};

} // namespace tamberlo

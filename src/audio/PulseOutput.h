#pragma once

#include "audio/AudioOutputs.h"
#include "audio/PcmOutput.h"

#include <deque>
#include <optional>
#include <utility>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;

namespace tamberlo {

// A PCM stream to a PulseAudio server (or PipeWire's PulseAudio service), on libpulse's own
// thread. The played clock is the server's latest measurement (what the sink has taken of the
// stream less what it still holds, at the server's time stamp) carried forward to now: what
// has come out of the device.
//
// A playing fails when the server goes away or refuses the stream, when the server's buffer
// runs dry before the last frame was handed over, or when the played clock falls behind the
// monotonic clock by more than StallLimitMs within a short window (the output stalled).
class PulseOutput : public PcmOutput {
public:
    static constexpr int StallLimitMs = 20;
    // The latency the stream asks of the server (stream and sink together): what the sink
    // renders ahead of the device stays within about half of it.
    static constexpr int SinkBufferMs = 200;
    // How much of the file the server holds at most, handed over at the first request: the
    // server's usual limit (4 MiB: 23 s of 44.1 kHz stereo).
    static constexpr std::int64_t MaxBufferBytes = 4 * 1024 * 1024;
    // The played clock is the server's last measurement carried forward; one is asked for
    // when the last is this old.
    static constexpr int FreshTimingMs = 100;

    PulseOutput();
    ~PulseOutput() override;
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    void setDevice(const QByteArray& id) override { device_ = id; }
    bool start(std::shared_ptr<const Pcm> pcm, std::int64_t fromFrame, QString* why) override;
    void stop() override;
    State state() const override;

    // Callbacks from libpulse's thread (public for the C callbacks only).
    void contextChanged();
    void streamChanged();
    void writeWanted(std::size_t bytes);
    void ranDry();
    void drained(bool freshTiming);
    void timingUpdated();
    void timingAnswered();
    void watch();

private:
    bool connectServer(QString* why);
    void disconnectServer();
    void closeStream();
    std::int64_t playedLocked() const;
    void fail(const QString& why);

    QByteArray device_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* watchEvent_ = nullptr;
    std::shared_ptr<const Pcm> pcm_;
    std::int64_t fromFrame_ = 0;
    std::int64_t nextFrame_ = 0;  // the next frame handed to the server
    std::size_t bufferBytes_ = 0; // what the server holds of the stream at most
    bool handedAll_ = false;
    // When the last sample comes out: the drain's moment plus what the sink still held then
    // (monotonic microseconds; 0 until the server has taken everything into its sink).
    std::int64_t drainedOutUs_ = 0;
    int playingUpdates_ = 0;   // timing updates since the stream started playing
    bool timingAsked_ = false; // a timing update asked for and not yet answered
    bool playing_ = false;
    // The monotonic and the played clock (µs) at the watch's recent looks.
    std::deque<std::pair<std::int64_t, std::int64_t>> recent_;
    QString failure_;
};

// The sinks of the PulseAudio server, the default first; nothing (with the reason) when there
// is no server to ask.
std::optional<QList<AudioOutput>> pulseOutputs(QString* why);

} // namespace tamberlo

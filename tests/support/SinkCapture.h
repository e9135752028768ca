#pragma once

// What came out of a private PulseServer's default output: the null sink's monitor recorded
// with `parec --latency-msec=1` (raw s16le, mono, 48 kHz) on a thread of its own that stamps
// every read with CLOCK_MONOTONIC, the clock of the bridge simulator's byte log. Every
// captured sample gets a monotonic time, and helpers find where sound starts, ends and stops
// for a while in between.
//
// Sample times: the sink hands the monitor a block at the moment that block starts to come
// out, so the first read of each burst stamps the burst's first sample, later only by how
// late this thread woke. Sample i's time is offset + i / Rate, the offset being the smallest
// (read time - first sample / Rate) over the bursts within half a second of i: late wake-ups
// drop out, and a sink that skipped ahead after a stall is followed.

#include "support/PulseServer.h"

#include <QList>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace tamberlo::test {

class SinkCapture {
public:
    static constexpr int Rate = 48000;
    // |sample| above this counts as sound (about -40 dBFS); the monitor of a null sink with
    // nothing playing reads exact zeros.
    static constexpr int DefaultThreshold = 330;

    // latencyMs 0: the server's blockMs if it has one, else 1 ms.
    explicit SinkCapture(const PulseServer& server, int latencyMs = 0);
    ~SinkCapture();
    SinkCapture(const SinkCapture&) = delete;
    SinkCapture& operator=(const SinkCapture&) = delete;

    // Starts parec on the sink's monitor; true once samples come in (the sink is running).
    bool start(QString* why = nullptr);
    // Ends parec and the reading thread; what was captured stays.
    void stop();
    bool isRunning() const { return pid_ > 0; }
    int latencyMs() const { return latencyMs_; }

    // The monotonic clock in microseconds (std::chrono::steady_clock on Linux).
    static qint64 nowUs();

    qint64 sampleCount() const;
    // Monotonic time (µs) at which sample `index` came out; the sample at a time (may lie
    // outside 0..sampleCount()).
    qint64 usOf(qint64 index) const;
    qint64 sampleAt(qint64 us) const;
    // Waits until the capture holds everything that came out up to `us`; false on timeout.
    bool waitUntilCaptured(qint64 us, int timeoutMs);
    // The samples between two times (clipped to what was captured).
    std::vector<qint16> samples(qint64 fromUs, qint64 toUs) const;

    // The time of the first / just after the last sample louder than `threshold` in
    // [fromUs, toUs); nullopt when it is all quiet.
    std::optional<qint64> onsetUs(qint64 fromUs, qint64 toUs,
                                  int threshold = DefaultThreshold) const;
    std::optional<qint64> offsetUs(qint64 fromUs, qint64 toUs,
                                   int threshold = DefaultThreshold) const;
    struct Gap {
        qint64 fromUs = 0;
        qint64 toUs = 0;
        qint64 lengthUs() const { return toUs - fromUs; }
    };
    // Quiet stretches at least `minUs` long inside [fromUs, toUs), both ends excluded: the
    // stretch must have sound before and after it within the range.
    QList<Gap> gaps(qint64 fromUs, qint64 toUs, qint64 minUs,
                    int threshold = DefaultThreshold) const;
    // The longest quiet stretch in [fromUs, toUs), running to either end of the range or not;
    // nullopt when there is sound all through.
    std::optional<Gap> longestQuiet(qint64 fromUs, qint64 toUs,
                                    int threshold = DefaultThreshold) const;
    // How long the sound in [fromUs, toUs) lasts, counted in captured samples (as
    // wavSoundingMs counts a file's): from the first to just after the last sample louder than
    // `threshold`, less the quiet runs of at least `minGapUs` in between. Counted in samples,
    // not as a difference of two sample times: on a sink with long blocks the anchoring of the
    // times can move by a few ms within one prompt. A real dropout is still counted in full:
    // a null sink whose stream runs dry renders zeros, and samples the capture missed are not
    // there to count.
    double soundingMs(qint64 fromUs, qint64 toUs, qint64 minGapUs = 5000,
                      int threshold = DefaultThreshold) const;
    // The largest |sample| in [fromUs, toUs); 0 when nothing was captured there.
    int peak(qint64 fromUs, qint64 toUs) const;
    // Reads and bursts so far, and parec's standard error, for a failure report.
    QString describe() const;

private:
    struct Burst {
        qint64 us = 0;    // when its first read returned
        qint64 first = 0; // index of its first sample
    };
    void readLoop(int fd);
    qint64 offsetNear(qint64 index) const; // with mutex_ held
    qint64 indexAtLocked(qint64 us) const;

    QString address_;
    QString monitor_;
    int latencyMs_ = 1;
    QString errPath_;
    std::unique_ptr<QTemporaryDir> errDir_;
    pid_t pid_ = -1;
    int exitStatus_ = 0; // parec's wait status once stopped
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable grown_;
    std::vector<qint16> data_;
    std::vector<Burst> bursts_;
    qint64 lastReadUs_ = 0;
    bool ended_ = false;
};

// How long a 16-bit PCM WAV file sounds, in ms, judged as SinkCapture judges the capture
// (the channels mixed, |sample| above its threshold): from the first to just after the last
// loud sample, less the quiet stretches of at least 5 ms in between (speech has them). 0 when
// the file cannot be read.
double wavSoundingMs(const QString& path, int threshold = SinkCapture::DefaultThreshold);

// Decodes an audio file (an MP3) with GStreamer's gst-launch-1.0 (decodebin, not this
// project's decoder) to a 16-bit PCM WAV at `wavPath`; false with `why` set on failure.
bool decodeToWav(const QString& file, const QString& wavPath, QString* why);

// How a WAV file comes out of a server's sink when an independent player (paplay, one stream,
// its default buffer) plays it alone: the same resampling to the sink's 48 kHz, down-mixing
// and rounding as any player's stream gets, judged as measurePrompt judges a prompt. The
// reference for what a prompt can at best leave at the sink: speech holds samples within a
// dB of the threshold, which the server's resampling filter moves to either side of it, so a
// file's own sounding length differs from what any player gets out of the sink by a few ms.
struct SinkSound {
    qint64 onsetUs = 0;
    qint64 offsetUs = 0;
    double contentMs = 0; // SinkCapture::soundingMs of the playback
};
std::optional<SinkSound> soundAtSink(const PulseServer& server, const QString& wavPath,
                                     QString* why);

// One prompt recorded into the chip, judged by what came out of the output and when the
// chip was told to record (the SET_REC frame's last byte) and to stop (the STOP byte).
struct PromptSound {
    bool heard = false;
    qint64 onsetUs = 0;  // first sound of the prompt
    qint64 offsetUs = 0; // just after its last sound
    // The first sound after the SET_REC frame's last byte (negative: before it).
    double onsetAfterRecMs = 0;
    // Prompt content the chip did not get: sound before SET_REC was complete, sound after the
    // STOP byte, and content that never came out at all.
    double lostMs = 0;
    double cutMs = 0; // of it: content that never came out
    // The STOP byte after the last sound came out (negative: STOP cut the prompt).
    double stopAfterEndMs = 0;
    // The longest quiet stretch inside the prompt, and the quiet time inside it in all
    // (stretches of at least 5 ms); the content that came out is counted in samples
    // (SinkCapture::soundingMs).
    double longestGapMs = 0;
    double quietMs = 0;
};

// Where one prompt's sound ends and the next one's begins: the middle of the longest quiet
// stretch between the first prompt's STOP and the second's SET_REC frame end (sound may spill
// past a STOP, or start before a SET_REC is complete); the STOP when there is no quiet there.
qint64 promptBoundaryUs(const SinkCapture& capture, qint64 stopUs, qint64 nextRecUs);

// Judges the prompt whose sound lies in [fromUs, toUs) of the capture, `contentMs` long (its
// sound from first to last sample), recorded between `recUs` and `stopUs`.
PromptSound measurePrompt(const SinkCapture& capture, qint64 fromUs, qint64 toUs, qint64 recUs,
                          qint64 stopUs, double contentMs);

} // namespace tamberlo::test

#include "audio/PulseOutput.h"

#include <QCoreApplication>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <time.h>

namespace tamberlo {

namespace {

constexpr int ConnectTimeoutMs = 3000;
constexpr pa_usec_t WatchPeriodUs = 5000;
// The clock's interpolation ends at the frames handed over: near the end, it is not watched.
constexpr int EndSlackMs = 10;
// Until the server's first few timing reports after the start, the interpolated clock runs on
// a guess (it may run ahead, then hold): it is watched once this much has been played. A gap
// before then shows as the server's buffer running dry.
constexpr int AnchorMs = 200;
// The window a stall is looked for in.
constexpr std::int64_t WindowUs = 150000;

// A time `us` from now, as libpulse's main loop API takes it (the wall clock).
timeval* after(timeval* when, pa_usec_t us) {
    pa_gettimeofday(when);
    return pa_timeval_add(when, us);
}

std::int64_t monotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

QString paError(pa_context* context) {
    return QString::fromUtf8(pa_strerror(context ? pa_context_errno(context) : PA_ERR_UNKNOWN));
}

// Waits on the locked loop until `done` holds or the time is up.
template <typename Done> bool waitFor(pa_threaded_mainloop* loop, Done done) {
    const std::int64_t until = monotonicUs() + std::int64_t(ConnectTimeoutMs) * 1000;
    while (!done()) {
        if (monotonicUs() >= until)
            return false;
        // Woken by every state change; the timer below bounds the wait.
        pa_threaded_mainloop_wait(loop);
    }
    return true;
}

void onContext(pa_context*, void* self) {
    static_cast<PulseOutput*>(self)->contextChanged();
}
void onStream(pa_stream*, void* self) {
    static_cast<PulseOutput*>(self)->streamChanged();
}
void onWrite(pa_stream*, std::size_t bytes, void* self) {
    static_cast<PulseOutput*>(self)->writeWanted(bytes);
}
void onDrainedTiming(pa_stream*, int success, void* self) {
    static_cast<PulseOutput*>(self)->drained(success != 0);
}
void onDrained(pa_stream* stream, int success, void* self) {
    if (!success)
        return;
    // What the sink still holds is asked afresh: the last timing update may be from before
    // the sink took the final block.
    pa_operation* update = pa_stream_update_timing_info(stream, onDrainedTiming, self);
    if (update)
        pa_operation_unref(update);
    else
        static_cast<PulseOutput*>(self)->drained(false);
}
void onTimingAnswered(pa_stream*, int, void* self) {
    static_cast<PulseOutput*>(self)->timingAnswered();
}
void onLatencyUpdate(pa_stream*, void* self) {
    static_cast<PulseOutput*>(self)->timingUpdated();
}
void onUnderflow(pa_stream*, void* self) {
    static_cast<PulseOutput*>(self)->ranDry();
}
void onWatch(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
    static_cast<PulseOutput*>(self)->watch();
}

// A wake-up for waits that have nothing else to wake them (a server that never answers).
void onTick(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
    timeval next{};
    api->time_restart(event, after(&next, 50000));
}

} // namespace

PulseOutput::PulseOutput() = default;

PulseOutput::~PulseOutput() {
    if (!loop_)
        return;
    pa_threaded_mainloop_lock(loop_);
    closeStream();
    disconnectServer();
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

bool PulseOutput::connectServer(QString* why) {
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY)
        return true;
    disconnectServer();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "tamberlo");
    pa_context_set_state_callback(context_, onContext, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        *why = QStringLiteral("cannot reach the sound server: %1").arg(paError(context_));
        disconnectServer();
        return false;
    }
    const bool settled = waitFor(loop_, [this] {
        const pa_context_state_t s = pa_context_get_state(context_);
        return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
    });
    if (!settled || pa_context_get_state(context_) != PA_CONTEXT_READY) {
        *why = settled ? QStringLiteral("cannot reach the sound server: %1").arg(paError(context_))
                       : QStringLiteral("the sound server does not answer");
        disconnectServer();
        return false;
    }
    return true;
}

void PulseOutput::disconnectServer() {
    if (!context_)
        return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

bool PulseOutput::start(std::shared_ptr<const Pcm> pcm, std::int64_t fromFrame, QString* why) {
    QString ignored;
    if (!why)
        why = &ignored;
    if (!pcm || pcm->rate <= 0 || pcm->channels <= 0 || pcm->channels > int(PA_CHANNELS_MAX)) {
        *why = QStringLiteral("nothing to play");
        return false;
    }
    if (!loop_) {
        loop_ = pa_threaded_mainloop_new();
        pa_threaded_mainloop_start(loop_);
        pa_threaded_mainloop_lock(loop_);
        timeval when{};
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        api->time_new(api, after(&when, 50000), onTick, loop_);
        pa_threaded_mainloop_unlock(loop_);
    }
    pa_threaded_mainloop_lock(loop_);
    closeStream();
    failure_.clear();
    if (!connectServer(why)) {
        pa_threaded_mainloop_unlock(loop_);
        return false;
    }
    pcm_ = std::move(pcm);
    fromFrame_ = std::clamp<std::int64_t>(fromFrame, 0, pcm_->frames());
    nextFrame_ = fromFrame_;
    handedAll_ = false;
    drainedOutUs_ = 0;
    playingUpdates_ = 0;
    timingAsked_ = false;
    recent_.clear();

    pa_sample_spec sampleFormat{};
    sampleFormat.format = PA_SAMPLE_S16LE;
    sampleFormat.rate = static_cast<std::uint32_t>(pcm_->rate);
    sampleFormat.channels = static_cast<std::uint8_t>(pcm_->channels);
    pa_channel_map map;
    pa_channel_map_init_auto(&map, sampleFormat.channels, PA_CHANNEL_MAP_DEFAULT);
    stream_ = pa_stream_new(context_, "tamberlo", &sampleFormat, &map);
    if (!stream_) {
        *why = QStringLiteral("the sound server refuses the stream: %1").arg(paError(context_));
        pa_threaded_mainloop_unlock(loop_);
        return false;
    }
    pa_stream_set_state_callback(stream_, onStream, this);
    pa_stream_set_write_callback(stream_, onWrite, this);
    pa_stream_set_underflow_callback(stream_, onUnderflow, this);
    pa_stream_set_latency_update_callback(stream_, onLatencyUpdate, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr); // the server's choice, except:
    // The sink keeps only SinkBufferMs ahead of the sound (the server splits that between the
    // stream and the sink), so the played clock and the drain are close to what has come out
    // of the device, whatever the sink's largest latency. The server holds the whole file (up
    // to its limit) from the first write on, beyond that target: no busy moment of this
    // process can starve the output then.
    const std::int64_t remaining =
        (pcm_->frames() - fromFrame_) * pcm_->channels * std::int64_t(sizeof(std::int16_t));
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(SinkBufferMs * 1000, &sampleFormat));
    attr.maxlength = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(remaining, std::int64_t(attr.tlength), MaxBufferBytes));
    bufferBytes_ = attr.maxlength;
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    const QByteArray device = device_;
    if (pa_stream_connect_playback(stream_, device.isEmpty() ? nullptr : device.constData(), &attr,
                                   flags, nullptr, nullptr) < 0) {
        *why = QStringLiteral("the sound server refuses the stream: %1").arg(paError(context_));
        closeStream();
        pa_threaded_mainloop_unlock(loop_);
        return false;
    }
    const bool settled = waitFor(loop_, [this] {
        const pa_stream_state_t s = stream_ ? pa_stream_get_state(stream_) : PA_STREAM_FAILED;
        return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
    });
    if (!settled || !stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) {
        *why = settled ? QStringLiteral("the sound output %1 cannot play: %2")
                             .arg(device.isEmpty() ? QStringLiteral("(default)")
                                                   : QString::fromUtf8(device),
                                  paError(context_))
                       : QStringLiteral("the sound server does not open the stream");
        closeStream();
        pa_threaded_mainloop_unlock(loop_);
        return false;
    }
    playing_ = true;
    failure_.clear(); // what the stream's set-up went through is not this playing's fault
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    timeval when{};
    watchEvent_ = api->time_new(api, after(&when, WatchPeriodUs), onWatch, this);
    pa_threaded_mainloop_unlock(loop_);
    return true;
}

void PulseOutput::stop() {
    if (!loop_)
        return;
    pa_threaded_mainloop_lock(loop_);
    closeStream();
    pa_threaded_mainloop_unlock(loop_);
}

void PulseOutput::closeStream() {
    playing_ = false;
    if (watchEvent_) {
        pa_threaded_mainloop_get_api(loop_)->time_free(watchEvent_);
        watchEvent_ = nullptr;
    }
    if (!stream_)
        return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
        pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseOutput::timingUpdated() {
    const pa_timing_info* timing = stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
    if (timing && timing->playing && timing->read_index > 0)
        ++playingUpdates_;
}

std::int64_t PulseOutput::playedLocked() const {
    // The first timing update of a playing stream may not count the block the sink has just
    // taken as still to come (the clock then leads the sound by up to a block): the clock is
    // believed from the second one on, a few ms into the sound.
    if (!stream_ || !pcm_ || playingUpdates_ < 2)
        return -1;
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    // Not `playing`: once the sink has taken the whole file the stream counts as run dry,
    // while the sink still plays it.
    if (!timing || timing->read_index_corrupt || timing->read_index <= 0)
        return -1;
    // What the sink had taken when the server measured, less what it still held then, plus
    // the time since that measurement. libpulse's own interpolated clock runs on while the
    // stream waits for the sink to start it, then holds until the sound catches up: read in
    // that hold, it leads the sound by tens of milliseconds.
    const pa_sample_spec* format = pa_stream_get_sample_spec(stream_);
    const auto takenUs = static_cast<std::int64_t>(
        pa_bytes_to_usec(static_cast<std::uint64_t>(timing->read_index), format));
    const auto playedUs = takenUs - static_cast<std::int64_t>(timing->sink_usec) +
                          static_cast<std::int64_t>(pa_timeval_age(&timing->timestamp));
    if (playedUs <= 0)
        return -1;
    const std::int64_t frames = playedUs * pcm_->rate / 1000000;
    return std::min(fromFrame_ + frames, nextFrame_);
}

PcmOutput::State PulseOutput::state() const {
    State s;
    if (!loop_)
        return s;
    pa_threaded_mainloop_lock(loop_);
    s.playing = playing_;
    s.failure = failure_;
    if (playing_) {
        s.playedFrames = playedLocked();
        // The interpolated clock may stop a frame or two short of the end; the server's word
        // that everything handed over has been played ends it too.
        // The server acknowledges the drain once the sink has taken the last sample, which it
        // plays after its own latency: the end has come out only when that has passed too
        // (a sink rendering 50 ms blocks acknowledges up to a block early). The interpolated
        // clock reaching the end is not enough on its own for the same reason.
        if (handedAll_ && pcm_)
            s.lastFrameOutUs = drainedOutUs_;
        s.finished = s.lastFrameOutUs > 0 && monotonicUs() >= s.lastFrameOutUs;
        if (s.finished)
            s.playedFrames = pcm_->frames();
    }
    pa_threaded_mainloop_unlock(loop_);
    return s;
}

void PulseOutput::fail(const QString& why) {
    if (playing_ && failure_.isEmpty())
        failure_ = why;
}

void PulseOutput::contextChanged() {
    pa_threaded_mainloop_signal(loop_, 0);
    if (context_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
        fail(QStringLiteral("lost the sound server: %1").arg(paError(context_)));
}

void PulseOutput::streamChanged() {
    pa_threaded_mainloop_signal(loop_, 0);
    if (stream_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
        fail(QStringLiteral("the sound output closed the stream: %1").arg(paError(context_)));
}

void PulseOutput::writeWanted(std::size_t bytes) {
    if (!stream_ || !pcm_ || handedAll_)
        return;
    const auto frameBytes = static_cast<std::size_t>(pcm_->channels) * sizeof(std::int16_t);
    // The first request is answered with as much of the file as the server holds; later
    // ones (a file longer than that) with what they ask.
    const std::size_t wanted = nextFrame_ == fromFrame_ ? std::max(bytes, bufferBytes_) : bytes;
    const std::int64_t frames = std::min<std::int64_t>(
        static_cast<std::int64_t>(wanted / frameBytes), pcm_->frames() - nextFrame_);
    if (frames > 0) {
        const std::int16_t* data =
            pcm_->samples.data() + static_cast<std::size_t>(nextFrame_ * pcm_->channels);
        pa_stream_write(stream_, data, static_cast<std::size_t>(frames) * frameBytes, nullptr, 0,
                        PA_SEEK_RELATIVE);
        nextFrame_ += frames;
    }
    if (nextFrame_ >= pcm_->frames()) {
        handedAll_ = true;
        // Plays out what is still buffered even when it is less than the start threshold.
        pa_operation* drain = pa_stream_drain(stream_, onDrained, this);
        if (drain)
            pa_operation_unref(drain);
    }
}

void PulseOutput::drained(bool freshTiming) {
    if (!playing_)
        return;
    // Everything is in the sink: its last sample comes out the sink's latency after the
    // server measured it. The measurement's moment is the server's stamp, not this
    // callback's (which comes a transport and a wake-up later). Without fresh timing, a whole
    // second of the sink's buffer is allowed for: late, never early.
    const std::int64_t now = monotonicUs();
    const pa_timing_info* timing = stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
    if (freshTiming && timing) {
        const auto age = static_cast<std::int64_t>(
            std::min<pa_usec_t>(pa_timeval_age(&timing->timestamp), timing->transport_usec + 1000));
        drainedOutUs_ = now - age + static_cast<std::int64_t>(timing->sink_usec);
    } else {
        drainedOutUs_ = now + 1000000;
    }
}

void PulseOutput::ranDry() {
    if (!handedAll_)
        fail(QStringLiteral("the sound output ran dry before the end of the file"));
}

void PulseOutput::timingAnswered() {
    timingAsked_ = false;
}

void PulseOutput::watch() {
    if (!stream_ || !playing_)
        return;
    // The played clock carries the server's last measurement forward. libpulse asks for one
    // ever less often (up to 1.5 s apart); the clock stays within FreshTimingMs of one here,
    // and until the sound has started it is asked for at every look.
    const pa_timing_info* last = pa_stream_get_timing_info(stream_);
    const pa_usec_t ageLimit =
        playingUpdates_ < 2 ? WatchPeriodUs : pa_usec_t(FreshTimingMs) * PA_USEC_PER_MSEC;
    if (!timingAsked_ && (!last || pa_timeval_age(&last->timestamp) >= ageLimit)) {
        if (pa_operation* op = pa_stream_update_timing_info(stream_, onTimingAnswered, this)) {
            timingAsked_ = true;
            pa_operation_unref(op);
        }
    }
    const std::int64_t played = playedLocked();
    const std::int64_t playedUs =
        played >= fromFrame_ ? (played - fromFrame_) * 1000000 / pcm_->rate : -1;
    // After the last frame the clock rightly stands still. Once the server has taken every
    // frame into the sink, what is left plays from the sink's own buffer and the clock is
    // the server's interpolation of it (held for a block's worth at the end of a stream):
    // a stall there is no gap in the sound, and STOP waits for the last sample anyway.
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    const bool sinkHasTheRest = handedAll_ && timing && !timing->read_index_corrupt &&
                                !timing->write_index_corrupt &&
                                timing->read_index >= timing->write_index;
    const bool beforeEnd =
        !sinkHasTheRest &&
        (!handedAll_ || played + pcm_->rate * EndSlackMs / 1000 < pcm_->frames());
    if (playedUs >= std::int64_t(AnchorMs) * 1000 && beforeEnd) {
        // A stall is the played clock falling behind the monotonic clock within a short
        // window; a slightly slow or fast clock (the sink's rate, the interpolation) is not.
        const std::int64_t now = monotonicUs();
        while (!recent_.empty() && now - recent_.front().first > WindowUs)
            recent_.pop_front();
        for (const auto& [thenUs, thenPlayedUs] : recent_) {
            const std::int64_t stall = (now - thenUs) - (playedUs - thenPlayedUs);
            if (stall > std::int64_t(StallLimitMs) * 1000) {
                fail(QStringLiteral("the sound output stalled for %1 ms at %2 ms of %3 ms")
                         .arg(stall / 1000)
                         .arg(played * 1000 / pcm_->rate)
                         .arg(pcm_->lengthMs()));
                break;
            }
        }
        recent_.emplace_back(now, playedUs);
    }
    timeval when{};
    pa_threaded_mainloop_get_api(loop_)->time_restart(watchEvent_, after(&when, WatchPeriodUs));
}

// ---- the list of outputs --------------------------------------------------------------

namespace {

struct Listing {
    pa_threaded_mainloop* loop = nullptr;
    QString defaultSink;
    QList<AudioOutput> outputs;
    int pending = 0;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* data) {
    auto* listing = static_cast<Listing*>(data);
    if (info && info->default_sink_name)
        listing->defaultSink = QString::fromUtf8(info->default_sink_name);
    --listing->pending;
    pa_threaded_mainloop_signal(listing->loop, 0);
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data) {
    auto* listing = static_cast<Listing*>(data);
    if (eol) {
        --listing->pending;
        pa_threaded_mainloop_signal(listing->loop, 0);
        return;
    }
    if (info)
        listing->outputs.append(
            {QByteArray(info->name), QString::fromUtf8(info->description), false});
}

void onListContext(pa_context*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

} // namespace

std::optional<QList<AudioOutput>> pulseOutputs(QString* why) {
    Listing listing;
    listing.loop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_start(listing.loop);
    pa_threaded_mainloop_lock(listing.loop);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(listing.loop);
    timeval when{};
    pa_time_event* tick = api->time_new(api, after(&when, 50000), onTick, listing.loop);
    pa_context* context = pa_context_new(api, "tamberlo");
    pa_context_set_state_callback(context, onListContext, listing.loop);
    std::optional<QList<AudioOutput>> result;
    QString reason;
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        reason = paError(context);
    } else {
        const bool settled = waitFor(listing.loop, [context] {
            const pa_context_state_t s = pa_context_get_state(context);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        });
        if (!settled) {
            reason = QStringLiteral("it does not answer");
        } else if (pa_context_get_state(context) != PA_CONTEXT_READY) {
            reason = paError(context);
        } else {
            listing.pending = 2;
            for (pa_operation* asked :
                 {pa_context_get_server_info(context, onServerInfo, &listing),
                  pa_context_get_sink_info_list(context, onSinkInfo, &listing)}) {
                if (asked)
                    pa_operation_unref(asked);
                else
                    --listing.pending; // the question did not go out: no answer to wait for
            }
            if (waitFor(listing.loop, [&listing] { return listing.pending == 0; })) {
                QList<AudioOutput> list;
                for (AudioOutput output : listing.outputs) {
                    output.isDefault = QString::fromUtf8(output.id) == listing.defaultSink;
                    if (output.isDefault)
                        list.prepend(output);
                    else
                        list.append(output);
                }
                result = list;
            } else {
                reason = QStringLiteral("it does not list its outputs");
            }
        }
    }
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    api->time_free(tick);
    pa_threaded_mainloop_unlock(listing.loop);
    pa_threaded_mainloop_stop(listing.loop);
    pa_threaded_mainloop_free(listing.loop);
    if (!result && why)
        *why = reason;
    return result;
}

} // namespace tamberlo

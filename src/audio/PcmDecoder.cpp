#include "audio/PcmDecoder.h"

#include "audio/AudioFormat.h"

#include <QFile>
#include <QUrl>

#include <gst/gst.h>
#include <sndfile.h>

#include <cstring>
#include <mutex>

namespace tamberlo {

namespace {

DecodeResult failed(PcmDecoderKind kind, const QString& error) {
    DecodeResult result;
    result.decoder = kind;
    result.error = error;
    return result;
}

} // namespace

DecodeResult decodeWithSndfile(const QString& path) {
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return failed(PcmDecoderKind::Sndfile, QString::fromLocal8Bit(sf_strerror(nullptr)));
    auto pcm = std::make_shared<Pcm>();
    pcm->rate = info.samplerate;
    pcm->channels = info.channels;
    if (pcm->rate <= 0 || pcm->channels <= 0) {
        sf_close(file);
        return failed(PcmDecoderKind::Sndfile, QStringLiteral("no sample rate or channels"));
    }
    // Float data is scaled to the full 16-bit range, not read as raw numbers.
    sf_command(file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    // The frame count the header states is an estimate for some formats (MP3): read until
    // the decoder has no more, so the length is the samples there are.
    if (info.frames > 0 && info.frames < (std::int64_t(1) << 31))
        pcm->samples.reserve(static_cast<std::size_t>(info.frames * info.channels));
    constexpr sf_count_t Chunk = 8192;
    std::vector<std::int16_t> buffer(static_cast<std::size_t>(Chunk * info.channels));
    for (;;) {
        const sf_count_t got = sf_readf_short(file, buffer.data(), Chunk);
        if (got <= 0)
            break;
        pcm->samples.insert(pcm->samples.end(), buffer.begin(),
                            buffer.begin() + static_cast<std::ptrdiff_t>(got * info.channels));
    }
    const int error = sf_error(file);
    const QString errorText = QString::fromLocal8Bit(sf_strerror(file));
    sf_close(file);
    if (error != SF_ERR_NO_ERROR && pcm->samples.empty())
        return failed(PcmDecoderKind::Sndfile, errorText);
    if (pcm->samples.empty())
        return failed(PcmDecoderKind::Sndfile, QStringLiteral("no sound in the file"));
    DecodeResult result;
    result.pcm = std::move(pcm);
    return result;
}

namespace {

struct GstCollect {
    Pcm* pcm = nullptr;
    bool formatKnown = false;
};

void onHandoff(GstElement*, GstBuffer* buffer, GstPad* pad, gpointer data) {
    auto* collect = static_cast<GstCollect*>(data);
    if (!collect->formatKnown) {
        if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
            const GstStructure* s = gst_caps_get_structure(caps, 0);
            gst_structure_get_int(s, "rate", &collect->pcm->rate);
            gst_structure_get_int(s, "channels", &collect->pcm->channels);
            collect->formatKnown = true;
            gst_caps_unref(caps);
        }
    }
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    const auto* samples = reinterpret_cast<const std::int16_t*>(map.data);
    collect->pcm->samples.insert(collect->pcm->samples.end(), samples,
                                 samples + map.size / sizeof(std::int16_t));
    gst_buffer_unmap(buffer, &map);
}

} // namespace

DecodeResult decodeWithGStreamer(const QString& path) {
    static std::once_flag once;
    std::call_once(once, [] { gst_init_check(nullptr, nullptr, nullptr); });

    GError* parseError = nullptr;
    GstElement* pipeline =
        gst_parse_launch("uridecodebin name=source ! audioconvert ! audioresample ! "
                         "audio/x-raw,format=S16LE,layout=interleaved ! "
                         "fakesink name=sink sync=false signal-handoffs=true",
                         &parseError);
    if (!pipeline) {
        const QString text = QString::fromUtf8(parseError ? parseError->message : "no pipeline");
        if (parseError)
            g_error_free(parseError);
        return failed(PcmDecoderKind::GStreamer, text);
    }
    if (parseError)
        g_error_free(parseError);

    auto pcm = std::make_shared<Pcm>();
    GstCollect collect{pcm.get(), false};
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    g_object_set(source, "uri", uri.constData(), nullptr);
    g_signal_connect(sink, "handoff", G_CALLBACK(onHandoff), &collect);

    QString error;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        error = QStringLiteral("the decoding pipeline does not start");
    GstBus* bus = gst_element_get_bus(pipeline);
    while (error.isEmpty()) {
        // A minute is far more than any prompt takes; a pipeline that hangs is a failure.
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (!message) {
            error = QStringLiteral("decoding timed out");
            break;
        }
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError* e = nullptr;
            gst_message_parse_error(message, &e, nullptr);
            error = QString::fromUtf8(e ? e->message : "decoding failed");
            if (e)
                g_error_free(e);
        }
        gst_message_unref(message);
        break;
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(sink);
    gst_object_unref(source);
    gst_object_unref(pipeline);

    if (error.isEmpty() && (pcm->samples.empty() || pcm->rate <= 0 || pcm->channels <= 0))
        error = QStringLiteral("no sound in the file");
    if (!error.isEmpty())
        return failed(PcmDecoderKind::GStreamer, error);
    // A partial frame at the end (never seen, but a length must be whole frames).
    pcm->samples.resize(static_cast<std::size_t>(pcm->frames() * pcm->channels));
    DecodeResult result;
    result.pcm = std::move(pcm);
    result.decoder = PcmDecoderKind::GStreamer;
    return result;
}

DecodeResult decodeAudioFile(const QString& path) {
    const std::optional<AudioFormat> format = identifyAudioFile(path);
    // libsndfile reads an MPEG stream without a VBR header only as far as the frames its first
    // frame's bit rate suggests (a third of a VBR file): GStreamer reads every frame.
    const bool gstreamerFirst = format && format->mpegStream && !format->mpegVbrHeader;
    DecodeResult result = gstreamerFirst ? decodeWithGStreamer(path) : decodeWithSndfile(path);
    if (!result.pcm) {
        DecodeResult other = gstreamerFirst ? decodeWithSndfile(path) : decodeWithGStreamer(path);
        if (!other.pcm)
            other.error = QStringLiteral("%1; %2").arg(result.error, other.error);
        result = std::move(other);
    }
    // Compressed WAV data ends in a whole block: the samples the file states are its sound,
    // the rest of the last block is padding.
    if (result.pcm && format && format->samples > 0 && format->samples < result.pcm->frames()) {
        auto trimmed = std::make_shared<Pcm>(*result.pcm);
        trimmed->samples.resize(static_cast<std::size_t>(format->samples * trimmed->channels));
        result.pcm = std::move(trimmed);
    }
    return result;
}

} // namespace tamberlo

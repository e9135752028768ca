#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tamberlo {

// A whole audio file decoded to 16-bit PCM, channels interleaved: what is played, sample for
// sample, so its length is exact.
struct Pcm {
    int rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;

    std::int64_t frames() const {
        return channels > 0 ? static_cast<std::int64_t>(samples.size()) / channels : 0;
    }
    // The length in milliseconds, rounded to the nearest.
    std::int64_t lengthMs() const { return rate > 0 ? (frames() * 1000 + rate / 2) / rate : 0; }
    std::int64_t framesAt(std::int64_t ms) const { return ms * rate / 1000; }
};

// Which library decoded a file.
enum class PcmDecoderKind { Sndfile, GStreamer };

struct DecodeResult {
    std::shared_ptr<const Pcm> pcm; // null when the file could not be decoded
    PcmDecoderKind decoder = PcmDecoderKind::Sndfile;
    QString error; // the decoder's own words (English), for the log
};

// Decodes the whole file: libsndfile for what it reads (WAV in its common encodings, AIFF,
// FLAC, Ogg, MP3), GStreamer's automatic decoding for the rest (AAC, WMA, ...). Synchronous;
// needs no event loop and no display.
DecodeResult decodeAudioFile(const QString& path);

// The two decoders on their own, for tests and measurements.
DecodeResult decodeWithSndfile(const QString& path);
DecodeResult decodeWithGStreamer(const QString& path);

} // namespace tamberlo

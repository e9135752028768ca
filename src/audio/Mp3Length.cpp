#include "audio/Mp3Length.h"

#include <QFile>

namespace tamberlo {

namespace {

struct Frame {
    int bytes = 0;
    int samples = 0;
    int rate = 0;
};

// The frame whose header starts at p, if it is one.
std::optional<Frame> frameAt(const unsigned char* p, std::size_t available) {
    if (available < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int version = (p[1] >> 3) & 3; // 0: MPEG 2.5, 2: MPEG 2, 3: MPEG 1
    const int layer = (p[1] >> 1) & 3;   // 1: III, 2: II, 3: I
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    const int padding = (p[2] >> 1) & 1;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;

    static constexpr int rates[3] = {44100, 48000, 32000};
    static constexpr int kbps[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // 1, I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // 1, II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // 1, III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // 2, I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // 2, II/III
    };
    const bool mpeg1 = version == 3;
    const int rate = rates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const int bitrate = kbps[table][bitrateIndex] * 1000;

    Frame f;
    f.rate = rate;
    if (layer == 3) { // layer I
        f.samples = 384;
        f.bytes = (12 * bitrate / rate + padding) * 4;
    } else if (layer == 2 || mpeg1) { // layer II, or layer III of MPEG 1
        f.samples = 1152;
        f.bytes = 144 * bitrate / rate + padding;
    } else { // layer III of MPEG 2 and 2.5
        f.samples = 576;
        f.bytes = 72 * bitrate / rate + padding;
    }
    if (f.bytes < 4)
        return std::nullopt;
    return f;
}

bool isVbrHeaderFrame(const unsigned char* p, int bytes) {
    const QByteArray frame =
        QByteArray::fromRawData(reinterpret_cast<const char*>(p), std::min(bytes, 64));
    return frame.contains("Xing") || frame.contains("Info") || frame.contains("VBRI");
}

} // namespace

std::optional<std::int64_t> mpegAudioLengthMs(const QByteArray& data) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const auto size = static_cast<std::size_t>(data.size());
    std::size_t pos = 0;

    // ID3v2 tags, possibly more than one.
    while (size - pos >= 10 && bytes[pos] == 'I' && bytes[pos + 1] == 'D' &&
           bytes[pos + 2] == '3') {
        const std::size_t tagSize = (std::size_t(bytes[pos + 6] & 0x7F) << 21) |
                                    (std::size_t(bytes[pos + 7] & 0x7F) << 14) |
                                    (std::size_t(bytes[pos + 8] & 0x7F) << 7) |
                                    std::size_t(bytes[pos + 9] & 0x7F);
        const std::size_t footer = (bytes[pos + 5] & 0x10) ? 10 : 0;
        pos += 10 + tagSize + footer;
        if (pos >= size)
            return std::nullopt;
    }

    // The first frame: two frames in a row, so that stray sync bits are not taken for one.
    std::optional<Frame> first;
    constexpr std::size_t maxJunk = 64 * 1024;
    const std::size_t searchEnd = std::min(size, pos + maxJunk);
    for (; pos < searchEnd; ++pos) {
        first = frameAt(bytes + pos, size - pos);
        if (!first)
            continue;
        const std::size_t next = pos + static_cast<std::size_t>(first->bytes);
        if (next == size || (next < size && frameAt(bytes + next, size - next)))
            break;
        first.reset();
    }
    if (!first)
        return std::nullopt;

    // Samples counted per sample rate: the rate does not change within a proper file, but
    // a summed time is right even if it does.
    double seconds = 0;
    bool counted = false;
    bool firstFrame = true;
    while (pos < size) {
        const auto frame = frameAt(bytes + pos, size - pos);
        if (!frame)
            break; // a trailing tag or garbage ends the audio
        if (pos + static_cast<std::size_t>(frame->bytes) > size)
            break; // a cut-off last frame is not played
        if (!(firstFrame && isVbrHeaderFrame(bytes + pos, frame->bytes))) {
            seconds += double(frame->samples) / frame->rate;
            counted = true;
        }
        firstFrame = false;
        pos += static_cast<std::size_t>(frame->bytes);
    }
    if (!counted)
        return std::nullopt;
    return static_cast<std::int64_t>(seconds * 1000.0 + 0.5);
}

std::optional<std::int64_t> mpegAudioFileLengthMs(const QString& path) {
    QFile file(path);
    // Mapped rather than read, so a long file costs no copy.
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return std::nullopt;
    const qint64 size = file.size();
    uchar* mapped = file.map(0, size);
    if (mapped) {
        const auto result =
            mpegAudioLengthMs(QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), size));
        file.unmap(mapped);
        return result;
    }
    return mpegAudioLengthMs(file.readAll());
}

} // namespace tamberlo

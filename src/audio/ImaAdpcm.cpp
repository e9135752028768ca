#include "audio/ImaAdpcm.h"

#include <QtEndian>
#include <algorithm>

namespace tamberlo {

namespace {

constexpr int indexStep[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
constexpr int stepSize[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

struct Channel {
    int predictor = 0;
    int index = 0;

    int decode(int code) {
        const int step = stepSize[index];
        int diff = step >> 3;
        if (code & 1)
            diff += step >> 2;
        if (code & 2)
            diff += step >> 1;
        if (code & 4)
            diff += step;
        predictor = std::clamp(predictor + ((code & 8) ? -diff : diff), -32768, 32767);
        index = std::clamp(index + indexStep[code], 0, 88);
        return predictor;
    }
};

void put16(char* at, int sample) {
    qToLittleEndian(static_cast<qint16>(sample), at);
}

} // namespace

int imaAdpcmSamplesPerBlock(int blockAlign, int channels) {
    if (channels <= 0 || blockAlign <= 4 * channels)
        return 0;
    return (blockAlign - 4 * channels) * 2 / channels + 1;
}

void decodeImaAdpcmBlock(const char* block, int blockBytes, int channels, int samplesPerChannel,
                         QByteArray& out) {
    const qsizetype start = out.size();
    out.resize(start + qsizetype(samplesPerChannel) * channels * 2); // zeroed past a short block
    std::fill(out.begin() + start, out.end(), '\0');
    char* pcm = out.data() + start;
    if (samplesPerChannel <= 0 || blockBytes < 4 * channels)
        return;
    for (int c = 0; c < channels; ++c) {
        Channel ch;
        ch.predictor = qFromLittleEndian<qint16>(block + 4 * c);
        ch.index = std::clamp(int(static_cast<unsigned char>(block[4 * c + 2])), 0, 88);
        put16(pcm + 2 * c, ch.predictor);
        // After the headers: 4 bytes (8 codes) of each channel in turn.
        int sample = 1;
        for (int group = 0; sample < samplesPerChannel; ++group) {
            const int at = 4 * channels + (group * channels + c) * 4;
            if (at + 4 > blockBytes)
                break;
            for (int b = 0; b < 4 && sample < samplesPerChannel; ++b) {
                const auto byte = static_cast<unsigned char>(block[at + b]);
                for (int code : {byte & 0x0F, byte >> 4}) {
                    if (sample >= samplesPerChannel)
                        break;
                    put16(pcm + (qsizetype(sample) * channels + c) * 2, ch.decode(code));
                    ++sample;
                }
            }
        }
    }
}

std::unique_ptr<ImaAdpcmAsPcm> ImaAdpcmAsPcm::open(const QString& path, const AudioFormat& format) {
    if (format.container != QLatin1String("WAV") || format.codec != QLatin1String("IMA ADPCM") ||
        format.sampleRate <= 0 || format.sampleRate > 768000 || format.channels > 8 ||
        format.dataBytes <= 0)
        return nullptr;
    const int samplesPerBlock = imaAdpcmSamplesPerBlock(format.blockAlign, format.channels);
    if (samplesPerBlock <= 0)
        return nullptr;
    std::unique_ptr<ImaAdpcmAsPcm> device(new ImaAdpcmAsPcm(path, format, samplesPerBlock));
    if (!device->file_.open(QIODevice::ReadOnly) || !device->QIODevice::open(QIODevice::ReadOnly))
        return nullptr;
    return device;
}

ImaAdpcmAsPcm::ImaAdpcmAsPcm(const QString& path, const AudioFormat& format, int samplesPerBlock)
    : file_(path), format_(format), samplesPerBlock_(samplesPerBlock) {
    const qint64 blocks = (format.dataBytes + format.blockAlign - 1) / format.blockAlign;
    qint64 samples = blocks * samplesPerBlock;
    if (format.samples > 0)
        samples = std::min<qint64>(samples, format.samples);
    const int frameBytes = 2 * format.channels;
    pcmBytes_ = samples * frameBytes;

    const auto put = [this](quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            header_.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    header_.append("RIFF");
    put(static_cast<quint32>(std::min<qint64>(36 + pcmBytes_, 0xFFFFFFFF)), 4);
    header_.append("WAVEfmt ");
    put(16, 4);
    put(1, 2); // PCM
    put(static_cast<quint32>(format.channels), 2);
    put(static_cast<quint32>(format.sampleRate), 4);
    put(static_cast<quint32>(format.sampleRate * frameBytes), 4);
    put(static_cast<quint32>(frameBytes), 2);
    put(16, 2);
    header_.append("data");
    put(static_cast<quint32>(std::min<qint64>(pcmBytes_, 0xFFFFFFFF)), 4);
}

qint64 ImaAdpcmAsPcm::readData(char* data, qint64 maxSize) {
    qint64 done = 0;
    qint64 at = pos();
    while (done < maxSize && at < size()) {
        if (at < header_.size()) {
            const qint64 n = std::min(maxSize - done, header_.size() - at);
            std::copy_n(header_.constData() + at, n, data + done);
            done += n;
            at += n;
            continue;
        }
        const qint64 blockPcmBytes = qint64(samplesPerBlock_) * 2 * format_.channels;
        const qint64 pcmAt = at - header_.size();
        const qint64 block = pcmAt / blockPcmBytes;
        if (block != cachedBlock_) {
            if (!file_.seek(format_.dataOffset + block * format_.blockAlign))
                return done > 0 ? done : -1;
            const QByteArray bytes = file_.read(format_.blockAlign);
            cachedPcm_.clear();
            decodeImaAdpcmBlock(bytes.constData(), static_cast<int>(bytes.size()), format_.channels,
                                samplesPerBlock_, cachedPcm_);
            cachedBlock_ = block;
        }
        const qint64 offset = pcmAt - block * blockPcmBytes;
        const qint64 n = std::min({maxSize - done, blockPcmBytes - offset, size() - at});
        std::copy_n(cachedPcm_.constData() + offset, n, data + done);
        done += n;
        at += n;
    }
    return done;
}

} // namespace tamberlo

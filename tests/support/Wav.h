#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>
#include <cmath>

namespace tamberlo::test {

// A 16-bit PCM WAV file's 44-byte header, for `dataBytes` bytes of samples.
inline QByteArray wavHeader(int rate, int channels, quint32 dataBytes) {
    QByteArray out;
    const auto put = [&out](quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    out.append("RIFF");
    put(36 + dataBytes, 4);
    out.append("WAVEfmt ");
    put(16, 4);
    put(1, 2); // PCM
    put(static_cast<quint32>(channels), 2);
    put(static_cast<quint32>(rate), 4);
    put(static_cast<quint32>(rate * channels * 2), 4);
    put(static_cast<quint32>(channels * 2), 2);
    put(16, 2);
    out.append("data");
    put(dataBytes, 4);
    return out;
}

// A 16-bit PCM WAV file, `ms` long, each frame's samples (one a channel) from `sample`.
template <typename Sample>
bool writePcmWav(const QString& path, int rate, int channels, int ms, Sample sample) {
    const qint64 frames = static_cast<qint64>(rate) * ms / 1000;
    const auto dataBytes = static_cast<quint32>(frames * channels * 2);
    QByteArray out = wavHeader(rate, channels, dataBytes);
    out.reserve(static_cast<qsizetype>(44 + dataBytes));
    for (qint64 i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            char b[2];
            qToLittleEndian(static_cast<quint16>(sample(i, frames)), b);
            out.append(b, 2);
        }
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size();
}

// Writes a 16-bit PCM WAV file of a 440 Hz tone, `ms` long, for tests and benchmarks that
// need real audio files without shipping any.
inline bool writeWav(const QString& path, int rate, int channels, int ms) {
    return writePcmWav(path, rate, channels, ms, [rate](qint64 i, qint64) {
        return static_cast<qint16>(5000 * std::sin(2 * M_PI * 440.0 * double(i) / rate));
    });
}

} // namespace tamberlo::test

#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>
#include <cmath>

namespace tamberlo::test {

// Writes a 16-bit PCM WAV file of a 440 Hz tone, `ms` long, for tests and benchmarks that
// need real audio files without shipping any.
inline bool writeWav(const QString& path, int rate, int channels, int ms) {
    const qint64 frames = static_cast<qint64>(rate) * ms / 1000;
    const auto dataBytes = static_cast<quint32>(frames * channels * 2);
    QByteArray out;
    out.reserve(static_cast<qsizetype>(44 + dataBytes));
    const auto put32 = [&out](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    };
    const auto put16 = [&out](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        out.append(b, 2);
    };
    out.append("RIFF");
    put32(36 + dataBytes);
    out.append("WAVEfmt ");
    put32(16);
    put16(1); // PCM
    put16(static_cast<quint16>(channels));
    put32(static_cast<quint32>(rate));
    put32(static_cast<quint32>(rate * channels * 2));
    put16(static_cast<quint16>(channels * 2));
    put16(16);
    out.append("data");
    put32(dataBytes);
    for (qint64 i = 0; i < frames; ++i) {
        const auto s = static_cast<qint16>(5000 * std::sin(2 * M_PI * 440.0 * double(i) / rate));
        for (int c = 0; c < channels; ++c)
            put16(static_cast<quint16>(s));
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size();
}

} // namespace tamberlo::test

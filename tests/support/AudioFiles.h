#pragma once

// Audio files of the kinds people have (compressed WAV, MP3 with and without a VBR header,
// Ogg, FLAC, AAC), made at test time from a WAV written here, with Debian's own tools: sox,
// lame and GStreamer's gst-launch-1.0. Nothing binary is kept in the repository.

#include "support/Wav.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <cmath>
#include <random>

namespace tamberlo::test {

// A 16-bit PCM WAV file, `ms` long: a 440 Hz tone for the first half, the tone with loud
// noise for the second, so that a variable-rate encoder uses very different frame sizes in
// the two halves (and a length guessed from the first frames comes out wrong).
inline bool writeVariedWav(const QString& path, int rate, int channels, int ms) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> noise(-12000, 12000);
    return writePcmWav(path, rate, channels, ms, [&, rate](qint64 i, qint64 frames) {
        const double tone = 6000 * std::sin(2 * M_PI * 440.0 * double(i) / rate);
        return static_cast<qint16>(static_cast<int>(tone) + (i >= frames / 2 ? noise(random) : 0));
    });
}

// The kinds of file makeAudioFile makes.
enum class AudioKind {
    ImaAdpcmWav,
    Gsm610Wav,
    MuLawWav,
    ALawWav,
    Pcm8Wav,
    Pcm24Wav,
    FloatWav,
    Mp3CbrXing, // CBR with its "Info" header frame
    Mp3Cbr,     // CBR, no header frame
    Mp3VbrXing, // VBR with its "Xing" header frame
    Mp3Vbr,     // VBR, no header frame
    OggVorbis,
    Flac,
    AacM4a,
};

// Why a file was not made: the tool that is missing (the test skips, naming it), or what a
// tool said when it failed (the test fails).
struct MakeResult {
    QString missingTool;
    QString failure;
    bool ok() const { return missingTool.isEmpty() && failure.isEmpty(); }
};

namespace detail {

inline MakeResult run(const QString& tool, const QString& package, const QStringList& args) {
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        return {QStringLiteral("%1 (Debian package %2)").arg(tool, package), {}};
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {{},
                QStringLiteral("%1 %2 failed: %3")
                    .arg(tool, args.join(QLatin1Char(' ')),
                         QString::fromLocal8Bit(p.readAll()).trimmed())};
    return {};
}

// The first of GStreamer's AAC encoders that is installed.
inline QString aacEncoder() {
    const QString inspect = QStandardPaths::findExecutable(QStringLiteral("gst-inspect-1.0"));
    if (inspect.isEmpty())
        return {};
    for (const char* name : {"avenc_aac", "voaacenc", "fdkaacenc"})
        if (QProcess::execute(inspect, {QStringLiteral("--exists"), QLatin1String(name)}) == 0)
            return QLatin1String(name);
    return {};
}

} // namespace detail

// Makes `out` of kind `kind` from the 16-bit PCM WAV file `source`, keeping its sample rate
// and channels (GSM 6.10 needs 8 kHz mono sources).
inline MakeResult makeAudioFile(AudioKind kind, const QString& source, const QString& out) {
    using detail::run;
    const QString sox = QStringLiteral("sox");
    const QString lame = QStringLiteral("lame");
    const auto soxTo = [&](QStringList options) {
        return run(sox, QStringLiteral("sox"), QStringList{source} << options << out);
    };
    const auto lameWith = [&](QStringList options) {
        return run(lame, QStringLiteral("lame"),
                   QStringList{QStringLiteral("--quiet")} << options << source << out);
    };
    switch (kind) {
    case AudioKind::ImaAdpcmWav:
        return soxTo({QStringLiteral("-e"), QStringLiteral("ima-adpcm")});
    case AudioKind::Gsm610Wav:
        return soxTo({QStringLiteral("-e"), QStringLiteral("gsm-full-rate")});
    case AudioKind::MuLawWav:
        return soxTo({QStringLiteral("-e"), QStringLiteral("mu-law")});
    case AudioKind::ALawWav:
        return soxTo({QStringLiteral("-e"), QStringLiteral("a-law")});
    case AudioKind::Pcm8Wav:
        return soxTo({QStringLiteral("-b"), QStringLiteral("8")});
    case AudioKind::Pcm24Wav:
        return soxTo({QStringLiteral("-b"), QStringLiteral("24")});
    case AudioKind::FloatWav:
        return soxTo({QStringLiteral("-e"), QStringLiteral("floating-point"), QStringLiteral("-b"),
                      QStringLiteral("32")});
    case AudioKind::Mp3CbrXing:
        return lameWith({QStringLiteral("-b"), QStringLiteral("128")});
    case AudioKind::Mp3Cbr:
        return lameWith({QStringLiteral("-b"), QStringLiteral("128"), QStringLiteral("-t")});
    case AudioKind::Mp3VbrXing:
        return lameWith({QStringLiteral("-V"), QStringLiteral("4")});
    case AudioKind::Mp3Vbr:
        return lameWith({QStringLiteral("-V"), QStringLiteral("4"), QStringLiteral("-t")});
    case AudioKind::OggVorbis:
    case AudioKind::Flac:
        return soxTo({}); // by the name's extension
    case AudioKind::AacM4a: {
        const QString encoder = detail::aacEncoder();
        if (encoder.isEmpty())
            return {QStringLiteral("a GStreamer AAC encoder, avenc_aac (Debian packages "
                                   "gstreamer1.0-tools, gstreamer1.0-libav)"),
                    {}};
        return run(QStringLiteral("gst-launch-1.0"), QStringLiteral("gstreamer1.0-tools"),
                   {QStringLiteral("-q"), QStringLiteral("filesrc"),
                    QStringLiteral("location=") + source, QStringLiteral("!"),
                    QStringLiteral("wavparse"), QStringLiteral("!"), QStringLiteral("audioconvert"),
                    QStringLiteral("!"), encoder, QStringLiteral("!"), QStringLiteral("mp4mux"),
                    QStringLiteral("!"), QStringLiteral("filesink"),
                    QStringLiteral("location=") + out});
    }
    }
    return {{}, QStringLiteral("unknown kind")};
}

} // namespace tamberlo::test

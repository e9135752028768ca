// Telling an audio file's format from its bytes, and decoding IMA ADPCM, on files made here
// with Debian's tools.
#include "audio/AudioFormat.h"
#include "audio/PcmDecoder.h"
#include "support/AudioFiles.h"
#include "support/Wav.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace tamberlo;
using test::AudioKind;

Q_DECLARE_METATYPE(tamberlo::test::AudioKind)

class TestAudioFormat : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }
    void identify_data();
    void identify();
    void notAudio_data();
    void notAudio();
    void imaAdpcmDecodesAsSoxDoes_data();
    void imaAdpcmDecodesAsSoxDoes();

private:
    // `kind` made from a varied WAV of `ms` at `rate` and `channels`; empty and skipped when
    // a tool is missing.
    QString make(AudioKind kind, const QString& name, int rate, int channels, int ms) {
        const QString source = dir_.filePath(name + QStringLiteral("-source.wav"));
        const QString file = dir_.filePath(name);
        if (!test::writeVariedWav(source, rate, channels, ms))
            return {};
        made_ = test::makeAudioFile(kind, source, file);
        return made_.ok() ? file : QString();
    }
    QTemporaryDir dir_;
    test::MakeResult made_;
};

void TestAudioFormat::identify_data() {
    QTest::addColumn<AudioKind>("kind");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("decoderPackage"); // of the last step; empty for none
    QTest::addColumn<qint64>("samples");         // stated by the file; 0 for none
    QTest::addColumn<bool>("vbrHeader");
    QTest::addColumn<bool>("padByte");
    QTest::newRow("IMA ADPCM") << AudioKind::ImaAdpcmWav << "a.wav" << 22050 << "IMA ADPCM WAV"
                               << "gstreamer1.0-plugins-bad" << qint64(22050) << false << false;
    QTest::newRow("GSM 6.10") << AudioKind::Gsm610Wav << "b.wav" << 8000 << "GSM 6.10 WAV"
                              << "gstreamer1.0-plugins-bad" << qint64(8000) << false << false;
    QTest::newRow("u-law") << AudioKind::MuLawWav << "c.wav" << 8000 << "µ-law WAV"
                           << "gstreamer1.0-plugins-good" << qint64(8000) << false << false;
    QTest::newRow("A-law") << AudioKind::ALawWav << "d.wav" << 8000 << "A-law WAV"
                           << "gstreamer1.0-plugins-good" << qint64(8000) << false << false;
    QTest::newRow("8-bit, odd size") << AudioKind::Pcm8Wav << "e.wav" << 11025 << "PCM WAV"
                                     << "gstreamer1.0-plugins-good" << qint64(0) << false << true;
    QTest::newRow("float") << AudioKind::FloatWav << "f.wav" << 44100 << "IEEE float WAV"
                           << "gstreamer1.0-plugins-good" << qint64(0) << false << false;
    QTest::newRow("MP3 CBR, Info") << AudioKind::Mp3CbrXing << "g.mp3" << 44100 << "MP3"
                                   << "gstreamer1.0-plugins-good" << qint64(0) << true << false;
    QTest::newRow("MP3 VBR, no Xing") << AudioKind::Mp3Vbr << "h.mp3" << 44100 << "MP3"
                                      << "gstreamer1.0-plugins-good" << qint64(0) << false << false;
    QTest::newRow("Ogg Vorbis") << AudioKind::OggVorbis << "i.ogg" << 44100 << "Vorbis Ogg"
                                << "gstreamer1.0-plugins-base" << qint64(0) << false << false;
    QTest::newRow("FLAC") << AudioKind::Flac << "j.flac" << 44100 << "FLAC"
                          << "gstreamer1.0-plugins-good" << qint64(0) << false << false;
    QTest::newRow("AAC M4A") << AudioKind::AacM4a << "k.m4a" << 44100 << "AAC MP4"
                             << "gstreamer1.0-libav" << qint64(0) << false << false;
}

void TestAudioFormat::identify() {
    QFETCH(AudioKind, kind);
    QFETCH(QString, file);
    QFETCH(int, rate);
    QFETCH(QString, name);
    QFETCH(QString, decoderPackage);
    QFETCH(qint64, samples);
    QFETCH(bool, vbrHeader);
    QFETCH(bool, padByte);
    const QString path = make(kind, file, rate, 1, 1000);
    if (!made_.missingTool.isEmpty())
        QSKIP(qPrintable(made_.missingTool + QStringLiteral(" is not installed")));
    QVERIFY2(made_.failure.isEmpty(), qPrintable(made_.failure));

    const auto format = identifyAudioFile(path);
    QVERIFY(format);
    QCOMPARE(format->name(), name);
    QVERIFY(!format->steps.empty());
    QCOMPARE(format->steps.back().package, decoderPackage);
    QCOMPARE(format->samples, samples);
    QCOMPARE(format->mpegVbrHeader, vbrHeader);
    QCOMPARE(format->endsInPadByte, padByte);
}

void TestAudioFormat::notAudio_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("text") << QByteArray("not a sound file at all, just words\n");
    QTest::newRow("RIFF cut short") << QByteArray("RIFF\x24\x00\x00\x00WAVEfm", 14);
    QTest::newRow("WAV of an unknown codec")
        << QByteArray("RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x22\x00\x01\x00", 24);
    QTest::newRow("MP4 without a movie") << QByteArray("\x00\x00\x00\x10"
                                                       "ftypM4A \x00\x00\x00\x00",
                                                       16);
    QTest::newRow("Ogg of an unknown codec") << QByteArray("OggS").append(40, '\x01');
    QTest::newRow("empty") << QByteArray();
}

void TestAudioFormat::notAudio() {
    QFETCH(QByteArray, bytes);
    QFile f(dir_.filePath(QStringLiteral("x")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    QVERIFY(!identifyAudioFile(f.fileName()));
}

void TestAudioFormat::imaAdpcmDecodesAsSoxDoes_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::newRow("mono 22.05 kHz") << 22050 << 1;
    QTest::newRow("stereo 44.1 kHz") << 44100 << 2;
}

void TestAudioFormat::imaAdpcmDecodesAsSoxDoes() {
    QFETCH(int, rate);
    QFETCH(int, channels);
    const QString name = QStringLiteral("ima-%1-%2.wav").arg(rate).arg(channels);
    const QString path = make(AudioKind::ImaAdpcmWav, name, rate, channels, 1234);
    if (!made_.missingTool.isEmpty())
        QSKIP(qPrintable(made_.missingTool + QStringLiteral(" is not installed")));
    QVERIFY2(made_.failure.isEmpty(), qPrintable(made_.failure));
    // sox's own decoder as the reference.
    const QString reference = dir_.filePath(name + QStringLiteral("-sox.wav"));
    QCOMPARE(QProcess::execute(QStringLiteral("sox"),
                               {path, QStringLiteral("-e"), QStringLiteral("signed-integer"),
                                QStringLiteral("-b"), QStringLiteral("16"), reference}),
             0);
    QFile ref(reference);
    QVERIFY(ref.open(QIODevice::ReadOnly));
    const QByteArray expected = ref.readAll();

    const auto format = identifyAudioFile(path);
    QVERIFY(format);
    const DecodeResult decoded = decodeAudioFile(path);
    QVERIFY2(decoded.pcm, qPrintable(decoded.error));
    const Pcm& pcm = *decoded.pcm;
    QCOMPARE(pcm.rate, rate);
    QCOMPARE(pcm.channels, channels);
    // The samples the file states, of the blocks sox decodes whole.
    QCOMPARE(pcm.frames(), format->samples);
    const QByteArray got(reinterpret_cast<const char*>(pcm.samples.data()),
                         static_cast<qsizetype>(pcm.samples.size() * sizeof(std::int16_t)));
    QVERIFY(expected.size() >= 44 + got.size());
    QVERIFY(got == expected.mid(44, got.size())); // sample for sample
}

QTEST_MAIN(TestAudioFormat)
#include "tst_audio_format.moc"

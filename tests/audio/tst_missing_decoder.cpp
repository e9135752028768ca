// A file whose decoder is not installed: the operator is told, in the panel's language, which
// file, that no decoder for its format is installed, and which Debian package normally
// provides one; a format another library decodes opens without them. The decoders are hidden from
// GStreamer for this process by giving them the rank "none", which is how a machine without their
// package looks to automatic decoding.
#include "audio/AudioFormat.h"
#include "audio/DecoderRegistry.h"
#include "panel/AudioSource.h"
#include "panel/Form1.h"
#include "support/AudioFiles.h"
#include "support/Fakes.h"
#include "support/Wav.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace tamberlo;
using test::AudioKind;

Q_DECLARE_METATYPE(tamberlo::test::AudioKind)

namespace {

// Every GStreamer 1.22 decoder of GSM 6.10 and of AAC, from the Debian packages.
constexpr char hiddenDecoders[] = "gsmdec:NONE,avdec_gsm_ms:NONE,avdec_aac:NONE,"
                                  "avdec_aac_fixed:NONE,faad:NONE,fdkaacdec:NONE";

} // namespace

class TestMissingDecoder : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        // Read when GStreamer starts, which is at the first player or registry question.
        qputenv("GST_PLUGIN_FEATURE_RANK", hiddenDecoders);
    }

    void toldWhichPackage_data() {
        QTest::addColumn<AudioKind>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("package");
        // Whether the file is decoded without GStreamer (libsndfile), so it opens anyway.
        QTest::addColumn<bool>("decodedElsewhere");
        QTest::newRow("GSM 6.10 WAV") << AudioKind::Gsm610Wav << "gsm.wav" << 8000 << "GSM 6.10 WAV"
                                      << "gstreamer1.0-plugins-bad" << true;
        QTest::newRow("AAC M4A") << AudioKind::AacM4a << "aac.m4a" << 44100 << "AAC MP4"
                                 << "gstreamer1.0-libav" << false;
    }

    void toldWhichPackage() {
        QFETCH(AudioKind, kind);
        QFETCH(QString, name);
        QFETCH(int, rate);
        QFETCH(QString, format);
        QFETCH(QString, package);
        QFETCH(bool, decodedElsewhere);

        // Made before anything asks GStreamer, in tools of their own (which see the
        // variable too, but need only encoders).
        const QString source = dir_.filePath(name + QStringLiteral("-source.wav"));
        const QString file = dir_.filePath(name);
        QVERIFY(test::writeWav(source, rate, 1, 1500));
        const test::MakeResult made = test::makeAudioFile(kind, source, file);
        if (!made.missingTool.isEmpty())
            QSKIP(qPrintable(QStringLiteral("cannot make this kind of file: %1 is not installed")
                                 .arg(made.missingTool)));
        QVERIFY2(made.failure.isEmpty(), qPrintable(made.failure));

        // The hiding worked: no decoder is left for the format.
        const auto identified = identifyAudioFile(file);
        QVERIFY(identified);
        QCOMPARE(identified->name(), format);
        const auto missing = missingDecodeStep(*identified);
        QVERIFY2(missing, "a decoder that is not hidden here takes this format");
        QCOMPARE(missing->package, package);

        test::FakeMessageBoxes boxes;
        test::FakeFileDialog dialog;
        Form1 form(Form1::Platform{nullptr, nullptr, &boxes, &dialog});
        dialog.answers = {file};
        form.findChild<QPushButton*>(QStringLiteral("open_file"))->click();

        if (decodedElsewhere) {
            QVERIFY2(boxes.boxes.isEmpty(), qPrintable(boxes.boxes.value(0).text));
            QVERIFY2(std::abs(form.audio().MusicLenMs() - 1500) <= 60,
                     qPrintable(QString::number(form.audio().MusicLenMs())));
            return;
        }
        QCOMPARE(boxes.boxes.size(), 1);
        const QString text = boxes.boxes[0].text;
        qInfo("told: %s", qPrintable(text));
        QCOMPARE(boxes.boxes[0].icon, MessageIcon::Critical);
        QVERIFY2(text.startsWith(QStringLiteral("无法打开音频文件：") + file), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("没有安装")), qPrintable(text));
        QVERIFY2(text.contains(format), qPrintable(text));
        QVERIFY2(text.contains(package), qPrintable(text));
        // No sentence of the media backend's: apart from the names, no Latin letters.
        QString rest = text;
        rest.remove(file).remove(format).remove(package);
        QVERIFY2(!rest.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))), qPrintable(rest));
        QCOMPARE(form.audio().MusicLenMs(), 0);
    }

    // What is not hidden still plays, and a file that is simply broken is not blamed on a
    // missing decoder.
    void othersUnaffected() {
        const QString wav = dir_.filePath(QStringLiteral("pcm.wav"));
        QVERIFY(test::writeWav(wav, 22050, 1, 1500));
        const QString flac = dir_.filePath(QStringLiteral("pcm.flac"));
        const test::MakeResult made = test::makeAudioFile(AudioKind::Flac, wav, flac);
        if (!made.missingTool.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(made.missingTool)));
        QVERIFY2(made.failure.isEmpty(), qPrintable(made.failure));
        QFile broken(dir_.filePath(QStringLiteral("broken.flac")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        QFile whole(flac);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        broken.write(whole.read(20)); // cut inside the stream header
        broken.close();

        test::FakeMessageBoxes boxes;
        test::FakeFileDialog dialog;
        Form1 form(Form1::Platform{nullptr, nullptr, &boxes, &dialog});
        auto* open = form.findChild<QPushButton*>(QStringLiteral("open_file"));
        dialog.answers = {flac, broken.fileName()};
        open->click();
        QVERIFY2(boxes.boxes.isEmpty(), qPrintable(boxes.boxes.value(0).text));
        QVERIFY2(std::abs(form.audio().MusicLenMs() - 1500) <= 60,
                 qPrintable(QString::number(form.audio().MusicLenMs())));
        open->click();
        QCOMPARE(boxes.boxes.size(), 1);
        qInfo("told: %s", qPrintable(boxes.boxes[0].text));
        QVERIFY2(!boxes.boxes[0].text.contains(QStringLiteral("没有安装")),
                 qPrintable(boxes.boxes[0].text));
    }

private:
    QTemporaryDir dir_;
};

QTEST_MAIN(TestMissingDecoder)
#include "tst_missing_decoder.moc"

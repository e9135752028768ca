// Audio files the operator may pick that are no use: empty, cut short, not audio at all,
// missing, or with a name of 1,000 characters. The window is the real Form1 with the real Qt
// Multimedia player (GStreamer); the file names come through the file dialog fake. Before each
// bad file a good one is loaded, so that nothing of it may linger: a bad file must leave the
// length at 0 and say so, a good file must load whatever its name.

#include "panel/AudioSource.h"
#include "panel/Form1.h"
#include "panel/TimeText.h"
#include "support/Fakes.h"
#include "support/Wav.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tamberlo;

namespace {

constexpr int GoodMs = 1500;

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A path of exactly `length` characters under `root`, in folders of at most 80 characters of
// `letter` (80 Chinese characters are 240 bytes, inside the 255 a name may take), ending in
// `suffix`. The folders are made.
QString longPath(const QString& root, int length, const QString& letter, const QString& suffix) {
    QString path = root;
    while (path.size() + 1 + 80 + 1 + 1 + suffix.size() < length) {
        path += QLatin1Char('/') + QString(80, letter[0]);
        if (!QDir().mkpath(path))
            return {};
    }
    const int rest = length - path.size() - 1 - static_cast<int>(suffix.size());
    return path + QLatin1Char('/') + QString(rest, letter[0]) + suffix;
}

} // namespace

class TestAudioFiles : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString good_;

    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        good_ = path("good.wav");
        QVERIFY(test::writeWav(good_, 22050, 1, GoodMs));
        const QByteArray whole = readFile(good_);
        QVERIFY(writeFile(path("empty.wav"), {}));
        QVERIFY(writeFile(path("header-cut.wav"), whole.left(30)));
        QVERIFY(writeFile(path("data-cut.wav"), whole.left(44 + whole.size() / 3)));
        QVERIFY(writeFile(path("notes.mp3"), "这不是声音文件, not a sound file\n"));
        QVERIFY(writeFile(path("noise.wav"), QByteArray(4096, '\x5a')));
        const QString lame = QStandardPaths::findExecutable(QStringLiteral("lame"));
        if (!lame.isEmpty() &&
            QProcess::execute(lame, {QStringLiteral("--quiet"), QStringLiteral("-b"),
                                     QStringLiteral("128"), good_, path("good.mp3")}) == 0) {
            const QByteArray mp3 = readFile(path("good.mp3"));
            QVERIFY(writeFile(path("mp3-cut.mp3"), mp3.left(mp3.size() / 2)));
            QVERIFY(writeFile(path("mp3-tag-only.mp3"), mp3.left(10)));
        }
    }

    void badFiles_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("empty") << path("empty.wav");
        QTest::newRow("cut in the header") << path("header-cut.wav");
        QTest::newRow("text named .mp3") << path("notes.mp3");
        QTest::newRow("bytes named .wav") << path("noise.wav");
        QTest::newRow("missing") << path("gone.wav");
        QTest::newRow("folder") << dir_.path();
        // One name longer than any file system takes.
        QTest::newRow("1000 characters, one name")
            << dir_.path() + QLatin1Char('/') +
                   QString(1000 - dir_.path().size() - 5, QLatin1Char('n')) +
                   QStringLiteral(".wav");
        if (QFile::exists(path("mp3-tag-only.mp3")))
            QTest::newRow("mp3, first 10 bytes") << path("mp3-tag-only.mp3");
    }
    void badFiles() {
        QFETCH(QString, file);
        test::FakeMessageBoxes boxes;
        test::FakeFileDialog dialog;
        Form1 form(Form1::Platform{nullptr, nullptr, &boxes, &dialog});
        auto* open = form.findChild<QPushButton*>(QStringLiteral("open_file"));
        auto* name = form.findChild<QLineEdit*>(QStringLiteral("DisFileNanmeText"));
        auto* lengthText = form.findChild<QLineEdit*>(QStringLiteral("MusicFileLenText"));
        auto* slider = form.findChild<QSlider*>(QStringLiteral("PlayPoint"));
        AudioSource& audio = form.audio();

        dialog.answers = {good_, file};
        open->click();
        QVERIFY2(boxes.boxes.isEmpty(), qPrintable(boxes.boxes.value(0).text));
        QVERIFY2(qAbs(audio.MusicLenMs() - GoodMs) < 50,
                 qPrintable(QString::number(audio.MusicLenMs())));

        open->click();
        QCOMPARE(boxes.boxes.size(), 1);
        const auto box = boxes.boxes[0];
        qInfo("told: %s", qPrintable(box.text.left(200)));
        QCOMPARE(box.icon, MessageIcon::Critical);
        QVERIFY2(box.text.startsWith(QStringLiteral("无法打开音频文件：")) ||
                     box.text.startsWith(QStringLiteral("无法读取音频文件的长度：")),
                 qPrintable(box.text));
        QVERIFY(box.text.contains(file));
        // Told in the panel's language: nothing but the file's name in Latin letters.
        QVERIFY2(!QString(box.text).remove(file).contains(
                     QRegularExpression(QStringLiteral("[A-Za-z]"))),
                 qPrintable(box.text));
        // Nothing of the good file is left: no length, the slider at its start, the file's
        // name shown as picked.
        QCOMPARE(audio.MusicLenMs(), 0);
        QCOMPARE(audio.MusicScale(), std::uint8_t(0));
        QCOMPARE(lengthText->text(), DipPlayPosit(0));
        QCOMPARE(slider->value(), 0);
        QCOMPARE(name->text(), file);
        QCOMPARE(audio.MusicFileName(), file);

        // And the next good file loads as if nothing had happened.
        dialog.answers = {good_};
        open->click();
        QVERIFY2(boxes.boxes.size() == 1, qPrintable(boxes.boxes.last().text));
        QVERIFY2(qAbs(audio.MusicLenMs() - GoodMs) < 50,
                 qPrintable(QString::number(audio.MusicLenMs())));
    }

    // Files that are short of what their header says still play what they have; names of
    // 1,000 characters, in ASCII or in Chinese, are files like any other.
    void usableFiles_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("data cut to a third") << path("data-cut.wav") << 0 << GoodMs + 50;
        if (QFile::exists(path("mp3-cut.mp3")))
            QTest::newRow("mp3 cut in half") << path("mp3-cut.mp3") << 0 << GoodMs + 100;
        QTest::newRow("1000 characters, ASCII")
            << longPath(dir_.path() + QStringLiteral("/ascii"), 1000, "a", ".wav") << GoodMs - 50
            << GoodMs + 50;
        QTest::newRow("1000 characters, Chinese")
            << longPath(dir_.path() + QStringLiteral("/chinese"), 1000, QStringLiteral("录"),
                        QStringLiteral(".wav"))
            << GoodMs - 50 << GoodMs + 50;
    }
    void usableFiles() {
        QFETCH(QString, file);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        if (!QFile::exists(file)) {
            QCOMPARE(file.size(), 1000);
            QVERIFY(QDir().mkpath(file.section(QLatin1Char('/'), 0, -2)));
            QVERIFY(QFile::copy(good_, file));
        }
        test::FakeMessageBoxes boxes;
        test::FakeFileDialog dialog;
        Form1 form(Form1::Platform{nullptr, nullptr, &boxes, &dialog});
        dialog.answers = {file};
        form.findChild<QPushButton*>(QStringLiteral("open_file"))->click();
        const int length = form.audio().MusicLenMs();
        qInfo("length %d ms, %lld boxes", length, qlonglong(boxes.boxes.size()));
        QCOMPARE(form.findChild<QLineEdit*>(QStringLiteral("DisFileNanmeText"))->text(), file);
        // Either it is usable, with a length inside what the file can hold, or the operator
        // is told and the length is 0.
        if (boxes.boxes.isEmpty()) {
            QVERIFY2(length > minMs && length <= maxMs, qPrintable(QString::number(length)));
            QCOMPARE(form.findChild<QLineEdit*>(QStringLiteral("MusicFileLenText"))->text(),
                     DipPlayPosit(length));
        } else {
            QCOMPARE(boxes.boxes.size(), 1);
            QCOMPARE(boxes.boxes[0].icon, MessageIcon::Critical);
            QCOMPARE(length, 0);
        }
    }
};

QTEST_MAIN(TestAudioFiles)
#include "tst_audio_files.moc"

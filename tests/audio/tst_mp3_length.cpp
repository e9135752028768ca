// Counting the playing time of MPEG audio data from its frames.
#include "audio/Mp3Length.h"

#include <QtTest>

using namespace tamberlo;

namespace {

struct Kind {
    int version; // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
    int layer;   // 1: III, 2: II, 3: I
    int bitrateIndex;
    int rateIndex;
    int bytes; // the frame's length without padding
};

QByteArray frame(const Kind& k, bool padded = false, const QByteArray& payload = {}) {
    QByteArray f(k.bytes + (padded ? (k.layer == 3 ? 4 : 1) : 0), '\0');
    f[0] = char(0xFF);
    f[1] = char(0xE0 | (k.version << 3) | (k.layer << 1) | 1);
    f[2] = char((k.bitrateIndex << 4) | (k.rateIndex << 2) | (padded ? 2 : 0));
    f[3] = char(0xC0);
    f.replace(4, std::min<qsizetype>(payload.size(), f.size() - 4), payload);
    return f;
}

QByteArray frames(const Kind& k, int count, bool alternatePadding = false) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += frame(k, alternatePadding && i % 2 == 1);
    return out;
}

const Kind mpeg1Layer3{3, 1, 9, 0, 417};  // 128 kbit/s, 44.1 kHz: 26.12 ms a frame
const Kind mpeg2Layer3{2, 1, 4, 0, 104};  // 32 kbit/s, 22.05 kHz: 26.12 ms
const Kind mpeg25Layer3{0, 1, 1, 2, 72};  // 8 kbit/s, 8 kHz: 72 ms
const Kind mpeg1Layer2{3, 2, 10, 1, 576}; // 192 kbit/s, 48 kHz: 24 ms
const Kind mpeg1Layer1{3, 3, 4, 2, 192};  // 128 kbit/s, 32 kHz: 12 ms
const Kind mpeg2Layer1{2, 3, 4, 2, 192};  // 64 kbit/s, 16 kHz: 24 ms

QByteArray id3v2(int bodySize) {
    QByteArray tag("ID3\x04\x00\x00", 6);
    tag += char((bodySize >> 21) & 0x7F);
    tag += char((bodySize >> 14) & 0x7F);
    tag += char((bodySize >> 7) & 0x7F);
    tag += char(bodySize & 0x7F);
    QByteArray body(bodySize, 'x');
    // Sync-like bytes inside the tag must not be taken for audio.
    body.replace(10, 4, QByteArray("\xFF\xFB\x90\xC0", 4));
    return tag + body;
}

} // namespace

class TestMp3Length : public QObject {
    Q_OBJECT
private slots:
    void length_data();
    void length();
};

void TestMp3Length::length_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<qint64>("ms"); // -1: not MPEG audio

    QTest::newRow("MPEG 1 layer III, padding") << frames(mpeg1Layer3, 100, true) << qint64(2612);
    QTest::newRow("MPEG 2 layer III") << frames(mpeg2Layer3, 100) << qint64(2612);
    QTest::newRow("MPEG 2.5 layer III") << frames(mpeg25Layer3, 10) << qint64(720);
    QTest::newRow("MPEG 1 layer II") << frames(mpeg1Layer2, 50) << qint64(1200);
    QTest::newRow("MPEG 1 layer I, padding") << frames(mpeg1Layer1, 50, true) << qint64(600);
    QTest::newRow("MPEG 2 layer I") << frames(mpeg2Layer1, 10) << qint64(240);
    QTest::newRow("ID3v2 in front") << id3v2(300) + frames(mpeg25Layer3, 10) << qint64(720);
    QTest::newRow("ID3v1 behind") << frames(mpeg25Layer3, 10) + QByteArray("TAG") +
                                         QByteArray(125, ' ')
                                  << qint64(720);
    QTest::newRow("junk in front with a stray sync")
        << QByteArray(50, 'j') + QByteArray("\xFF\xFB\x90\xC0", 4) + QByteArray(50, 'j') +
               frames(mpeg25Layer3, 10)
        << qint64(720);
    QTest::newRow("VBR header frame not counted")
        << frame(mpeg25Layer3, false, QByteArray(20, '\0') + "Xing") + frames(mpeg25Layer3, 10)
        << qint64(720);
    QTest::newRow("cut-off last frame not counted")
        << frames(mpeg25Layer3, 11).chopped(10) << qint64(720);
    QTest::newRow("a single frame") << frame(mpeg25Layer3) << qint64(72);
    QTest::newRow("text") << QByteArray("not a sound file\n") << qint64(-1);
    QTest::newRow("WAV header") << QByteArray("RIFF\x24\x00\x00\x00WAVEfmt ", 16) +
                                       QByteArray(200, '\0')
                                << qint64(-1);
    QTest::newRow("empty") << QByteArray() << qint64(-1);
    QTest::newRow("tag only") << id3v2(100) << qint64(-1);
    QTest::newRow("one stray sync only")
        << QByteArray(50, 'j') + QByteArray("\xFF\xFB\x90\xC0", 4) + QByteArray(50, 'j')
        << qint64(-1);
}

void TestMp3Length::length() {
    QFETCH(QByteArray, data);
    QFETCH(qint64, ms);
    const auto counted = mpegAudioLengthMs(data);
    if (ms < 0) {
        QVERIFY2(!counted, qPrintable(QString::number(counted.value_or(0))));
        return;
    }
    QVERIFY(counted);
    QCOMPARE(qint64(*counted), ms);
}

QTEST_MAIN(TestMp3Length)
#include "tst_mp3_length.moc"

// The simulated bridge board without a terminal: frame lengths, the exact reply bytes
// per opcode, range decoding, device IDs per model, and when reply bytes go out.

#include "Bridge.h"
#include "Commands.h"
#include "DeviceModels.h"
#include "OutputQueue.h"

#include <QTest>

#include <vector>

using namespace tamberlo::bridgesim;
using namespace std::chrono_literals;

namespace {

constexpr SimTime ROW = ChipModel::DEFAULT_ROW_DURATION;

// The bridge and its chip, fed one byte at a time, 50 ms apart like the panel's bytes.
struct Rig {
    explicit Rig(bool answerAll = false, const DeviceModel& model = defaultDeviceModel())
        : chip(model), bridge(chip, {.answerAll = answerAll}) {}

    // Sends a frame and returns whatever the bridge answered.
    QByteArray send(const QByteArray& frame) {
        QByteArray reply;
        for (char byte : frame) {
            now += 50ms;
            const Bridge::Reception reception =
                bridge.receive(static_cast<std::uint8_t>(byte), now);
            reply.append(reinterpret_cast<const char*>(reception.reply.data()),
                         static_cast<qsizetype>(reception.reply.size()));
        }
        return reply;
    }
    QByteArray send(std::uint8_t opcode) { return send(QByteArray(1, static_cast<char>(opcode))); }
    void wait(SimTime duration) { now += duration; }

    ChipModel chip;
    Bridge bridge;
    SimTime now{0};
};

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

} // namespace

class BridgeTest : public QObject {
    Q_OBJECT

private slots:
    void theOpcodeDecidesTheFrameLength_data() {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<int>("length");
        for (int opcode : {0x01, 0x02, 0x03, 0x06, 0x08, 0x09, 0x40, 0x41, 0x42, 0x43, 0x48, 0x60,
                           0x00, 0x45, 0x83, 0xFF})
            QTest::addRow("0x%02X", opcode) << opcode << 1;
        QTest::newRow("WR_APC2") << 0x65 << 3;
        QTest::newRow("SET_PLAY") << 0x80 << 5;
        QTest::newRow("SET_REC") << 0x81 << 5;
        QTest::newRow("SET_ERASE") << 0x82 << 5;
    }
    void theOpcodeDecidesTheFrameLength() {
        QFETCH(int, opcode);
        QFETCH(int, length);
        Rig rig;
        SimTime now{0};
        // Data bytes that are opcodes themselves must not start a frame of their own.
        const std::uint8_t bytes[] = {std::uint8_t(opcode), 0x09, 0x80, 0x65, 0x09};
        for (int i = 0; i < length; ++i) {
            now += 50ms;
            const Bridge::Reception reception = rig.bridge.receive(bytes[i], now);
            QCOMPARE(reception.opcode, std::uint8_t(opcode));
            QCOMPARE(int(reception.position), i + 1);
            QCOMPARE(int(reception.length), length);
            QCOMPARE(reception.complete, i + 1 == length);
        }
        const Bridge::Reception next = rig.bridge.receive(0x09, now + 50ms);
        QCOMPARE(next.opcode, op::DEVID); // the following byte starts a new frame
        QVERIFY(next.complete);
    }

    void repliesPerOpcode_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("answerAll");
        QTest::addColumn<QByteArray>("reply");
        // Powered up, idle, current row 0x010: SR0 = 0x0204 (row << 5 | PU), SR1 = RDY.
        for (bool all : {false, true}) {
            const char* tag = all ? " (answer all)" : "";
            QTest::addRow("STOP%s", tag) << hex("02") << all << hex("04");
            QTest::addRow("REC%s", tag) << hex("41") << all << hex("04");
            QTest::addRow("RD_PLAY_PTR%s", tag) << hex("06") << all << hex("04020010");
            QTest::addRow("RD_REC_PTR%s", tag) << hex("08") << all << hex("04020010");
            QTest::addRow("DEVID%s", tag) << hex("09") << all << hex("0402A0");
            QTest::addRow("current address%s", tag) << hex("60") << all << hex("001001");
            QTest::addRow("SET_PLAY%s", tag) << hex("8000100020") << all << hex("0402040204");
            QTest::addRow("SET_REC%s", tag) << hex("8100100020") << all << hex("0402040204");
            QTest::addRow("SET_ERASE%s", tag) << hex("8200100020") << all << hex("0402040204");
            const QByteArray none = all ? hex("0402") : QByteArray();
            for (const char* silent : {"01", "03", "40", "42", "43", "48", "650D00", "77"})
                QTest::addRow("%s%s", silent, tag) << hex(silent) << all << none;
        }
    }
    void repliesPerOpcode() {
        QFETCH(QByteArray, frame);
        QFETCH(bool, answerAll);
        QFETCH(QByteArray, reply);
        Rig rig(answerAll);
        rig.send(op::PU);
        QCOMPARE(rig.send(frame).toHex(' '), reply.toHex(' '));
    }

    void pointerRepliesCarryTheHighByteFirst() {
        Rig rig;
        rig.send(op::PU);
        rig.send(op::REC);
        rig.wait((0x12F - 0x010 - 1) * ROW);
        QCOMPARE(rig.send(op::CUR_ADDR).left(2).toHex(' '), QByteArray("01 2e"));
        rig.send(op::STOP);
        const QByteArray reply = rig.send(op::RD_REC_PTR);
        QCOMPARE(reply.mid(2).toHex(' '), QByteArray("01 2f"));
        QCOMPARE(rig.send(op::RD_PLAY_PTR).mid(2).toHex(' '), QByteArray("00 10"));
    }

    void theStatusInAReplyIsTheOneBeforeTheCommand() {
        Rig rig;
        rig.send(op::PU);
        QCOMPARE(rig.send(op::REC).toHex(), QByteArray("04"));
        const QByteArray refused = rig.send(op::REC); // refused: the chip is recording
        QCOMPARE(quint8(refused.at(0)) & sr0::CMD_ERR, 0);
        const QByteArray next = rig.send(op::DEVID);
        QCOMPARE(quint8(next.at(0)) & sr0::CMD_ERR, int(sr0::CMD_ERR));
        QCOMPARE(quint8(rig.send(op::CUR_ADDR).at(2)), sr1::REC);
    }

    void rangeFramesCarryHighThenLowBytes_data() {
        QTest::addColumn<int>("high");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("row");
        QTest::newRow("00 10") << 0x00 << 0x10 << 0x010;
        QTest::newRow("01 2F") << 0x01 << 0x2F << 0x12F;
        QTest::newRow("07 8F") << 0x07 << 0x8F << 0x78F;
        QTest::newRow("F9 00: three address bits") << 0xF9 << 0x00 << 0x100;
    }
    void rangeFramesCarryHighThenLowBytes() {
        QFETCH(int, high);
        QFETCH(int, low);
        QFETCH(int, row);
        QCOMPARE(int(rowFromBytes(std::uint8_t(high), std::uint8_t(low))), row);

        Rig rig(false, *findDeviceModel("ISD17240"));
        rig.send(op::PU);
        const char frame[] = {char(op::SET_PLAY), char(high), char(low), 0x07, char(0x8F)};
        rig.send(QByteArray(frame, 5));
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Playing);
        QCOMPARE(int(rig.chip.currentRow()), row);
    }

    void deviceIdsPerModel_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("deviceId");
        QTest::addColumn<int>("lastRow");
        QTest::newRow("ISD1730") << "isd1730" << 0x80 << 0x0FF;
        QTest::newRow("ISD1720") << "ISD1720" << 0x90 << 0x0AF;
        QTest::newRow("ISD1760") << "ISD1760" << 0xA0 << 0x1EF;
        QTest::newRow("ISD1750") << "ISD1750" << 0xA8 << 0x19F;
        QTest::newRow("ISD1740") << "ISD1740" << 0xB0 << 0x14F;
        QTest::newRow("ISD17150") << "ISD17150" << 0xC0 << 0x4BF;
        QTest::newRow("ISD17120") << "ISD17120" << 0xC8 << 0x3CF;
        QTest::newRow("ISD1790") << "ISD1790" << 0xD0 << 0x2DF;
        QTest::newRow("ISD17240") << "ISD17240" << 0xE0 << 0x78F;
        QTest::newRow("ISD17210") << "Isd17210" << 0xE8 << 0x69F;
        QTest::newRow("ISD17180") << "ISD17180" << 0xF0 << 0x5AF;
    }
    void deviceIdsPerModel() {
        QFETCH(QString, name);
        QFETCH(int, deviceId);
        QFETCH(int, lastRow);
        const DeviceModel* model = findDeviceModel(name.toStdString());
        QVERIFY(model);
        QCOMPARE(int(model->lastRow), lastRow);
        Rig rig(false, *model);
        QCOMPARE(quint8(rig.send(op::DEVID).at(2)), quint8(deviceId));

        // The last row can be addressed, the one after it cannot.
        rig.send(op::PU);
        const auto setErase = [&](int end) {
            const char frame[] = {char(op::SET_ERASE), 0x00, 0x10, char(end >> 8), char(end)};
            rig.send(QByteArray(frame, 5));
            rig.wait(ChipModel::ERASE_DURATION);
            return (rig.chip.sr0() & sr0::CMD_ERR) == 0;
        };
        QVERIFY(setErase(lastRow));
        QVERIFY(!setErase(lastRow + 1));
    }

    void unknownModelIsNotFound() {
        QVERIFY(!findDeviceModel("ISD1700"));
        QVERIFY(!findDeviceModel(""));
        QCOMPARE(defaultDeviceModel().name, std::string_view("ISD1760"));
    }

    void anIncompleteFrameIsDroppedAfterAPause() {
        Rig rig;
        rig.send(op::PU);
        rig.send(hex("8000"));
        rig.wait(Bridge::Options{}.frameTimeout);
        const Bridge::Reception reception = rig.bridge.receive(op::DEVID, rig.now);
        QVERIFY(reception.droppedStale);
        QVERIFY(reception.complete);
        QCOMPARE(reception.reply.size(), std::size_t(3));

        // Within the pause the byte belongs to the frame.
        rig.send(hex("8000"));
        QVERIFY(rig.send(op::DEVID).isEmpty());
    }
};

class OutputQueueTest : public QObject {
    Q_OBJECT

private:
    static std::vector<std::uint8_t> bytes(std::initializer_list<std::uint8_t> list) {
        return list;
    }
    static QList<long long> dueTimesMs(OutputQueue& queue, SimTime until) {
        QList<long long> times;
        for (const OutgoingByte& byte : queue.takeDue(until))
            times << std::chrono::duration_cast<std::chrono::milliseconds>(byte.due).count();
        return times;
    }

private slots:
    void whenReplyBytesGoOut_data() {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("extra");
        QTest::addColumn<QList<long long>>("dueMs");
        QTest::newRow("all at once") << 0 << 0 << 0 << QList<long long>{1000, 1000, 1000};
        QTest::newRow("delayed") << 40 << 0 << 0 << QList<long long>{1040, 1040, 1040};
        QTest::newRow("split") << 0 << 20 << 0 << QList<long long>{1000, 1020, 1040};
        QTest::newRow("delayed, split, surplus")
            << 10 << 5 << 2 << QList<long long>{1010, 1015, 1020, 1025, 1030};
    }
    void whenReplyBytesGoOut() {
        QFETCH(int, delayMs);
        QFETCH(int, gapMs);
        QFETCH(int, extra);
        QFETCH(QList<long long>, dueMs);
        OutputQueue queue({.replyDelay = std::chrono::milliseconds(delayMs),
                           .byteGap = std::chrono::milliseconds(gapMs),
                           .extraBytes = extra},
                          SimTime{0}, 1);
        const auto reply = bytes({0x04, 0x02, 0xA0});
        queue.scheduleReply(reply, "DEVID", 1000ms);
        QCOMPARE(queue.nextDue(),
                 std::optional<SimTime>(1000ms + std::chrono::milliseconds(delayMs)));
        QVERIFY(queue.takeDue(1000ms + std::chrono::milliseconds(delayMs) - 1us).empty());

        const std::vector<OutgoingByte> due = queue.takeDue(10s);
        QList<long long> times;
        QByteArray values;
        for (const OutgoingByte& byte : due) {
            times << std::chrono::duration_cast<std::chrono::milliseconds>(byte.due).count();
            values.append(char(byte.value));
        }
        QCOMPARE(times, dueMs);
        QCOMPARE(values.left(3).toHex(), QByteArray("0402a0"));
        QCOMPARE(values.mid(3), QByteArray(extra, char(OutputQueue::EXTRA_BYTE)));
        QVERIFY(!queue.nextDue());
    }

    void aLaterReplyWaitsForTheEarlierOne() {
        OutputQueue queue({.byteGap = 30ms}, SimTime{0}, 1);
        const auto first = bytes({1, 2, 3});
        const auto second = bytes({9});
        queue.scheduleReply(first, "RD", 0ms);
        queue.scheduleReply(second, "STOP", 10ms);
        QCOMPARE(dueTimesMs(queue, 1s), (QList<long long>{0, 30, 60, 90}));
    }

    void noiseComesEveryPeriod() {
        OutputQueue quiet({}, SimTime{0}, 7);
        QVERIFY(!quiet.nextDue());
        QVERIFY(quiet.takeDue(1h).empty());

        OutputQueue queue({.noisePeriod = 100ms}, SimTime{0}, 7);
        QCOMPARE(queue.nextDue(), std::optional<SimTime>(100ms));
        const auto reply = bytes({0x04});
        queue.scheduleReply(reply, "STOP", 150ms);
        QCOMPARE(dueTimesMs(queue, 350ms), (QList<long long>{100, 150, 200, 300}));
        QCOMPARE(queue.nextDue(), std::optional<SimTime>(400ms));
    }
};

int main(int argc, char* argv[]) {
    int status = 0;
    {
        BridgeTest test;
        status |= QTest::qExec(&test, argc, argv);
    }
    {
        OutputQueueTest test;
        status |= QTest::qExec(&test, argc, argv);
    }
    return status;
}

#include "tst_Bridge.moc"

// The simulated chip on its own, with the time passed in: pointer rules, messages and
// EOM markers, FULL, refusals while busy or powered down, range commands, APC storage,
// and the memory file that keeps the messages across a restart.

#include "ChipModel.h"
#include "Commands.h"
#include "DeviceModels.h"
#include "MemoryFile.h"

#include <QTest>

#include <vector>

using namespace tamberlo::bridgesim;
using namespace std::chrono_literals;

namespace {

constexpr SimTime ROW = ChipModel::DEFAULT_ROW_DURATION;

// A chip and a clock; every command goes in at the current instant.
struct Rig {
    explicit Rig(const char* modelName = "ISD1760") : chip(*findDeviceModel(modelName)) {}

    bool send(const QByteArray& frame) {
        const std::vector<std::uint8_t> bytes(frame.begin(), frame.end());
        return chip.execute(bytes, now);
    }
    bool send(std::uint8_t opcode) { return send(QByteArray(1, static_cast<char>(opcode))); }
    void wait(SimTime duration) {
        now += duration;
        chip.advanceTo(now);
    }
    // A message of `rows` rows at the record pointer: REC, then STOP during its last row.
    void record(int rows) {
        QVERIFY(send(op::REC));
        wait(ROW * (rows - 1) + 1ms);
        QVERIFY(send(op::STOP));
    }
    bool flag(std::uint16_t bit) const { return (chip.sr0() & bit) != 0; }
    using Message = ChipModel::Message;

    ChipModel chip;
    SimTime now{1'000'000};
};

QByteArray range(std::uint8_t opcode, std::uint16_t start, std::uint16_t end) {
    const char bytes[] = {static_cast<char>(opcode), static_cast<char>(start >> 8),
                          static_cast<char>(start & 0xFF), static_cast<char>(end >> 8),
                          static_cast<char>(end & 0xFF)};
    return QByteArray(bytes, 5);
}

} // namespace

class ChipModelTest : public QObject {
    Q_OBJECT

private slots:
    void startsPoweredDownWithPointersAtFirstMessageRow() {
        Rig rig;
        QCOMPARE(rig.chip.sr0(), std::uint16_t(0x010 << sr0::ROW_SHIFT));
        QCOMPARE(rig.chip.sr1(), std::uint8_t(0));
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x010));
        QCOMPARE(rig.chip.recordPointer(), std::uint16_t(0x010));
        QVERIFY(rig.send(op::PU));
        QCOMPARE(rig.chip.sr0(), std::uint16_t(0x010 << sr0::ROW_SHIFT | sr0::PU));
        QCOMPARE(rig.chip.sr1(), sr1::RDY);
    }

    void commandsWhilePoweredDown_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("PLAY") << QByteArray("\x40") << false;
        QTest::newRow("REC") << QByteArray("\x41") << false;
        QTest::newRow("ERASE") << QByteArray("\x42") << false;
        QTest::newRow("G_ERASE") << QByteArray("\x43") << false;
        QTest::newRow("FWD") << QByteArray("\x48") << false;
        QTest::newRow("RD_PLAY_PTR") << QByteArray("\x06") << false;
        QTest::newRow("RD_REC_PTR") << QByteArray("\x08") << false;
        QTest::newRow("WR_APC2") << QByteArray("\x65\x0D\x00", 3) << false;
        QTest::newRow("SET_PLAY") << range(op::SET_PLAY, 0x10, 0x20) << false;
        QTest::newRow("SET_REC") << range(op::SET_REC, 0x10, 0x20) << false;
        QTest::newRow("SET_ERASE") << range(op::SET_ERASE, 0x10, 0x20) << false;
        QTest::newRow("unknown 0x77") << QByteArray("\x77") << false;
        QTest::newRow("PU") << QByteArray("\x01") << true;
        QTest::newRow("STOP") << QByteArray("\x02") << true;
        QTest::newRow("RESET") << QByteArray("\x03") << true;
        QTest::newRow("CLR_INT") << QByteArray("\x04") << true;
        QTest::newRow("RD_STATUS") << QByteArray("\x05") << true;
        QTest::newRow("PD") << QByteArray("\x07") << true;
        QTest::newRow("DEVID") << QByteArray("\x09") << true;
    }
    void commandsWhilePoweredDown() {
        QFETCH(QByteArray, frame);
        QFETCH(bool, accepted);
        Rig rig;
        QCOMPARE(rig.send(frame), accepted);
        QCOMPARE(rig.flag(sr0::CMD_ERR), !accepted);
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Idle);
    }

    void commandsWhileBusy_data() {
        QTest::addColumn<QString>("busyWith");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("accepted");
        const QByteArray apc("\x65\x0D\x00", 3);
        for (const char* busy : {"PLAY", "REC"}) {
            const QString b = QString::fromLatin1(busy);
            QTest::addRow("%s: PLAY", busy) << b << QByteArray("\x40") << false;
            QTest::addRow("%s: REC", busy) << b << QByteArray("\x41") << false;
            QTest::addRow("%s: FWD", busy) << b << QByteArray("\x48") << false;
            QTest::addRow("%s: ERASE", busy) << b << QByteArray("\x42") << false;
            QTest::addRow("%s: RD_PLAY_PTR", busy) << b << QByteArray("\x06") << false;
            QTest::addRow("%s: WR_APC2", busy) << b << apc << false;
            QTest::addRow("%s: SET_PLAY", busy) << b << range(op::SET_PLAY, 0x30, 0x40) << false;
            QTest::addRow("%s: PU", busy) << b << QByteArray("\x01") << false;
            QTest::addRow("%s: DEVID", busy) << b << QByteArray("\x09") << true;
            QTest::addRow("%s: RD_STATUS", busy) << b << QByteArray("\x05") << true;
            QTest::addRow("%s: CLR_INT", busy) << b << QByteArray("\x04") << true;
        }
        QTest::newRow("erase: STOP") << "ERASE" << QByteArray("\x02") << false;
        QTest::newRow("erase: REC") << "ERASE" << QByteArray("\x41") << false;
        QTest::newRow("erase: DEVID") << "ERASE" << QByteArray("\x09") << true;
    }
    void commandsWhileBusy() {
        QFETCH(QString, busyWith);
        QFETCH(QByteArray, frame);
        QFETCH(bool, accepted);
        Rig rig;
        rig.send(op::PU);
        rig.record(4);
        const auto activity = busyWith == "PLAY"  ? ChipModel::Activity::Playing
                              : busyWith == "REC" ? ChipModel::Activity::Recording
                                                  : ChipModel::Activity::Erasing;
        QVERIFY(rig.send(busyWith == "PLAY"  ? op::PLAY
                         : busyWith == "REC" ? op::REC
                                             : op::G_ERASE));
        QCOMPARE(rig.chip.activity(), activity);
        QCOMPARE(rig.chip.sr1() & sr1::RDY, 0);

        rig.wait(10ms);
        QCOMPARE(rig.send(frame), accepted);
        QCOMPARE(rig.flag(sr0::CMD_ERR), !accepted);
        QCOMPARE(rig.chip.activity(), activity); // a refused command leaves it running
    }

    void stopEndsPlayAndRecord() {
        Rig rig;
        rig.send(op::PU);
        rig.record(6);
        QVERIFY(rig.send(op::PLAY));
        rig.wait(2 * ROW + 1ms);
        QVERIFY(rig.send(op::STOP));
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Idle);
        QCOMPARE(rig.chip.currentRow(), std::uint16_t(0x012));
        QVERIFY(rig.flag(sr0::INT));
        QVERIFY(!rig.flag(sr0::EOM));
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x010)); // PLAY starts here again
    }

    void commandErrorLastsUntilTheNextAcceptedCommand() {
        Rig rig;
        QVERIFY(!rig.send(op::PLAY));
        QVERIFY(rig.flag(sr0::CMD_ERR));
        QVERIFY(rig.send(op::DEVID)); // a pure read leaves the flag
        QVERIFY(rig.flag(sr0::CMD_ERR));
        QVERIFY(rig.send(op::PU));
        QVERIFY(!rig.flag(sr0::CMD_ERR));
    }

    void recordingMovesTheRowThenSetsBothPointers() {
        Rig rig;
        rig.send(op::PU);
        QVERIFY(rig.send(op::REC));
        QCOMPARE(rig.chip.sr1(), sr1::REC);
        rig.wait(300ms);
        QCOMPARE(rig.chip.currentRow(), std::uint16_t(0x012));
        QCOMPARE(rig.chip.sr0() >> sr0::ROW_SHIFT, 0x012);
        QVERIFY(!rig.flag(sr0::FULL));
        rig.wait(700ms);
        QVERIFY(rig.send(op::STOP));

        QCOMPARE(rig.chip.messages(), (std::vector<Rig::Message>{{0x010, 0x018}}));
        QVERIFY(rig.chip.hasEom(0x018));
        QVERIFY(!rig.chip.hasEom(0x017));
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x010));
        QCOMPARE(rig.chip.recordPointer(), std::uint16_t(0x019));
        QVERIFY(rig.flag(sr0::INT));
        QCOMPARE(rig.chip.sr1(), sr1::RDY);
    }

    void playRunsFromThePlayPointerToTheEomMarker() {
        Rig rig;
        rig.send(op::PU);
        rig.record(4); // 0x010..0x013
        rig.record(3); // 0x014..0x016, play pointer here
        QVERIFY(rig.send(op::FWD));
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x010));
        QVERIFY(rig.send(op::CLR_INT)); // INT is still up from the recordings

        QVERIFY(rig.send(op::PLAY));
        rig.wait(4 * ROW - 1ms);
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Playing);
        QCOMPARE(rig.chip.currentRow(), std::uint16_t(0x013));
        QVERIFY(!rig.flag(sr0::INT));
        rig.wait(1ms);
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Idle);
        QCOMPARE(rig.chip.currentRow(), std::uint16_t(0x013)); // not on into the next message
        QVERIFY(rig.flag(sr0::EOM));
        QVERIFY(rig.flag(sr0::INT));
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x010));

        QVERIFY(rig.send(op::CLR_INT));
        QVERIFY(!rig.flag(sr0::EOM) && !rig.flag(sr0::INT));
    }

    void forwardVisitsEveryMessageAndWraps() {
        Rig rig;
        rig.send(op::PU);
        rig.record(2);
        rig.record(2);
        rig.record(2);
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x014)); // the newest message
        const std::uint16_t expected[] = {0x010, 0x012, 0x014, 0x010};
        for (std::uint16_t start : expected) {
            QVERIFY(rig.send(op::FWD));
            QCOMPARE(rig.chip.playPointer(), start);
        }
    }

    void emptyMemoryHasNothingToPlayForwardOrErase_data() {
        QTest::addColumn<int>("opcode");
        QTest::newRow("PLAY") << int(op::PLAY);
        QTest::newRow("FWD") << int(op::FWD);
        QTest::newRow("ERASE") << int(op::ERASE);
    }
    void emptyMemoryHasNothingToPlayForwardOrErase() {
        QFETCH(int, opcode);
        Rig rig;
        rig.send(op::PU);
        QVERIFY(!rig.send(static_cast<std::uint8_t>(opcode)));
        QVERIFY(rig.flag(sr0::CMD_ERR));
    }

    void eraseTakesOnlyTheFirstOrLastMessage_data() {
        QTest::addColumn<int>("forwards"); // FWDs after the three recordings
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("playPointer");
        QTest::addColumn<int>("recordPointer");
        QTest::addColumn<QList<int>>("startsLeft");
        QTest::newRow("last") << 0 << true << 0x014 << 0x018 << QList<int>{0x010, 0x014};
        QTest::newRow("first") << 1 << true << 0x014 << 0x01C << QList<int>{0x014, 0x018};
        QTest::newRow("middle") << 2 << false << 0x014 << 0x01C << QList<int>{0x010, 0x014, 0x018};
    }
    void eraseTakesOnlyTheFirstOrLastMessage() {
        QFETCH(int, forwards);
        QFETCH(bool, accepted);
        QFETCH(int, playPointer);
        QFETCH(int, recordPointer);
        QFETCH(QList<int>, startsLeft);
        Rig rig;
        rig.send(op::PU);
        rig.record(4);
        rig.record(4);
        rig.record(4);
        for (int i = 0; i < forwards; ++i)
            rig.send(op::FWD);

        QCOMPARE(rig.send(op::ERASE), accepted);
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(playPointer));
        QCOMPARE(rig.chip.recordPointer(), std::uint16_t(recordPointer));
        QList<int> starts;
        for (const auto& message : rig.chip.messages())
            starts << message.start;
        QCOMPARE(starts, startsLeft);
        if (accepted) {
            QCOMPARE(rig.chip.sr1(), sr1::ERASE);
            rig.wait(ChipModel::ERASE_DURATION);
            QCOMPARE(rig.chip.sr1(), sr1::RDY);
            QVERIFY(rig.flag(sr0::INT));
        }
    }

    void globalEraseEmptiesTheMemory() {
        Rig rig("ISD1720");
        rig.send(op::PU);
        rig.record(200); // stops by itself: memory full
        QVERIFY(rig.flag(sr0::FULL));
        QVERIFY(rig.send(op::G_ERASE));
        rig.wait(ChipModel::ERASE_DURATION);
        QVERIFY(rig.chip.messages().empty());
        QVERIFY(!rig.flag(sr0::FULL));
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x010));
        QCOMPARE(rig.chip.recordPointer(), std::uint16_t(0x010));
    }

    void recordingStopsByItselfWhenMemoryIsFull() {
        Rig rig("ISD1720"); // rows 0x010..0x0AF: 160 rows, 20 s
        rig.send(op::PU);
        QVERIFY(rig.send(op::REC));
        rig.wait(160 * ROW - 1ms);
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Recording);
        QCOMPARE(rig.chip.currentRow(), std::uint16_t(0x0AF));
        QVERIFY(!rig.flag(sr0::FULL));
        rig.wait(1ms);
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Idle);
        QVERIFY(rig.flag(sr0::FULL));
        QVERIFY(rig.flag(sr0::INT));
        QCOMPARE(rig.chip.messages(), (std::vector<Rig::Message>{{0x010, 0x0AF}}));
        QCOMPARE(rig.chip.recordPointer(), std::uint16_t(0x010));

        QVERIFY(!rig.send(op::REC));
        QVERIFY(rig.flag(sr0::CMD_ERR));
    }

    void recordingWrapsRoundIntoRowsFreedAtTheStart() {
        Rig rig("ISD1720");
        rig.send(op::PU);
        rig.record(8);              // A: 0x010..0x017
        rig.record(136);            // B: 0x018..0x09F
        QVERIFY(rig.send(op::FWD)); // wraps to A, the first message
        QVERIFY(rig.send(op::ERASE));
        rig.wait(ChipModel::ERASE_DURATION);
        QCOMPARE(rig.chip.recordPointer(), std::uint16_t(0x0A0));

        QVERIFY(rig.send(op::REC)); // 16 rows to the end, then 8 freed rows at the start
        rig.wait(24 * ROW);
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Idle);
        QVERIFY(rig.flag(sr0::FULL));
        QCOMPARE(rig.chip.messages(), (std::vector<Rig::Message>{{0x018, 0x09F}, {0x0A0, 0x017}}));
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x0A0));
        QCOMPARE(rig.chip.recordPointer(), std::uint16_t(0x018));

        QVERIFY(rig.send(op::PLAY)); // plays across the end of the memory
        rig.wait(17 * ROW - 1ms);
        QCOMPARE(rig.chip.currentRow(), std::uint16_t(0x010));
        rig.wait(7 * ROW + 1ms);
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Idle);
        QCOMPARE(rig.chip.currentRow(), std::uint16_t(0x017));
        QVERIFY(rig.flag(sr0::EOM));
    }

    void setPlayStopsAtEomOnlyWhenTheApcSaysSo_data() {
        QTest::addColumn<int>("apcSwitches"); // high nibble of the APC, as the panel sends it
        QTest::addColumn<int>("rowsPlayed");
        QTest::addColumn<bool>("eom");
        QTest::newRow("EOM enabled") << 0x0D << 4 << true;
        QTest::newRow("EOM disabled") << 0x05 << 16 << false;
    }
    void setPlayStopsAtEomOnlyWhenTheApcSaysSo() {
        QFETCH(int, apcSwitches);
        QFETCH(int, rowsPlayed);
        QFETCH(bool, eom);
        Rig rig;
        rig.send(op::PU);
        rig.record(4); // EOM at 0x013
        const char apcFrame[] = {char(op::WR_APC2), char(apcSwitches), 0x00};
        QVERIFY(rig.send(QByteArray(apcFrame, 3)));
        rig.send(op::CLR_INT);

        QVERIFY(rig.send(range(op::SET_PLAY, 0x010, 0x01F)));
        QCOMPARE(rig.chip.sr1(), sr1::PLAY);
        rig.wait(rowsPlayed * ROW - 1ms);
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Playing);
        rig.wait(1ms);
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Idle);
        QCOMPARE(rig.chip.currentRow(), std::uint16_t(0x010 + rowsPlayed - 1));
        QCOMPARE(rig.flag(sr0::EOM), eom);
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x010));
        QCOMPARE(rig.chip.recordPointer(), std::uint16_t(0x014));
    }

    void setRecordAndSetEraseWorkOnTheRangeOnly() {
        Rig rig;
        rig.send(op::PU);
        QVERIFY(rig.send(range(op::SET_REC, 0x100, 0x103)));
        rig.wait(4 * ROW);
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Idle);
        QCOMPARE(rig.chip.messages(), (std::vector<Rig::Message>{{0x100, 0x103}}));
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x010));
        QCOMPARE(rig.chip.recordPointer(), std::uint16_t(0x010));

        QVERIFY(rig.send(range(op::SET_ERASE, 0x102, 0x1EF)));
        QCOMPARE(rig.chip.sr1(), sr1::ERASE);
        rig.wait(ChipModel::ERASE_DURATION);
        QVERIFY(rig.chip.isRecorded(0x101));
        QVERIFY(!rig.chip.isRecorded(0x102));
        QVERIFY(!rig.chip.hasEom(0x103));
    }

    void badRangesAreRefused_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("one row") << 0x020 << 0x020 << true;
        QTest::newRow("sound effect rows") << 0x000 << 0x00F << true;
        QTest::newRow("up to the last row") << 0x1E0 << 0x1EF << true;
        QTest::newRow("start after end") << 0x020 << 0x010 << false;
        QTest::newRow("past the last row") << 0x1E0 << 0x1F0 << false;
    }
    void badRangesAreRefused() {
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(bool, accepted);
        Rig rig;
        rig.send(op::PU);
        QCOMPARE(rig.send(range(op::SET_PLAY, std::uint16_t(start), std::uint16_t(end))), accepted);
        QCOMPARE(rig.flag(sr0::CMD_ERR), !accepted);
    }

    void apcIsStoredAndResetRestoresTheSavedConfiguration() {
        Rig rig;
        rig.send(op::PU);
        QVERIFY(rig.send(QByteArray("\x65\x0D\x4A", 3)));
        QCOMPARE(rig.chip.apcRegister(), std::uint16_t(0xD4A));
        QVERIFY(rig.send(op::RESET));
        QCOMPARE(rig.chip.apcRegister(), ChipModel::FACTORY_APC);

        rig.send(op::PU);
        QVERIFY(rig.send(QByteArray("\x65\x0C\x1C", 3)));
        QVERIFY(rig.send(op::WR_NVCFG));
        QVERIFY(rig.send(QByteArray("\x65\x01\x02", 3)));
        QVERIFY(rig.send(op::LD_NVCFG));
        QCOMPARE(rig.chip.apcRegister(), std::uint16_t(0xC1C));
        rig.send(op::RESET);
        QCOMPARE(rig.chip.apcRegister(), std::uint16_t(0xC1C));
    }

    void powerDownWaitsForTheOperationToFinish() {
        Rig rig;
        rig.send(op::PU);
        rig.record(3);
        QVERIFY(rig.send(op::PLAY));
        QVERIFY(rig.send(op::PD));
        QVERIFY(rig.flag(sr0::PU));
        rig.wait(3 * ROW);
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Idle);
        QVERIFY(!rig.flag(sr0::PU));
        QVERIFY(!rig.send(op::PLAY));
    }

    void resetPowersDownAndPointsAtTheNewestMessage() {
        Rig rig;
        rig.send(op::PU);
        rig.record(4);
        rig.record(4);
        rig.send(op::FWD);
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x010));
        QVERIFY(rig.send(op::REC));
        rig.wait(ROW + 1ms);
        QVERIFY(rig.send(op::RESET)); // the recording so far is kept as a message
        QCOMPARE(rig.chip.activity(), ChipModel::Activity::Idle);
        QVERIFY(!rig.flag(sr0::PU));
        QVERIFY(!rig.flag(sr0::INT));
        QCOMPARE(rig.chip.messages().size(), std::size_t(3));
        QCOMPARE(rig.chip.playPointer(), std::uint16_t(0x018));
        QCOMPARE(rig.chip.recordPointer(), std::uint16_t(0x01A));
    }

    // What a chip holds is written to a memory file and read into a new chip: the same
    // rows and markers, and the pointers a RESET of the first chip gives.
    void memoryFileKeepsTheMessages_data() {
        QTest::addColumn<QString>("history");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("empty") << "" << QByteArray("tamberlo-bridge-sim memory 1\nmodel ISD1760\n");
        QTest::newRow("two messages") << "rec4 rec3"
                                      << QByteArray("tamberlo-bridge-sim memory 1\nmodel ISD1760\n"
                                                    "rows 0x010 0x013 eom\nrows 0x014 0x016 eom\n");
        QTest::newRow("cut off while recording")
            << "rec4 cut3"
            << QByteArray("tamberlo-bridge-sim memory 1\nmodel ISD1760\n"
                          "rows 0x010 0x013 eom\nrows 0x014 0x016\n");
        QTest::newRow("set-rec, then set-erase of its end")
            << "setrec"
            << QByteArray("tamberlo-bridge-sim memory 1\nmodel ISD1760\n"
                          "rows 0x000 0x003 eom\nrows 0x100 0x101\n");
        QTest::newRow("wrapped round the ring")
            << "wrap"
            << QByteArray("tamberlo-bridge-sim memory 1\nmodel ISD1720\n"
                          "rows 0x010 0x011 eom\nrows 0x014 0x0a9 eom\nrows 0x0aa 0x0af\n");
    }
    void memoryFileKeepsTheMessages() {
        QFETCH(QString, history);
        QFETCH(QByteArray, file);
        Rig rig(history == QLatin1String("wrap") ? "ISD1720" : "ISD1760");
        rig.send(op::PU);
        for (const QString& step : history.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (step.startsWith(QLatin1String("rec"))) {
                rig.record(step.mid(3).toInt());
            } else if (step.startsWith(QLatin1String("cut"))) {
                QVERIFY(rig.send(op::REC)); // still recording when the file is written
                rig.wait(ROW * (step.mid(3).toInt() - 1) + 1ms);
            } else if (step == QLatin1String("setrec")) {
                QVERIFY(rig.send(range(op::SET_REC, 0x000, 0x003)));
                rig.wait(4 * ROW);
                QVERIFY(rig.send(range(op::SET_REC, 0x100, 0x105)));
                rig.wait(6 * ROW);
                QVERIFY(rig.send(range(op::SET_ERASE, 0x102, 0x105)));
                rig.wait(ChipModel::ERASE_DURATION);
            } else { // wrap: free the first rows, then record round the end of the ring
                rig.record(4);
                rig.record(0x0A9 - 0x014 + 1);
                QVERIFY(rig.send(op::FWD));
                QVERIFY(rig.send(op::ERASE)); // the oldest message, at 0x010
                rig.wait(ChipModel::ERASE_DURATION);
                rig.record(8);
            }
        }
        const std::string text = formatMemoryFile(rig.chip);
        QCOMPARE(QByteArray::fromStdString(text), file);

        Rig restarted(history == QLatin1String("wrap") ? "ISD1720" : "ISD1760");
        std::vector<ChipModel::RecordedRun> runs;
        std::string error;
        QVERIFY2(parseMemoryFile(text, restarted.chip.model(), runs, error), error.c_str());
        const std::uint64_t revision = restarted.chip.memoryRevision();
        restarted.chip.restoreMemory(runs);
        QVERIFY(restarted.chip.memoryRevision() != revision);
        QCOMPARE(restarted.chip.recordedRuns(), rig.chip.recordedRuns());
        QCOMPARE(QByteArray::fromStdString(formatMemoryFile(restarted.chip)), file);
        QCOMPARE(restarted.chip.messages(), rig.chip.messages());
        QVERIFY(!restarted.chip.poweredUp());

        QVERIFY(rig.send(op::RESET));
        QCOMPARE(restarted.chip.playPointer(), rig.chip.playPointer());
        QCOMPARE(restarted.chip.recordPointer(), rig.chip.recordPointer());
        QCOMPARE(restarted.chip.currentRow(), rig.chip.currentRow());
    }

    void memoryFileChangesAreCounted() {
        Rig rig;
        rig.send(op::PU);
        std::uint64_t revision = rig.chip.memoryRevision();
        const auto changed = [&] {
            const bool result = rig.chip.memoryRevision() != revision;
            revision = rig.chip.memoryRevision();
            return result;
        };
        QVERIFY(rig.send(op::DEVID));
        QVERIFY(!changed());
        QVERIFY(rig.send(op::REC));
        QVERIFY(changed()); // the first row is taken at once
        rig.wait(ROW + 1ms);
        QVERIFY(changed()); // and the next one a row later
        QVERIFY(rig.send(op::STOP));
        QVERIFY(changed()); // the EOM marker
        QVERIFY(rig.send(op::PLAY));
        rig.wait(3 * ROW);
        QVERIFY(!changed());
        QVERIFY(rig.send(op::ERASE));
        QVERIFY(changed());
        rig.wait(ChipModel::ERASE_DURATION);
        QVERIFY(rig.send(op::G_ERASE));
        QVERIFY(changed());
    }

    void corruptMemoryFilesAreRefused_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("error");
        const QByteArray head("tamberlo-bridge-sim memory 1\nmodel ISD1760\n");
        QTest::newRow("empty") << QByteArray() << "the file is empty";
        QTest::newRow("other header")
            << QByteArray("rows 0x010 0x012 eom\n") << "line 1: not a memory file";
        QTest::newRow("no model") << QByteArray("tamberlo-bridge-sim memory 1\n")
                                  << "the model line is missing";
        QTest::newRow("rows before the model")
            << QByteArray("tamberlo-bridge-sim memory 1\nrows 0x010 0x012 eom\n")
            << "line 2: the model line is missing";
        QTest::newRow("another model")
            << QByteArray("tamberlo-bridge-sim memory 1\nmodel ISD1720\n")
            << "line 2: the memory of an ISD1720, but the simulator runs an ISD1760";
        QTest::newRow("unknown model")
            << QByteArray("tamberlo-bridge-sim memory 1\nmodel ISD9999\n") << "ISD9999";
        QTest::newRow("cut short") << head + "rows 0x010 0x0"
                                   << "line 3: the file ends";
        QTest::newRow("past the last row") << head + "rows 0x1e0 0x1f0 eom\n"
                                           << "line 3: rows 0x1e0 to 0x1f0 are not within";
        QTest::newRow("first after last") << head + "rows 0x020 0x010\n"
                                          << "line 3: rows 0x020 to 0x010";
        QTest::newRow("overlapping") << head + "rows 0x010 0x020\nrows 0x020 0x030\n"
                                     << "line 4: rows out of order or overlapping";
        QTest::newRow("out of order") << head + "rows 0x030 0x040\nrows 0x010 0x020\n"
                                      << "line 4: rows out of order";
        QTest::newRow("decimal rows") << head + "rows 16 18\n"
                                      << "line 3: rows are written";
        QTest::newRow("too many digits") << head + "rows 0x00010 0x00012\n"
                                         << "line 3: rows are";
        QTest::newRow("row beyond 16 bits") << head + "rows 0x010 0x10010\n"
                                            << "line 3: rows";
        QTest::newRow("other flag") << head + "rows 0x010 0x012 end\n"
                                    << "line 3: expected";
        QTest::newRow("unknown line") << head + "apc 0x000\n"
                                      << "line 3: expected";
        QTest::newRow("carriage return") << head + "rows 0x010 0x012\r\n"
                                         << "line 3: unexpected character";
        QTest::newRow("nul byte") << head + QByteArray("rows 0x010\0 0x012\n", 19)
                                  << "line 3: unexpected character";
    }
    void corruptMemoryFilesAreRefused() {
        QFETCH(QByteArray, file);
        QFETCH(QString, error);
        std::vector<ChipModel::RecordedRun> runs;
        std::string why;
        QVERIFY(!parseMemoryFile(std::string_view(file.constData(), std::size_t(file.size())),
                                 *findDeviceModel("ISD1760"), runs, why));
        QVERIFY2(QString::fromStdString(why).contains(error), why.c_str());
    }
};

QTEST_APPLESS_MAIN(ChipModelTest)
#include "tst_ChipModel.moc"

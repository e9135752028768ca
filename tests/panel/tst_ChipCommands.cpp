#include "ChipRig.h"

#include "chip/AnalogPath.h"
#include "chip/Catalogue.h"

#include <QMetaMethod>
#include <QTest>
#include <algorithm>

using namespace tamberlo;
using namespace tamberlo::test;

namespace {

// What each button must do, written down independently of CommandCatalogue so that a
// wrong row in either shows up. Reply -1: RecvExpect left unchanged.
struct Expected {
    const char* control;
    QByteArray wire; // with the window's initial texts and controls
    int reply;
    bool clears;
    const char* lamp; // "" for none
};

const QList<Expected>& expectedButtons() {
    static const QList<Expected> table{
        {"play", QByteArray("\x40", 1), -1, false, "Lift(0)"},
        {"stop", QByteArray("\x02", 1), 1, false, ""},
        {"rec", QByteArray("\x41", 1), 1, false, ""},
        {"fwd", QByteArray("\x48", 1), -1, false, "Lift(3)"},
        {"erase", QByteArray("\x42", 1), -1, false, "Lift(4)"},
        {"erase_all", QByteArray("\x43", 1), -1, false, "Lift(5)"},
        {"CurrentRowComm", QByteArray("\x60", 1), 3, true, "Lift(6)"},
        {"devid_rst", QByteArray("\x03", 1), -1, false, "Bottmp(4)"},
        {"devid_pu", QByteArray("\x01", 1), -1, false, "Bottmp(3)"},
        {"devid_id", QByteArray("\x09", 1), 3, true, "Bottmp(1)"},
        {"rd_play_addr", QByteArray("\x06", 1), 4, true, "Right(0)"},
        {"rd_rec_addr", QByteArray("\x08", 1), 4, true, "Right(1)"},
        {"set_play_addr", QByteArray("\x80\x00\x10\x00\x20", 5), 5, false, "Right(2)"},
        {"set_rec_addr", QByteArray("\x81\x00\x10\x00\x20", 5), 5, false, "Right(3)"},
        {"SetEraseAddrComm", QByteArray("\x82\x00\x10\x00\x20", 5), 5, false, "Right(4)"},
        {"si_ok", QByteArray("\x65\x0D\x00", 3), -1, false, "Bottmp(0)"},
    };
    return table;
}

const QStringList commandLampNames{"Bottmp(1)", "Bottmp(3)", "Bottmp(4)", "Lift(0)",  "Lift(1)",
                                   "Lift(2)",   "Lift(3)",   "Lift(4)",   "Lift(5)",  "Lift(6)",
                                   "Right(0)",  "Right(1)",  "Right(2)",  "Right(3)", "Right(4)"};

// Sentinels that no handler writes.
constexpr std::uint8_t StaleExpect = 77;
constexpr std::uint8_t StaleCount = 9;

} // namespace

class TestChipCommands : public QObject {
    Q_OBJECT
private slots:
    void catalogueMatchesTheButtons();
    void everyCatalogueRowHasItsSlot();

    void buttons_data();
    void buttons();
    void buttonsWithPortClosed_data() { buttons_data(); }
    void buttonsWithPortClosed();

    void stopClearsRecOnOnly();
    void recStartsTheAudio_data();
    void recStartsTheAudio();
    void recTwiceRestartsElapsedTime();

    void addressRanges_data();
    void addressRanges();
    void refusedRangeLeavesZeroFrame();

    void apcBytes_data();
    void apcBytes();
    void apcThroughControls_data();
    void apcThroughControls();
    void volumeButtonSteps();

    void programTextKeptWhole_data();
    void programTextKeptWhole();
    void typingStopsAtFiveCharacters();
    void typingCannotLengthenProgramText();
    void operatorMayShortenOrReplaceProgramText();
    void pasteBeyondLimitRefused();
    void designMaxLengthLifted();
    void eraseBoxesHaveNoLimit();
};

void TestChipCommands::catalogueMatchesTheButtons() {
    // The handlers look rows up by Command (row()), which indexes the catalogue: the table
    // above is in the same order.
    QCOMPARE(CommandCatalogue.size(), std::size_t(expectedButtons().size()));
    for (qsizetype i = 0; i < expectedButtons().size(); ++i) {
        const Expected& e = expectedButtons()[i];
        const CommandRow& r = row(static_cast<Command>(i));
        QCOMPARE(QByteArray(r.control.data(), qsizetype(r.control.size())), QByteArray(e.control));
        QCOMPARE(r.opcode, std::uint8_t(e.wire[0]));
        QCOMPARE(int(r.frameLength), int(e.wire.size()));
        QCOMPARE(r.replyBytes.has_value(), e.reply >= 0);
        if (r.replyBytes)
            QCOMPARE(int(*r.replyBytes), e.reply);
        QCOMPARE(r.clearsCount, e.clears);
        const std::optional<LampRef> lamp = commandLamp(r.command);
        QCOMPARE(lamp ? lampName(*lamp) : QString(), QString(e.lamp));
    }
}

void TestChipCommands::everyCatalogueRowHasItsSlot() {
    const QMetaObject& meta = ChipCommands::staticMetaObject;
    QSet<std::uint8_t> opcodes;
    for (const CommandRow& r : CommandCatalogue) {
        const QByteArray signature = QByteArray(r.control.data(), r.control.size()) + "()";
        const int index = meta.indexOfSlot(signature.constData());
        QVERIFY2(index >= 0, signature.constData());
        QCOMPARE(meta.method(index).access(), QMetaMethod::Public);
        opcodes.insert(r.opcode);
    }
    QCOMPARE(opcodes.size(), qsizetype(CommandCatalogue.size()));
    QVERIFY(meta.indexOfSlot("VoilceVal()") >= 0);
}

void TestChipCommands::buttons_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("reply");
    QTest::addColumn<bool>("clears");
    QTest::addColumn<QString>("lamp");
    for (const Expected& e : expectedButtons())
        QTest::newRow(e.control) << e.control << e.wire << e.reply << e.clears << e.lamp;
}

void TestChipCommands::buttons() {
    QFETCH(QString, control);
    QFETCH(QByteArray, wire);
    QFETCH(int, reply);
    QFETCH(bool, clears);
    QFETCH(QString, lamp);

    ChipRig rig;
    rig.chip->setVolLevel(4);
    QVERIFY(rig.port.open());
    rig.rx.setRecvExpect(StaleExpect);
    rig.rx.setRecvCnt(StaleCount);
    rig.showAllLamps();

    rig.click(control);
    QCOMPARE(rig.tx.CurCmd(), std::uint8_t(wire[0]));
    QCOMPARE(int(rig.rx.RecvExpect()), reply >= 0 ? reply : StaleExpect);
    QCOMPARE(int(rig.rx.RecvCnt()), clears ? 0 : StaleCount);

    QStringList lit = rig.litLamps();
    if (lamp.isEmpty()) {
        QCOMPARE(lit.size(), 16); // stop and rec neither hide nor show a lamp
    } else {
        // Bottmp(0) is never hidden by a command; si_ok shows it itself.
        QVERIFY(lit.removeOne("Bottmp(0)"));
        QCOMPARE(lit, lamp == "Bottmp(0)" ? QStringList{} : QStringList{lamp});
    }

    // One byte per tick, nothing before the first tick.
    QVERIFY(rig.port.written.isEmpty());
    QCOMPARE(rig.drain(), wire);
    QVERIFY(rig.boxes.boxes.isEmpty());
}

void TestChipCommands::buttonsWithPortClosed() {
    QFETCH(QString, control);
    QFETCH(QByteArray, wire);
    QFETCH(int, reply);
    QFETCH(bool, clears);
    QFETCH(QString, lamp);

    ChipRig rig;
    rig.chip->setVolLevel(4);
    rig.rx.setRecvExpect(StaleExpect);
    rig.rx.setRecvCnt(StaleCount);

    rig.click(control);
    QCOMPARE(rig.boxes.boxes.size(), 1);
    QCOMPARE(rig.boxes.boxes[0].text, QStringLiteral("串口没打开"));
    QCOMPARE(rig.boxes.boxes[0].title, QStringLiteral("串口状态"));
    QCOMPARE(rig.boxes.boxes[0].icon, MessageIcon::Critical);
    QVERIFY(rig.drain().isEmpty());
    // What the handler did before the send stands.
    QCOMPARE(int(rig.rx.RecvExpect()), reply >= 0 ? reply : StaleExpect);
    QCOMPARE(int(rig.rx.RecvCnt()), clears ? 0 : StaleCount);
    QCOMPARE(rig.litLamps(), lamp.isEmpty() ? QStringList{} : QStringList{lamp});
}

void TestChipCommands::stopClearsRecOnOnly() {
    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.audio->setRecOn(true);
    rig.audio->setMusicOn(true);
    rig.player.command(PlayerCommand::Play);
    rig.player.commands.clear();
    rig.w.lamps.show({LampGroup::Right, 0});

    rig.chip->stop();
    QVERIFY(!rig.audio->RecOn());
    QVERIFY(rig.audio->MusicOn()); // cleared by the reply, not the click
    QVERIFY(rig.player.commands.empty());
    QCOMPARE(rig.litLamps(), QStringList{"Right(0)"});
    QCOMPARE(rig.drain(), QByteArray("\x02", 1));

    // The automatic stop is the same four steps.
    rig.audio->setRecOn(true);
    rig.rx.setRecvExpect(StaleExpect);
    rig.chip->sendStop();
    QVERIFY(!rig.audio->RecOn());
    QCOMPARE(int(rig.rx.RecvExpect()), 1);
    QCOMPARE(rig.drain(), QByteArray("\x02\x02", 2));
    QCOMPARE(rig.litLamps(), QStringList{"Right(0)"});
}

void TestChipCommands::recStartsTheAudio_data() {
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("port open") << true;
    QTest::newRow("port closed") << false;
}

void TestChipCommands::recStartsTheAudio() {
    QFETCH(bool, portOpen);
    ChipRig rig;
    if (portOpen)
        QVERIFY(rig.port.open());
    rig.audio->setRecElapsedMs(12345);

    rig.chip->rec();
    QCOMPARE(rig.audio->RecElapsedMs(), 0);
    QVERIFY(rig.audio->RecOn());
    QVERIFY(rig.audio->MusicOn());
    QCOMPARE(rig.player.updateInterval(), 30);
    // The sound waits until REC is out (the tick that writes it gives "Play"); with nothing
    // to send it starts at once.
    const std::vector<PlayerCommand> played{PlayerCommand::Play};
    QCOMPARE(rig.player.commands, portOpen ? std::vector<PlayerCommand>{} : played);
    QCOMPARE(rig.drain(), portOpen ? QByteArray("\x41", 1) : QByteArray());
    QCOMPARE(rig.player.commands, played);
    QCOMPARE(rig.boxes.boxes.size(), portOpen ? 0 : 1);
    if (!portOpen)
        QCOMPARE(rig.boxes.boxes[0].text, QStringLiteral("串口没打开"));
}

void TestChipCommands::recTwiceRestartsElapsedTime() {
    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.chip->rec();
    rig.drain();
    rig.audio->setRecElapsedMs(900);
    rig.chip->rec();
    QCOMPARE(rig.audio->RecElapsedMs(), 0);
    QCOMPARE(rig.drain(), QByteArray("\x41\x41", 2));
}

void TestChipCommands::addressRanges_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QByteArray>("wire"); // empty: nothing sent
    QTest::addColumn<bool>("refusedWithBox");
    QTest::addColumn<QString>("lamp");

    const QByteArray none;
    QTest::newRow("play, initial texts")
        << "set_play_addr"
        << "00 10"
        << "00 20" << QByteArray("\x80\x00\x10\x00\x20", 5) << false << "Right(2)";
    QTest::newRow("play, start too short") << "set_play_addr"
                                           << "00 1"
                                           << "00 20" << none << true << "Right(2)";
    QTest::newRow("play, both empty") << "set_play_addr"
                                      << ""
                                      << "" << none << true << "Right(2)";
    QTest::newRow("play, end empty") << "set_play_addr"
                                     << "00 10"
                                     << "" << none << true << "Right(2)";
    QTest::newRow("play, lower case")
        << "set_play_addr"
        << "ab cd"
        << "00 20" << QByteArray("\x80\xAB\xCD\x00\x20", 5) << false << "Right(2)";
    QTest::newRow("play, lone high digit")
        << "set_play_addr"
        << "00 1x"
        << "00 20" << QByteArray("\x80\x00\x10\x00\x20", 5) << false << "Right(2)";
    QTest::newRow("play, start above end")
        << "set_play_addr"
        << "01 00"
        << "00 20" << QByteArray("\x80\x01\x00\x00\x20", 5) << false << "Right(2)";
    QTest::newRow("play, Chinese characters skipped")
        << "set_play_addr" << QStringLiteral("中文 12") << "00 20"
        << QByteArray("\x80\x12\x00\x00\x20", 5) << false << "Right(2)";
    QTest::newRow("record, initial texts")
        << "set_rec_addr"
        << "00 10"
        << "00 20" << QByteArray("\x81\x00\x10\x00\x20", 5) << false << "Right(3)";
    QTest::newRow("record, nothing hex")
        << "set_rec_addr"
        << "zz zz"
        << "FF fe" << QByteArray("\x81\x00\x00\xFF\xFE", 5) << false << "Right(3)";
    QTest::newRow("record, start too short") << "set_rec_addr"
                                             << "00 1"
                                             << "00 20" << none << true << "Right(3)";
    QTest::newRow("erase, initial texts")
        << "SetEraseAddrComm"
        << "00 10"
        << "00 20" << QByteArray("\x82\x00\x10\x00\x20", 5) << false << "Right(4)";
    QTest::newRow("erase, unfinished group")
        << "SetEraseAddrComm"
        << "1 2 3"
        << "00 20" << QByteArray("\x82\x01\x02\x00\x20", 5) << false << "Right(4)";
    QTest::newRow("erase, end too long") << "SetEraseAddrComm"
                                         << "00 10"
                                         << "00 200" << none << false << "Right(4)";
    QTest::newRow("erase, start too long") << "SetEraseAddrComm"
                                           << "000 10"
                                           << "00 20" << none << false << "Right(4)";
    QTest::newRow("erase, one too long, one too short") << "SetEraseAddrComm"
                                                        << "00 200"
                                                        << "00 1" << none << true << "Right(4)";
}

void TestChipCommands::addressRanges() {
    QFETCH(QString, control);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QByteArray, wire);
    QFETCH(bool, refusedWithBox);
    QFETCH(QString, lamp);

    ChipRig rig;
    QVERIFY(rig.port.open());
    const auto expected =
        std::find_if(expectedButtons().begin(), expectedButtons().end(),
                     [&control](const Expected& e) { return control == e.control; });
    QVERIFY(expected != expectedButtons().end());
    const QString boxes = control == "set_play_addr"  ? "St_Play_Text"
                          : control == "set_rec_addr" ? "St_Rec_Text"
                                                      : "SetEraseText";
    rig.box(boxes)->setText(start);
    rig.box(boxes + "1")->setText(end);
    rig.showAllLamps();

    rig.click(control);
    // A recording's sound waits for the frame's last byte, from which the chip records.
    const bool playedBeforeOut = !rig.player.commands.empty();
    QCOMPARE(rig.drain(), wire);
    QCOMPARE(int(rig.rx.RecvExpect()), expected->reply);
    QStringList lit = rig.litLamps();
    QVERIFY(lit.removeOne("Bottmp(0)"));
    QCOMPARE(lit, QStringList{lamp});
    if (refusedWithBox) {
        QCOMPARE(rig.boxes.boxes.size(), 1);
        QCOMPARE(rig.boxes.boxes[0].text, QStringLiteral("数据格式非法"));
        QCOMPARE(rig.boxes.boxes[0].title, QStringLiteral("错误"));
        QCOMPARE(rig.boxes.boxes[0].icon, MessageIcon::Critical);
    } else {
        QVERIFY(rig.boxes.boxes.isEmpty());
    }
    if (!wire.isEmpty()) {
        QCOMPARE(rig.tx.CurCmd(), std::uint8_t(expected->wire[0]));
        // HexBytes holds the end text's parse, re-created for 5 characters.
        QCOMPARE(rig.chip->HexBytes.size(), std::size_t(7));
        QCOMPARE(rig.chip->HexBytes[0], std::uint8_t(wire[3]));
        QCOMPARE(rig.chip->HexBytes[1], std::uint8_t(wire[4]));
    }
    // The record range starts the audio whatever became of the frame.
    const bool record = control == "set_rec_addr";
    QCOMPARE(rig.audio->MusicOn(), record);
    QCOMPARE(rig.player.commands, record ? std::vector<PlayerCommand>{PlayerCommand::Play}
                                         : std::vector<PlayerCommand>{});
    QCOMPARE(rig.player.updateInterval(), record ? 30 : 0);
    QCOMPARE(playedBeforeOut, record && wire.isEmpty());
}

void TestChipCommands::refusedRangeLeavesZeroFrame() {
    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.tx.SendBuf = {1, 2, 3};
    rig.rx.setRecvCnt(StaleCount);
    rig.box("SetEraseText1")->setText("00 200");
    rig.chip->SetEraseAddrComm();
    QCOMPARE(rig.tx.SendBuf, (std::vector<std::uint8_t>{0, 0, 0, 0, 0}));
    QCOMPARE(int(rig.rx.RecvExpect()), 5);
    QCOMPARE(int(rig.rx.RecvCnt()), int(StaleCount)); // range commands never clear the count
    QVERIFY(!rig.tx.isSending());
}

void TestChipCommands::apcBytes_data() {
    QTest::addColumn<int>("vol");
    QTest::addColumn<bool>("spk");
    QTest::addColumn<bool>("mon");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("start-up") << 4 << false << false << "Lin" << QByteArray("\x65\x0D\x00", 3);
    QTest::newRow("step 2, speaker, monitor, Mic")
        << 2 << true << true << "Mic" << QByteArray("\x65\x0C\x4A", 3);
    QTest::newRow("step 0, monitor, LM")
        << 0 << false << true << "LM" << QByteArray("\x65\x0D\x1C", 3);
    QTest::newRow("step 1") << 1 << true << false << "Lin" << QByteArray("\x65\x0C\x03", 3);
    QTest::newRow("step 3") << 3 << true << false << "Lin" << QByteArray("\x65\x0C\x01", 3);
    QTest::newRow("step beyond 4") << 9 << true << false << "Lin" << QByteArray("\x65\x0C\x00", 3);
    QTest::newRow("mic in lower case")
        << 4 << true << false << "mic" << QByteArray("\x65\x0C\x00", 3);
    QTest::newRow("MIC in upper case")
        << 4 << true << false << "MIC" << QByteArray("\x65\x0C\x00", 3);
    QTest::newRow("lm in lower case")
        << 4 << true << false << "lm" << QByteArray("\x65\x0C\x00", 3);
    QTest::newRow("Mic with a space")
        << 4 << true << false << "Mic " << QByteArray("\x65\x0C\x00", 3);
    QTest::newRow("other text") << 4 << true << false << "xyz" << QByteArray("\x65\x0C\x00", 3);
    QTest::newRow("everything set") << 0 << false << true << "Mic" << QByteArray("\x65\x0D\x4C", 3);
}

void TestChipCommands::apcBytes() {
    QFETCH(int, vol);
    QFETCH(bool, spk);
    QFETCH(bool, mon);
    QFETCH(QString, source);
    QFETCH(QByteArray, frame);
    const auto bytes = apcFrame({static_cast<std::uint8_t>(vol), spk, mon, source});
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes.data()), 3), frame);
}

void TestChipCommands::apcThroughControls_data() {
    QTest::addColumn<int>("vol");
    QTest::addColumn<Qt::CheckState>("spk");
    QTest::addColumn<Qt::CheckState>("mon");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("start-up") << 4 << Qt::Unchecked << Qt::Unchecked << "Lin"
                              << QByteArray("\x65\x0D\x00", 3);
    QTest::newRow("step 2, speaker, monitor, Mic")
        << 2 << Qt::Checked << Qt::Checked << "Mic" << QByteArray("\x65\x0C\x4A", 3);
    QTest::newRow("step 0, monitor, LM")
        << 0 << Qt::Unchecked << Qt::Checked << "LM" << QByteArray("\x65\x0D\x1C", 3);
    QTest::newRow("typed mic") << 4 << Qt::Checked << Qt::Unchecked << "mic"
                               << QByteArray("\x65\x0C\x00", 3);
    QTest::newRow("partly checked is not checked")
        << 4 << Qt::PartiallyChecked << Qt::PartiallyChecked << "Lin"
        << QByteArray("\x65\x0D\x00", 3);
}

void TestChipCommands::apcThroughControls() {
    QFETCH(int, vol);
    QFETCH(Qt::CheckState, spk);
    QFETCH(Qt::CheckState, mon);
    QFETCH(QString, source);
    QFETCH(QByteArray, wire);

    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.chip->setVolLevel(static_cast<std::uint8_t>(vol));
    rig.w.SPKon->setTristate(true);
    rig.w.SoundMon->setTristate(true);
    rig.w.SPKon->setCheckState(spk);
    rig.w.SoundMon->setCheckState(mon);
    rig.w.sound_in->setCurrentText(source);
    rig.rx.setRecvExpect(StaleExpect);
    rig.rx.setRecvCnt(StaleCount);

    rig.chip->si_ok();
    QCOMPARE(int(rig.rx.RecvCnt()), int(StaleCount)); // the handler leaves the count alone ...
    QCOMPARE(rig.drain(), wire);
    QCOMPARE(int(rig.rx.RecvExpect()), int(StaleExpect));
    QCOMPARE(int(rig.rx.RecvCnt()), 0); // ... the frame's first byte rewinds it
    QCOMPARE(rig.litLamps(), QStringList{"Bottmp(0)"});
}

void TestChipCommands::volumeButtonSteps() {
    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.chip->setVolLevel(4);
    for (int i = 0; i < 6; ++i)
        rig.chip->VoilceVal();
    QCOMPARE(rig.dips, (std::vector<std::uint8_t>{4, 0, 1, 2, 3, 4, 0}));
    QCOMPARE(int(rig.chip->VolLevel), 0);
    QVERIFY(rig.drain().isEmpty()); // only si_ok sends
    QVERIFY(!rig.tx.isSending());

    rig.chip->setVolLevel(200); // out of range: the next step is 0, never 201
    rig.chip->VoilceVal();
    QCOMPARE(int(rig.chip->VolLevel), 0);
}

void TestChipCommands::programTextKeptWhole_data() {
    QTest::addColumn<QString>("name");
    for (const char* name :
         {"St_Play_Text", "St_Play_Text1", "St_Rec_Text", "St_Rec_Text1", "CurrentRow"})
        QTest::newRow(name) << name;
}

void TestChipCommands::programTextKeptWhole() {
    QFETCH(QString, name);
    ChipRig rig;
    QLineEdit* box = rig.box(name);
    box->setText("12 34 ");
    QCOMPARE(box->text(), QStringLiteral("12 34 "));
    box->setText("00 11 22 33 44 ");
    QCOMPARE(box->text(), QStringLiteral("00 11 22 33 44 "));
    box->clear();
    QCOMPARE(box->text(), QString());
}

void TestChipCommands::typingStopsAtFiveCharacters() {
    ChipRig rig;
    rig.window.show();
    QLineEdit* box = rig.box("St_Play_Text");
    box->clear();
    QTest::keyClicks(box, "00 100");
    QCOMPARE(box->text(), QStringLiteral("00 10"));
    // The limit holds for every limited box, CurrentRow included.
    QLineEdit* row = rig.box("CurrentRow");
    QTest::keyClicks(row, "abcdefgh");
    QCOMPARE(row->text(), QStringLiteral("abcde"));
}

void TestChipCommands::typingCannotLengthenProgramText() {
    ChipRig rig;
    rig.window.show();
    QLineEdit* row = rig.box("CurrentRow");
    row->setText("12 34 ");
    row->end(false);
    QTest::keyClicks(row, "7");
    QCOMPARE(row->text(), QStringLiteral("12 34 "));
    row->home(false);
    QTest::keyClicks(row, "x");
    QCOMPARE(row->text(), QStringLiteral("12 34 "));
}

void TestChipCommands::operatorMayShortenOrReplaceProgramText() {
    ChipRig rig;
    rig.window.show();
    QLineEdit* row = rig.box("CurrentRow");
    row->setText("12 34 ");
    row->end(false);
    QTest::keyClick(row, Qt::Key_Backspace);
    QCOMPARE(row->text(), QStringLiteral("12 34"));
    QTest::keyClicks(row, "5");
    QCOMPARE(row->text(), QStringLiteral("12 34")); // back at the limit

    row->setText("AB CD EF ");
    row->setSelection(0, 2); // "AB" pasted over with "12": same length, allowed
    row->insert("12");
    QCOMPARE(row->text(), QStringLiteral("12 CD EF "));
    // Typed key by key, the first key shortens the text and the second may not lengthen it
    // again beyond the limit.
    row->setSelection(0, 2);
    QTest::keyClicks(row, "34");
    QCOMPARE(row->text(), QStringLiteral("3 CD EF "));
    row->selectAll();
    QTest::keyClicks(row, "00 30");
    QCOMPARE(row->text(), QStringLiteral("00 30"));
}

void TestChipCommands::pasteBeyondLimitRefused() {
    ChipRig rig;
    QLineEdit* box = rig.box("St_Rec_Text1");
    box->clear();
    box->insert("0123456789"); // what a paste does
    QCOMPARE(box->text(), QString());
    box->insert("00 4");
    QCOMPARE(box->text(), QStringLiteral("00 4"));
    box->insert("00");
    QCOMPARE(box->text(), QStringLiteral("00 4"));
    box->insert("0");
    QCOMPARE(box->text(), QStringLiteral("00 40"));
}

void TestChipCommands::designMaxLengthLifted() {
    ChipRig rig([](ChipRig& r) { r.box("CurrentRow")->setMaxLength(5); });
    rig.box("CurrentRow")->setText("12 34 ");
    QCOMPARE(rig.box("CurrentRow")->text(), QStringLiteral("12 34 "));
}

void TestChipCommands::eraseBoxesHaveNoLimit() {
    ChipRig rig;
    rig.window.show();
    QLineEdit* box = rig.box("SetEraseText1");
    box->clear();
    QTest::keyClicks(box, "00 200");
    QCOMPARE(box->text(), QStringLiteral("00 200"));
}

QTEST_MAIN(TestChipCommands)
#include "tst_ChipCommands.moc"

#include "ChipRig.h"

#include <QTest>

using namespace tamberlo;
using namespace tamberlo::test;

Q_DECLARE_METATYPE(tamberlo::PlayerCommand)

class TestReplyActions : public QObject {
    Q_OBJECT
private slots:
    void textReplies_data();
    void textReplies();
    void deviceId_data();
    void deviceId();
    void rangeReplyBox_data();
    void rangeReplyBox();

    void stopReply_data();
    void stopReply();
    void leftoverBytesDoNotSpoilTheNextReply_data();
    void leftoverBytesDoNotSpoilTheNextReply();
    void stopReplyWhileAnotherBoxIsOpen_data();
    void stopReplyWhileAnotherBoxIsOpen();
    void replyToCommandWithoutAction();

    void recReply_data();
    void recReply();
    void setRecReply_data();
    void setRecReply();
};

void TestReplyActions::textReplies_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("oneByOne");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");

    QTest::newRow("play pointer") << "rd_play_addr" << QByteArray("\x00\x00\x01\x2F", 4) << false
                                  << "Play_Text"
                                  << "01 2F ";
    QTest::newRow("play pointer, byte by byte")
        << "rd_play_addr" << QByteArray("\x00\x00\x01\x2F", 4) << true << "Play_Text"
        << "01 2F ";
    QTest::newRow("record pointer")
        << "rd_rec_addr" << QByteArray("\xAA\xBB\x12\x34", 4) << false << "Rec_Text"
        << "12 34 ";
    QTest::newRow("record pointer, byte by byte")
        << "rd_rec_addr" << QByteArray("\xAA\xBB\xfe\x0a", 4) << true << "Rec_Text"
        << "FE 0A ";
    // Six characters in a box the operator may fill with five only: shown whole.
    QTest::newRow("current address")
        << "CurrentRowComm" << QByteArray("\x12\x34\x56", 3) << false << "CurrentRow"
        << "12 34 ";
    QTest::newRow("current address, byte by byte")
        << "CurrentRowComm" << QByteArray("\x00\xC0\xFF", 3) << true << "CurrentRow"
        << "00 C0 ";
}

void TestReplyActions::textReplies() {
    QFETCH(QString, control);
    QFETCH(QByteArray, reply);
    QFETCH(bool, oneByOne);
    QFETCH(QString, box);
    QFETCH(QString, text);

    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.click(control);
    rig.drain();
    if (oneByOne) {
        for (qsizetype i = 0; i < reply.size(); ++i) {
            QVERIFY(rig.box(box)->text().isEmpty());
            rig.reply(reply.mid(i, 1));
        }
    } else {
        rig.reply(reply);
    }
    QCOMPARE(rig.box(box)->text(), text);
    QCOMPARE(int(rig.rx.RecvCnt()), 0);
    QCOMPARE(int(rig.rx.RecvIdx()), 0);
    QVERIFY(rig.boxes.boxes.isEmpty());
    // No other box took the text.
    for (const char* other : {"Play_Text", "Rec_Text", "CurrentRow"}) {
        if (box != other)
            QVERIFY(rig.box(other)->text().isEmpty());
    }
}

void TestReplyActions::deviceId_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("model");
    QTest::newRow("0x90") << 0x90 << "ISD1720";
    QTest::newRow("0x80") << 0x80 << "ISD1730";
    QTest::newRow("0xA0") << 0xA0 << "ISD1760";
    QTest::newRow("0xF0") << 0xF0 << "ISD17180";
    for (int unknown : {0x00, 0x88, 0x91, 0xB8, 0xD8, 0xF8, 0xFF, 0xA1})
        QTest::newRow(qPrintable(QString::asprintf("0x%02X", unknown)))
            << unknown << QStringLiteral("未知器件");
}

void TestReplyActions::deviceId() {
    QFETCH(int, id);
    QFETCH(QString, model);
    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.chip->devid_id();
    rig.drain();
    // Bytes 0 and 1 hold known codes: only byte 2 names the device.
    QByteArray reply("\xA0\x90", 2);
    reply.append(static_cast<char>(id));
    rig.reply(reply);
    QCOMPARE(rig.boxes.boxes.size(), 1);
    QCOMPARE(rig.boxes.boxes[0].text, model);
    QCOMPARE(rig.boxes.boxes[0].title, QStringLiteral("器件类型"));
    QCOMPARE(rig.boxes.boxes[0].icon, MessageIcon::Information);
    QCOMPARE(rig.litLamps(), QStringList{"Bottmp(1)"});
}

void TestReplyActions::rangeReplyBox_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("lamp");
    QTest::newRow("play range") << "set_play_addr"
                                << "Right(2)";
    QTest::newRow("erase range") << "SetEraseAddrComm"
                                 << "Right(4)";
}

void TestReplyActions::rangeReplyBox() {
    QFETCH(QString, control);
    QFETCH(QString, lamp);
    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.click(control);
    rig.drain();
    rig.reply(QByteArray("\x00\x00\x10", 3));
    QVERIFY(rig.boxes.boxes.isEmpty());
    rig.reply(QByteArray("\x00\x20", 2));
    QCOMPARE(rig.boxes.boxes.size(), 1);
    QCOMPARE(rig.boxes.boxes[0].text, QStringLiteral("00 00 10 00 20 "));
    QCOMPARE(rig.boxes.boxes[0].title, QString()); // the application's title
    QCOMPARE(rig.boxes.boxes[0].icon, MessageIcon::Information);
    QCOMPARE(rig.litLamps(), QStringList{lamp});
    QVERIFY(rig.player.commands.empty());
    QCOMPARE(int(rig.rx.RecvCnt()), 0);
}

void TestReplyActions::stopReply_data() {
    QTest::addColumn<PlayerCommand>("last");
    QTest::addColumn<bool>("paused");
    QTest::newRow("player playing") << PlayerCommand::Play << true;
    QTest::newRow("player paused") << PlayerCommand::Pause << false;
    QTest::newRow("player stopped") << PlayerCommand::Stop << false;
    QTest::newRow("player never told") << PlayerCommand::None << false;
}

void TestReplyActions::stopReply() {
    QFETCH(PlayerCommand, last);
    QFETCH(bool, paused);

    ChipRig rig;
    QVERIFY(rig.port.open());
    if (last != PlayerCommand::None)
        rig.player.command(last);
    rig.player.setUpdateInterval(30);
    rig.player.commands.clear();
    rig.w.lamps.show({LampGroup::Right, 0}); // the previous command's lamp
    rig.w.lamps.show({LampGroup::Bottmp, 0});

    rig.chip->stop();
    rig.drain();
    rig.audio->setRecOn(true); // as if set again while the reply was on its way
    rig.audio->setMusicOn(true);
    rig.reply(QByteArray("\x00", 1));

    QVERIFY(!rig.audio->RecOn());
    QVERIFY(!rig.audio->MusicOn());
    if (paused) {
        QCOMPARE(rig.player.commands, std::vector<PlayerCommand>{PlayerCommand::Pause});
        QCOMPARE(rig.player.updateInterval(), 0);
        QCOMPARE(rig.litLamps(), (QStringList{"Bottmp(0)", "Lift(1)"}));
    } else {
        QVERIFY(rig.player.commands.empty());
        QCOMPARE(rig.player.updateInterval(), 30);
        QCOMPARE(rig.litLamps(), (QStringList{"Bottmp(0)", "Right(0)"}));
    }
    QCOMPARE(int(rig.rx.RecvCnt()), 0);
}

void TestReplyActions::leftoverBytesDoNotSpoilTheNextReply_data() {
    // What comes before the STOP or REC frame: a reply that stopped short, or a byte the board
    // sent on its own. Neither command clears the count; its frame's first byte does.
    QTest::addColumn<QString>("before");
    QTest::addColumn<QByteArray>("leftover");
    QTest::addColumn<QString>("control");
    QTest::newRow("pointer read answered short, then stop")
        << "rd_play_addr" << QByteArray("\x00", 1) << "stop";
    QTest::newRow("address read answered short, then rec")
        << "CurrentRowComm" << QByteArray("\x01\x02", 2) << "rec";
    QTest::newRow("stray byte after the port opened, then stop")
        << QString() << QByteArray("\xFF", 1) << "stop";
    QTest::newRow("stray byte after the port opened, then rec")
        << QString() << QByteArray("\xFF", 1) << "rec";
}

void TestReplyActions::leftoverBytesDoNotSpoilTheNextReply() {
    QFETCH(QString, before);
    QFETCH(QByteArray, leftover);
    QFETCH(QString, control);
    ChipRig rig;
    QVERIFY(rig.port.open());
    if (!before.isEmpty()) {
        rig.click(before);
        rig.drain();
    }
    rig.reply(leftover);
    QCOMPARE(int(rig.rx.RecvCnt()), leftover.size());

    const bool stop = control == QLatin1String("stop");
    if (stop) {
        rig.player.command(PlayerCommand::Play);
        rig.audio->setMusicOn(true);
    }
    rig.player.commands.clear();
    rig.click(control);
    rig.drain();
    rig.reply(QByteArray("\x00", 1));

    QCOMPARE(int(rig.rx.RecvCnt()), 0);
    if (stop) {
        QCOMPARE(rig.player.commands, std::vector<PlayerCommand>{PlayerCommand::Pause});
        QVERIFY(!rig.audio->MusicOn());
        QCOMPARE(rig.litLamps(), QStringList{"Lift(1)"});
    } else {
        QCOMPARE(rig.litLamps(), QStringList{"Lift(2)"});
        QVERIFY(rig.audio->RecOn());
    }
}

void TestReplyActions::stopReplyWhileAnotherBoxIsOpen_data() {
    // A recording runs; the operator's command opens a box, and while it is open the automatic
    // stop sends STOP and its reply comes in.
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text");
    QTest::newRow("device type") << "devid_id" << QByteArray("\x00\x00\xA0", 3) << "ISD1760";
    QTest::newRow("play range") << "set_play_addr" << QByteArray("\x00\x00\x10\x00\x20", 5)
                                << "00 00 10 00 20 ";
    QTest::newRow("record range refused")
        << "set_rec_addr" << QByteArray("\x00\x00\x10\x00\x20", 5) << "请先停止上一次录音";
}

void TestReplyActions::stopReplyWhileAnotherBoxIsOpen() {
    QFETCH(QString, control);
    QFETCH(QByteArray, reply);
    QFETCH(QString, text);
    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.click(QStringLiteral("rec"));
    rig.drain();
    rig.reply(QByteArray("\x00", 1));
    QVERIFY(rig.audio->RecOn());
    QCOMPARE(rig.player.lastCommand(), PlayerCommand::Play);

    bool pausedWhileOpen = false;
    rig.boxes.onShow = [&](const FakeMessageBoxes::Box&) {
        rig.boxes.onShow = nullptr;
        rig.chip->sendStop(); // the automatic stop
        rig.drain();
        rig.reply(QByteArray("\x00", 1));
        pausedWhileOpen = rig.player.lastCommand() == PlayerCommand::Pause;
    };
    rig.click(control);
    rig.drain();
    rig.player.commands.clear(); // set_rec_addr gives the player "Play" once more
    rig.reply(reply);

    QCOMPARE(rig.boxes.boxes.size(), 1);
    QCOMPARE(rig.boxes.boxes[0].text, text);
    QVERIFY(pausedWhileOpen);
    QCOMPARE(rig.player.commands, std::vector<PlayerCommand>{PlayerCommand::Pause});
    QVERIFY(!rig.audio->RecOn());
    QVERIFY(!rig.audio->MusicOn());
    QCOMPARE(rig.litLamps(), QStringList{"Lift(1)"});
    QCOMPARE(int(rig.rx.RecvCnt()), 0);
    QCOMPARE(int(rig.rx.RecvIdx()), 0);
}

void TestReplyActions::replyToCommandWithoutAction() {
    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.chip->stop();
    rig.drain();
    rig.reply(QByteArray("\x00", 1));
    rig.player.command(PlayerCommand::Play);
    rig.player.commands.clear();

    rig.chip->play(); // RecvExpect still 1 from STOP
    rig.drain();
    rig.reply(QByteArray("\x00", 1));
    QCOMPARE(int(rig.rx.RecvCnt()), 0);
    QCOMPARE(int(rig.rx.RecvIdx()), 0);
    QVERIFY(rig.player.commands.empty()); // not taken for a STOP reply
    QCOMPARE(rig.litLamps(), QStringList{"Lift(0)"});
    QVERIFY(rig.boxes.boxes.isEmpty());
}

void TestReplyActions::recReply_data() {
    QTest::addColumn<PlayerCommand>("between");
    QTest::addColumn<bool>("restarted");
    QTest::newRow("right after the record button") << PlayerCommand::None << false;
    QTest::newRow("player paused in between") << PlayerCommand::Pause << true;
    QTest::newRow("player stopped in between") << PlayerCommand::Stop << true;
}

void TestReplyActions::recReply() {
    QFETCH(PlayerCommand, between);
    QFETCH(bool, restarted);

    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.chip->play();
    rig.chip->rec();
    rig.drain();
    QCOMPARE(rig.litLamps(), QStringList{"Lift(0)"}); // rec's click lights nothing
    if (between != PlayerCommand::None) {
        rig.player.command(between);
        rig.player.setUpdateInterval(0);
    }
    rig.audio->setRecOn(false);
    rig.audio->setMusicOn(false);
    rig.player.commands.clear();

    rig.reply(QByteArray("\x00", 1));
    QCOMPARE(rig.litLamps(), QStringList{"Lift(2)"});
    QVERIFY(rig.audio->RecOn());
    QVERIFY(rig.audio->MusicOn());
    QCOMPARE(rig.player.commands, restarted ? std::vector<PlayerCommand>{PlayerCommand::Play}
                                            : std::vector<PlayerCommand>{});
    QCOMPARE(rig.player.lastCommand(), PlayerCommand::Play);
    QCOMPARE(rig.player.updateInterval(), 30);
}

void TestReplyActions::setRecReply_data() {
    QTest::addColumn<bool>("recording");
    QTest::addColumn<PlayerCommand>("last");
    QTest::newRow("recording runs") << true << PlayerCommand::Pause;
    QTest::newRow("no recording, player paused") << false << PlayerCommand::Pause;
    QTest::newRow("no recording, player playing") << false << PlayerCommand::Play;
    QTest::newRow("no recording, player stopped") << false << PlayerCommand::Stop;
}

void TestReplyActions::setRecReply() {
    QFETCH(bool, recording);
    QFETCH(PlayerCommand, last);

    ChipRig rig;
    QVERIFY(rig.port.open());
    rig.chip->set_rec_addr();
    rig.drain();
    rig.player.command(last);
    rig.player.setUpdateInterval(0);
    rig.player.commands.clear();
    rig.audio->setRecOn(recording);
    rig.w.lamps.CriDigClr();
    rig.w.lamps.show({LampGroup::Lift, 0});

    rig.reply(QByteArray("\x00\x00\x10\x00\x20", 5));
    if (recording) {
        QCOMPARE(rig.boxes.boxes.size(), 1);
        QCOMPARE(rig.boxes.boxes[0].text, QStringLiteral("请先停止上一次录音"));
        QCOMPARE(rig.boxes.boxes[0].title, QString());
        QCOMPARE(rig.boxes.boxes[0].icon, MessageIcon::None);
        QCOMPARE(rig.litLamps(), QStringList{"Lift(0)"});
        QVERIFY(rig.player.commands.empty());
        QVERIFY(rig.audio->RecOn());
    } else {
        QVERIFY(rig.boxes.boxes.isEmpty());
        QCOMPARE(rig.litLamps(), QStringList{"Right(3)"});
        const bool resumed = last == PlayerCommand::Pause;
        QCOMPARE(rig.player.commands, resumed ? std::vector<PlayerCommand>{PlayerCommand::Play}
                                              : std::vector<PlayerCommand>{});
        QCOMPARE(rig.player.updateInterval(), resumed ? 30 : 0);
    }
    QCOMPARE(int(rig.rx.RecvCnt()), 0);
}

QTEST_MAIN(TestReplyActions)
#include "tst_ReplyActions.moc"

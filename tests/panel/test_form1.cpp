// The real window, offscreen, with fakes at the platform edges: design values, names,
// start-up state and the routing of every control event.
#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "panel/AudioSource.h"
#include "panel/ChipCommands.h"
#include "panel/Form1.h"
#include "panel/Language.h"
#include "support/Fakes.h"
#include "widgets/AudioOutputBox.h"
#include "widgets/Lamp.h"
#include "widgets/LevelBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

using namespace tamberlo;
using namespace tamberlo::test;

class TestForm1 : public QObject {
    Q_OBJECT

    struct Panel {
        FakeSerialPort port;
        FakeAudioPlayer player;
        FakeMessageBoxes boxes;
        FakeFileDialog dialog;
        std::unique_ptr<Form1> form;
        Panel() {
            form = std::make_unique<Form1>(Form1::Platform{&port, &player, &boxes, &dialog});
        }
        template <typename T> T* get(const QString& name) {
            T* w = form->findChild<T*>(name);
            if (!w)
                qFatal("no control %s", qPrintable(name));
            return w;
        }
        QPushButton* button(const QString& caption) {
            const auto buttons = form->findChildren<QPushButton*>();
            for (QPushButton* b : buttons)
                if (b->text() == caption)
                    return b;
            qFatal("no button %s", qPrintable(caption));
        }
        // Sends whatever frame is in flight, tick by tick.
        QByteArray drain() {
            const qsizetype before = port.written.size();
            for (int i = 0; i < 10 && form->transmitter().isSending(); ++i)
                form->transmitter().tick();
            return port.written.mid(before);
        }
    };

    // What the program installs where the locale is the plain C one: Chinese captions, Qt's
    // own texts in Chinese too.
    std::unique_ptr<Translations> translations_;

private slots:
    void initTestCase() {
        translations_ = std::make_unique<Translations>(panelLanguage({QStringLiteral("C")}));
        QCOMPARE(translations_->language(), PanelLanguage::Chinese);
        QVERIFY(translations_->qtLoaded());
    }

    void windowDesign() {
        Panel p;
        QCOMPARE(p.form->windowTitle(), QStringLiteral("Tamberlo Ver2.3"));
        QCOMPARE(p.form->minimumSize(), QSize(469, 453));
        QCOMPARE(p.form->maximumSize(), QSize(469, 453));
        QVERIFY(!p.form->windowIcon().isNull());
        const QPixmap picture = p.get<QLabel>("Picture1")->pixmap();
        QVERIFY(!picture.isNull());

        const auto* combo = p.get<QComboBox>("Combo1");
        QCOMPARE(combo->count(), 16);
        for (int i = 0; i < 16; ++i)
            QCOMPARE(combo->itemText(i), QString::number(i + 1));
        QCOMPARE(combo->currentText(), QStringLiteral("1"));
        QVERIFY(combo->isEditable());

        const auto* source = p.get<QComboBox>("sound_in");
        QCOMPARE(source->count(), 3);
        QCOMPARE(source->itemText(0), QStringLiteral("Lin"));
        QCOMPARE(source->itemText(1), QStringLiteral("Mic"));
        QCOMPARE(source->itemText(2), QStringLiteral("LM"));
        QCOMPARE(source->currentText(), QStringLiteral("Lin"));
        QVERIFY(source->isEditable());

        const auto* slider = p.get<QSlider>("PlayPoint");
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 30000);
        QCOMPARE(slider->value(), 0);
        QCOMPARE(slider->orientation(), Qt::Horizontal);

        QVERIFY(!p.get<QCheckBox>("SoundMon")->isChecked());
        QVERIFY(!p.get<QCheckBox>("SPKon")->isChecked());
        QVERIFY(p.get<QCheckBox>("SoundMon")->text().isEmpty());
        QVERIFY(p.get<QLineEdit>("DisFileNanmeText")->isReadOnly());
        QVERIFY(p.get<QLineEdit>("Play_Text")->isReadOnly());
        QVERIFY(p.get<QLineEdit>("Rec_Text")->isReadOnly());
        QCOMPARE(p.get<QLineEdit>("DisFileNanmeText")->text(), QStringLiteral(".mp3"));
        QCOMPARE(p.get<QLineEdit>("RecTimeText")->text(), QStringLiteral("REC Time"));
        QVERIFY(p.get<QLineEdit>("MusicFileLenText")->text().isEmpty());

        for (const char* bold : {"Command16", "open_file"}) {
            const QFont f = p.get<QPushButton>(bold)->font();
            QVERIFY(f.bold());
            QCOMPARE(f.pointSizeF(), 10.5);
        }
    }

    void captions_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("caption");
        const QList<std::pair<const char*, const char*>> rows{{"Label12", "当前载入的文件"},
                                                              {"AudioOutputLabel", "声音输出"},
                                                              {"Label2", "串口号："},
                                                              {"Command16", "打开串口"},
                                                              {"open_file", "打开文件"},
                                                              {"Label15", "文件长度："},
                                                              {"VoilceVal", "音量"},
                                                              {"rd_play_addr", "读播放地址"},
                                                              {"rd_rec_addr", "读录音地址"},
                                                              {"Label6", "S"},
                                                              {"Label7", "E"},
                                                              {"Label8", "S"},
                                                              {"Label9", "E"},
                                                              {"Label10", "S"},
                                                              {"Label11", "E"},
                                                              {"set_play_addr", "设置播放地址"},
                                                              {"set_rec_addr", "设置录音地址"},
                                                              {"SetEraseAddrComm", "设置擦除地址"},
                                                              {"CurrentRowComm", "当前地址"},
                                                              {"play", "播    放"},
                                                              {"stop", "停    止"},
                                                              {"rec", "录    音"},
                                                              {"fwd", "下 一 段"},
                                                              {"erase", "擦除当前"},
                                                              {"erase_all", "擦除全部"},
                                                              {"Label3", "音源"},
                                                              {"Label4", "监听"},
                                                              {"Label5", "SPK"},
                                                              {"si_ok", "设置"},
                                                              {"devid_rst", "1器件复位"},
                                                              {"devid_pu", "2器件上电"},
                                                              {"devid_id", "3器件ID"},
                                                              {"Frame4", "ISD操作1"},
                                                              {"Frame6", "ISD操作2"},
                                                              {"Frame1", ""},
                                                              {"Frame3", ""},
                                                              {"Frame7", ""},
                                                              {"Frame2", ""}};
        for (const auto& [control, caption] : rows)
            QTest::newRow(control) << QString::fromUtf8(control) << QString::fromUtf8(caption);
    }
    void captions() {
        QFETCH(QString, control);
        QFETCH(QString, caption);
        Panel p;
        QObject* o = p.form->findChild<QObject*>(control);
        QVERIFY2(o, qPrintable(control));
        if (auto* b = qobject_cast<QPushButton*>(o)) {
            QCOMPARE(b->text(), caption);
            QCOMPARE(b->accessibleName(), QString()); // buttons are known by their caption
        } else if (auto* l = qobject_cast<QLabel*>(o)) {
            QCOMPARE(l->text(), caption);
        } else {
            QCOMPARE(qobject_cast<QGroupBox*>(o)->title(), caption);
        }
    }

    void frames_group_their_controls_data() {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QStringList>("controls");
        QTest::newRow("Frame1") << "Frame1"
                                << QStringList{"Label12", "DisFileNanmeText", "AudioOutputLabel",
                                               "AudioOutputBox"};
        QTest::newRow("Frame3") << "Frame3"
                                << QStringList{"Label2",           "Combo1",         "Seril_StDig",
                                               "Command16",        "open_file",      "Label15",
                                               "MusicFileLenText", "PlayPoint",      "VoilceVal",
                                               "VolicDisPlay(0)",  "VolicDisPlay(4)"};
        QTest::newRow("Frame4") << "Frame4"
                                << QStringList{"Play_Text",     "rd_play_addr",     "Right(0)",
                                               "Rec_Text",      "rd_rec_addr",      "Right(1)",
                                               "St_Play_Text",  "St_Play_Text1",    "set_play_addr",
                                               "Right(2)",      "St_Rec_Text",      "St_Rec_Text1",
                                               "set_rec_addr",  "Right(3)",         "SetEraseText",
                                               "SetEraseText1", "SetEraseAddrComm", "Right(4)"};
        QTest::newRow("Frame6") << "Frame6"
                                << QStringList{
                                       "CurrentRow", "CurrentRowComm", "Lift(6)",   "play",
                                       "Lift(0)",    "stop",           "Lift(1)",   "RecTimeText",
                                       "rec",        "Lift(2)",        "fwd",       "Lift(3)",
                                       "erase",      "Lift(4)",        "erase_all", "Lift(5)"};
        QTest::newRow("Frame7") << "Frame7"
                                << QStringList{"Label3",    "sound_in",  "Label4",   "SoundMon",
                                               "Label5",    "SPKon",     "si_ok",    "Bottmp(0)",
                                               "devid_rst", "Bottmp(4)", "devid_pu", "Bottmp(3)",
                                               "devid_id",  "Bottmp(1)"};
        QTest::newRow("Frame2") << "Frame2" << QStringList{"Label16"};
    }
    void frames_group_their_controls() {
        QFETCH(QString, frame);
        QFETCH(QStringList, controls);
        Panel p;
        auto* f = p.get<QGroupBox>(frame);
        for (const QString& name : controls)
            QVERIFY2(f->findChild<QWidget*>(name), qPrintable(frame + " lacks " + name));
    }

    void arrays_and_accessible_names() {
        Panel p;
        QStringList names;
        for (int i = 0; i < 7; ++i)
            names << QStringLiteral("Lift(%1)").arg(i);
        for (int i = 0; i < 5; ++i)
            names << QStringLiteral("Right(%1)").arg(i)
                  << QStringLiteral("VolicDisPlay(%1)").arg(i);
        names << "Bottmp(0)"
              << "Bottmp(1)"
              << "Bottmp(3)"
              << "Bottmp(4)"
              << "Seril_StDig"
              << "Combo1"
              << "sound_in"
              << "SoundMon"
              << "SPKon"
              << "PlayPoint"
              << "Play_Text"
              << "Rec_Text"
              << "CurrentRow"
              << "RecTimeText"
              << "MusicFileLenText"
              << "DisFileNanmeText"
              << "St_Play_Text"
              << "SetEraseText1"
              << "AudioOutputBox";
        for (const QString& name : names) {
            QWidget* w = p.form->findChild<QWidget*>(name);
            QVERIFY2(w, qPrintable(name));
            QCOMPARE(w->accessibleName(), name);
        }
        QVERIFY(!p.form->findChild<QWidget*>("Bottmp(2)"));
        for (int i = 0; i < 5; ++i)
            QVERIFY(p.form->findChild<LevelBar*>(QStringLiteral("VolicDisPlay(%1)").arg(i)));
        QCOMPARE(p.port.objectName(), QStringLiteral("MSComm1"));
        QCOMPARE(p.player.objectName(), QStringLiteral("MMControl1"));
        QCOMPARE(p.form->transmitter().Timer1().objectName(), QStringLiteral("Timer1"));
    }

    void startUpState() {
        Panel p;
        QVERIFY(p.get<QLineEdit>("Play_Text")->text().isEmpty());
        QVERIFY(p.get<QLineEdit>("Rec_Text")->text().isEmpty());
        QVERIFY(p.get<QLineEdit>("CurrentRow")->text().isEmpty());
        QCOMPARE(p.get<QLineEdit>("St_Play_Text")->text(), QStringLiteral("00 10"));
        QCOMPARE(p.get<QLineEdit>("St_Play_Text1")->text(), QStringLiteral("00 20"));
        QCOMPARE(p.get<QLineEdit>("St_Rec_Text")->text(), QStringLiteral("00 10"));
        QCOMPARE(p.get<QLineEdit>("St_Rec_Text1")->text(), QStringLiteral("00 20"));
        QCOMPARE(p.get<QLineEdit>("SetEraseText")->text(), QStringLiteral("00 10"));
        QCOMPARE(p.get<QLineEdit>("SetEraseText1")->text(), QStringLiteral("00 20"));
        QCOMPARE(p.get<QLineEdit>("RecTimeText")->text(), QStringLiteral("REC Time"));
        const auto lamps = p.form->findChildren<Lamp*>();
        QCOMPARE(lamps.size(), 17); // 16 lamps and the port lamp
        for (Lamp* l : lamps) {
            if (l->objectName() == "Seril_StDig")
                QCOMPARE(l->fill(), QColor(0xFF, 0xFF, 0xFF));
            else
                QVERIFY2(l->isHidden(), qPrintable(l->objectName()));
        }
        QCOMPARE(p.get<QPushButton>("Command16")->text(), QStringLiteral("打开串口"));
        QCOMPARE(p.form->chip().VolLevel, 4);
        const QColor window = p.form->palette().color(QPalette::Window);
        for (int i = 0; i < 5; ++i)
            QVERIFY(p.get<LevelBar>(QStringLiteral("VolicDisPlay(%1)").arg(i))->fill() != window);
        // Start-up touches neither the port nor the player, and sends nothing.
        QVERIFY(!p.port.isOpen());
        QVERIFY(p.player.commands.empty());
        QVERIFY(p.port.written.isEmpty());
        QVERIFY(!p.form->transmitter().isSending());
        // VoiclePtrTimer has no interval and never ticks.
        QCOMPARE(p.form->VoiclePtrTimer().interval(), 0);
        QVERIFY(!p.form->VoiclePtrTimer().isActive());
    }

    void volumeButtonAfterStartUp() {
        Panel p;
        p.button("音量")->click();
        QCOMPARE(p.form->chip().VolLevel, 0);
        const QColor window = p.form->palette().color(QPalette::Window);
        QCOMPARE(p.get<LevelBar>("VolicDisPlay(0)")->fill(), QColor(0x00, 0xFF, 0x00));
        for (int i = 1; i < 5; ++i)
            QCOMPARE(p.get<LevelBar>(QStringLiteral("VolicDisPlay(%1)").arg(i))->fill(), window);
        QVERIFY(p.port.written.isEmpty());
    }

    // Every button with a handler reaches it: with the port open, each click puts its
    // command's frame on the wire.
    void routing_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("play") << "播    放" << QByteArray("\x40", 1);
        QTest::newRow("stop") << "停    止" << QByteArray("\x02", 1);
        QTest::newRow("rec") << "录    音" << QByteArray("\x41", 1);
        QTest::newRow("fwd") << "下 一 段" << QByteArray("\x48", 1);
        QTest::newRow("erase") << "擦除当前" << QByteArray("\x42", 1);
        QTest::newRow("erase_all") << "擦除全部" << QByteArray("\x43", 1);
        QTest::newRow("CurrentRowComm") << "当前地址" << QByteArray("\x60", 1);
        QTest::newRow("devid_rst") << "1器件复位" << QByteArray("\x03", 1);
        QTest::newRow("devid_pu") << "2器件上电" << QByteArray("\x01", 1);
        QTest::newRow("devid_id") << "3器件ID" << QByteArray("\x09", 1);
        QTest::newRow("rd_play_addr") << "读播放地址" << QByteArray("\x06", 1);
        QTest::newRow("rd_rec_addr") << "读录音地址" << QByteArray("\x08", 1);
        QTest::newRow("set_play_addr") << "设置播放地址" << QByteArray("\x80\x00\x10\x00\x20", 5);
        QTest::newRow("set_rec_addr") << "设置录音地址" << QByteArray("\x81\x00\x10\x00\x20", 5);
        QTest::newRow("SetEraseAddrComm")
            << "设置擦除地址" << QByteArray("\x82\x00\x10\x00\x20", 5);
        QTest::newRow("si_ok") << "设置" << QByteArray("\x65\x0D\x00", 3);
    }
    void routing() {
        QFETCH(QString, caption);
        QFETCH(QByteArray, frame);
        Panel p;
        p.button("打开串口")->click();
        QVERIFY(p.port.isOpen());
        p.button(caption)->click();
        QCOMPARE(p.drain(), frame);
        QVERIFY(p.boxes.boxes.isEmpty());
    }

    void portToggleFollowsThePort() {
        Panel p;
        auto* button = p.get<QPushButton>("Command16");
        auto* lamp = p.get<Lamp>("Seril_StDig");
        auto* setLamp = p.get<Lamp>("Bottmp(0)");
        p.get<QComboBox>("Combo1")->setCurrentText("20");
        setLamp->show();
        button->click();
        QVERIFY(p.port.isOpen());
        QCOMPARE(p.port.portNumber(), 20);
        QCOMPARE(button->text(), QStringLiteral("关闭串口"));
        QCOMPARE(lamp->fill(), QColor(0x00, 0xFF, 0x00));
        QVERIFY(setLamp->isHidden());
        QVERIFY(p.port.written.isEmpty()); // opening sends nothing
        setLamp->show();
        button->click();
        QVERIFY(!p.port.isOpen());
        QCOMPARE(button->text(), QStringLiteral("打开串口"));
        QCOMPARE(lamp->fill(), QColor(0xFF, 0xFF, 0xFF));
        QVERIFY(setLamp->isHidden());
    }

    // The tool tips are filled when they are looked at, with the device a number stands for.
    void portToolTipsNameTheDevice() {
        QTemporaryDir runtime;
        QVERIFY(QDir().mkpath(runtime.filePath("tamberlo")));
        QVERIFY(QFile::link("/dev/null", runtime.filePath("tamberlo/port3")));
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        Panel p;
        auto* combo = p.get<QComboBox>("Combo1");
        QVERIFY(combo->itemData(2, Qt::ToolTipRole).toString().isEmpty());
        QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), combo->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(combo, &hover);
        qputenv("XDG_RUNTIME_DIR", saved);
        QVERIFY2(combo->itemData(2, Qt::ToolTipRole).toString().contains("/dev/null"),
                 qPrintable(combo->itemData(2, Qt::ToolTipRole).toString()));
        QVERIFY(!combo->itemData(15, Qt::ToolTipRole).toString().isEmpty());
        QVERIFY(!combo->toolTip().isEmpty());
    }

    void portOpenFailureStaysClosed() {
        Panel p;
        p.port.failOpenWith = QStringLiteral("No such file or directory");
        p.get<QPushButton>("Command16")->click();
        QVERIFY(!p.port.isOpen());
        QCOMPARE(p.get<QPushButton>("Command16")->text(), QStringLiteral("打开串口"));
        QCOMPARE(p.get<Lamp>("Seril_StDig")->fill(), QColor(0xFF, 0xFF, 0xFF));
        QCOMPARE(p.boxes.boxes.size(), 1);
        QVERIFY(p.boxes.boxes[0].text.startsWith(QStringLiteral("串口打开失败")));
        QCOMPARE(p.boxes.boxes[0].title, QStringLiteral("串口状态"));
    }

    void openFileAndSliderAreRouted() {
        Panel p;
        p.dialog.answers.push_back(QStringLiteral("/tmp/ten-seconds.wav"));
        p.player.fileLength = 10000;
        p.button("打开文件")->click();
        QCOMPARE(p.dialog.shown, 1);
        QCOMPARE(p.form->audio().MusicLenMs(), 10000);
        p.get<QSlider>("PlayPoint")->setValue(15000); // as the operator drags it
        QCOMPARE(p.form->audio().MusicPosMs(), 5000);
        QCOMPARE(p.player.startPoint, 5000);
    }

    void playerStatusEventIsRouted() {
        Panel p;
        p.player.fileLength = 10000;
        p.dialog.answers.push_back(QStringLiteral("/tmp/ten-seconds.wav"));
        p.button("打开文件")->click();
        p.button("录    音")->click(); // port closed: refused, yet the audio starts
        QCOMPARE(p.boxes.boxes.size(), 1);
        p.player.tick();
        QCOMPARE(p.form->audio().RecElapsedMs(), 30);
        QCOMPARE(p.get<QLineEdit>("RecTimeText")->text(), QStringLiteral("0:0:3"));
    }

    void replyReachesTheChipLayer() {
        Panel p;
        p.button("打开串口")->click();
        p.button("读播放地址")->click();
        p.drain();
        p.port.inject(QByteArray("\x00\x00\x01\x2F", 4));
        // The action runs once the notification has returned.
        QVERIFY(p.get<QLineEdit>("Play_Text")->text().isEmpty());
        tamberlo::test::runQueued();
        QCOMPARE(p.get<QLineEdit>("Play_Text")->text(), QStringLiteral("01 2F "));
        QCOMPARE(p.form->receiver().RecvCnt(), 0);
    }

    void shutdownClosesThePlayerAndSendsNothing() {
        Panel p;
        p.button("打开串口")->click();
        p.button("录    音")->click();
        p.drain();
        const QByteArray before = p.port.written;
        p.form->close();
        QCOMPARE(p.player.lastCommand(), PlayerCommand::Close);
        p.form.reset();
        QCOMPARE(p.port.written, before);
        QCOMPARE(
            std::count(p.player.commands.begin(), p.player.commands.end(), PlayerCommand::Close),
            1);
    }

    // The output box: the default output chosen at start, the outputs listed when it is
    // opened, the operator's choice handed to the player and named by the no-output box.
    void outputBoxHandsTheChoiceToThePlayer_data() {
        QTest::addColumn<int>("pick"); // index chosen in the opened list
        QTest::addColumn<QByteArray>("device");
        QTest::addColumn<QString>("named"); // in the no-output box
        QTest::newRow("default") << 0 << QByteArray() << "默认声音输出";
        QTest::newRow("USB card") << 2 << QByteArray("usb-card") << "USB Audio CODEC";
    }
    void outputBoxHandsTheChoiceToThePlayer() {
        QFETCH(int, pick);
        QFETCH(QByteArray, device);
        QFETCH(QString, named);
        Panel p;
        auto* box = p.get<AudioOutputBox>("AudioOutputBox");
        QCOMPARE(box->accessibleName(), QStringLiteral("AudioOutputBox"));
        QCOMPARE(p.get<QLabel>("AudioOutputLabel")->buddy(), box);
        // At start-up only the default output, unasked.
        QCOMPARE(box->count(), 1);
        QCOMPARE(box->currentText(), QStringLiteral("默认输出"));
        QCOMPARE(box->chosenId(), QByteArray());
        QList<AudioOutput> outputs{{"builtin", QStringLiteral("Built-in Audio"), true},
                                   {"usb-card", QStringLiteral("USB Audio CODEC"), false}};
        box->setLister([&] { return outputs; });
        box->showPopup();
        QCOMPARE(box->count(), 3);
        QCOMPARE(box->itemText(0), QStringLiteral("默认输出（Built-in Audio）"));
        QCOMPARE(box->itemText(2), QStringLiteral("USB Audio CODEC"));
        QCOMPARE(box->currentIndex(), 0);
        box->hidePopup();
        box->setCurrentIndex(pick);
        emit box->activated(pick); // as the operator's choice in the list
        QCOMPARE(p.player.outputDevice, device);

        // A card pulled out is kept, marked, when the list is read again.
        outputs.removeLast();
        box->refresh();
        QCOMPARE(box->chosenId(), device);
        if (!device.isEmpty())
            QCOMPARE(box->currentText(), QStringLiteral("usb-card（未连接）"));

        p.player.fileLength = 10000;
        p.dialog.answers.push_back(QStringLiteral("/tmp/ten-seconds.wav"));
        p.button("打开文件")->click();
        p.player.outputError = QStringLiteral("声音输出 usb-card 不存在");
        p.button("打开串口")->click();
        p.button("录    音")->click();
        QCOMPARE(p.boxes.boxes.size(), 1);
        QVERIFY2(p.boxes.boxes[0].text.contains(named), qPrintable(p.boxes.boxes[0].text));
    }

    // With a file loaded, a recording button on an output that cannot play says so and sends
    // nothing; without a file, or with a working output, it records as ever.
    void recordingNeedsAnOutputForTheFile_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("file");
        QTest::addColumn<bool>("outputWorks");
        QTest::addColumn<QByteArray>("frame");
        const QByteArray rec("\x41", 1);
        const QByteArray range("\x81\x00\x10\x00\x20", 5);
        QTest::newRow("rec, no output") << "录    音" << true << false << QByteArray();
        QTest::newRow("range, no output") << "设置录音地址" << true << false << QByteArray();
        QTest::newRow("rec, output") << "录    音" << true << true << rec;
        QTest::newRow("range, output") << "设置录音地址" << true << true << range;
        QTest::newRow("rec, no file") << "录    音" << false << false << rec;
        QTest::newRow("range, no file") << "设置录音地址" << false << false << range;
    }
    void recordingNeedsAnOutputForTheFile() {
        QFETCH(QString, caption);
        QFETCH(bool, file);
        QFETCH(bool, outputWorks);
        QFETCH(QByteArray, frame);
        Panel p;
        if (file) {
            p.player.fileLength = 10000;
            p.dialog.answers.push_back(QStringLiteral("/tmp/ten-seconds.wav"));
            p.button("打开文件")->click();
        }
        if (!outputWorks)
            p.player.outputError = QStringLiteral("没有可用的声音输出（没有声卡或声音服务器）");
        p.button("打开串口")->click();
        p.player.commands.clear();
        p.button(caption)->click();
        QCOMPARE(p.drain(), frame);
        AudioSource& audio = p.form->audio();
        if (frame.isEmpty()) {
            QCOMPARE(p.boxes.boxes.size(), 1);
            const auto& box = p.boxes.boxes[0];
            QCOMPARE(box.text,
                     QStringLiteral("没有声音输出：默认声音输出 不能播放，芯片录不到音频文件。\n"
                                    "没有可用的声音输出（没有声卡或声音服务器）\n"
                                    "没有发送任何命令。"));
            QCOMPARE(box.title, QStringLiteral("声音输出"));
            QCOMPARE(box.icon, MessageIcon::Critical);
            QVERIFY(p.player.commands.empty());
            QVERIFY(!audio.RecOn());
            QVERIFY(!audio.MusicOn());
            QVERIFY(!p.get<Lamp>("Right(3)")->isVisible());
        } else {
            QVERIFY(p.boxes.boxes.isEmpty());
            QCOMPARE(p.player.lastCommand(), PlayerCommand::Play);
            QVERIFY(audio.MusicOn());
        }
    }

    // Through the window's own transmitter: STOP is on the wire as the sound out of the output
    // reaches 50 ms before the file's end.
    void automaticStopReachesTheWire_data() {
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("wireAt"); // ms after "Play"
        QTest::newRow("no delay") << 0 << 9950;
        QTest::newRow("140 ms") << 140 << 10090;
        QTest::newRow("600 ms") << 600 << 10550;
    }
    void automaticStopReachesTheWire() {
        QFETCH(int, delay);
        QFETCH(int, wireAt);
        Panel p;
        std::int64_t clock = 0;
        AudioSource& audio = p.form->audio();
        audio.setClock([&] { return clock; });
        p.player.fileLength = 10000;
        p.dialog.answers.push_back(QStringLiteral("/tmp/ten-seconds.wav"));
        p.button("打开文件")->click();
        p.button("打开串口")->click();
        p.button("录    音")->click();
        QCOMPARE(p.drain(), QByteArray("\x41", 1));
        QCOMPARE(p.form->chip().stopHandOverLeadMs(), Transmitter::PaceMs);
        // Ticks every 30 ms, 7 ms out of step with "Play"; the transmitter's own ticks
        // 50 ms after the hand-over.
        std::int64_t handedAt = -1;
        for (int tick = 1; tick < 400 && handedAt < 0; ++tick) {
            const std::int64_t next = 7 + 30 * tick;
            if (audio.autoStopTimer().isActive()) {
                const std::int64_t due = clock + audio.autoStopTimer().interval();
                if (due <= next) {
                    clock = due;
                    p.player.played = clock - delay;
                    audio.autoStopDue();
                    if (p.form->transmitter().isSending())
                        handedAt = clock;
                    continue;
                }
            }
            clock = next;
            p.player.played = clock < delay ? -1 : clock - delay;
            p.player.tick();
            if (p.form->transmitter().isSending())
                handedAt = clock;
        }
        QVERIFY(handedAt > 0);
        QCOMPARE(handedAt + Transmitter::PaceMs, wireAt);
        p.form->transmitter().tick(); // its first tick, 50 ms later: the byte goes out
        QCOMPARE(p.port.written.right(1), QByteArray("\x02", 1));
        QVERIFY(!audio.RecOn());
        QCOMPARE(p.form->receiver().RecvExpect(), 1);
    }

    // The automatic stop's lead is when the transmitter really writes STOP after the
    // hand-over: one pacing interval, behind the rest of a frame already partly out.
    void stopLeadMatchesTheTransmitter_data() {
        QTest::addColumn<int>("bytesOut"); // of a 5-byte range frame; -1: none sent
        QTest::addColumn<int>("lead");
        QTest::newRow("idle") << -1 << 50;
        QTest::newRow("range frame handed, not started") << 0 << 50;
        QTest::newRow("range frame, 1 byte out") << 1 << 250;
        QTest::newRow("range frame, 4 bytes out") << 4 << 100;
        QTest::newRow("range frame all out") << 5 << 50;
    }
    void stopLeadMatchesTheTransmitter() {
        QFETCH(int, bytesOut);
        QFETCH(int, lead);
        Panel p;
        p.button("打开串口")->click();
        if (bytesOut >= 0) {
            p.button("设置播放地址")->click();
            for (int i = 0; i < bytesOut; ++i)
                p.form->transmitter().tick();
        }
        QCOMPARE(p.form->chip().stopHandOverLeadMs(), lead);
        p.form->chip().sendStop();
        int ticks = 0;
        while (ticks < 10 && !p.port.written.endsWith('\x02')) {
            p.form->transmitter().tick();
            ++ticks;
        }
        QCOMPARE(ticks * Transmitter::PaceMs, lead);
    }

    void clicksOnPassiveControlsChangeNothing() {
        Panel p;
        p.button("打开串口")->click();
        const QByteArray before = p.port.written;
        for (const char* name : {"Label12", "Picture1", "Frame4", "Play_Text", "SoundMon",
                                 "Lift(0)", "Seril_StDig", "Combo1"}) {
            QWidget* w = p.form->findChild<QWidget*>(name);
            QTest::mouseClick(w, Qt::LeftButton);
        }
        QCOMPARE(p.drain(), QByteArray());
        QVERIFY(p.boxes.boxes.isEmpty());
        QVERIFY(p.player.commands.empty());
        QCOMPARE(p.port.written, before);
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"

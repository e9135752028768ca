#include "ChipRig.h"

#include <QTest>

namespace tamberlo::test {

ChipRig::ChipRig(const std::function<void(ChipRig&)>& prepare) {
    const auto edit = [this](const char* name, const QString& text) {
        auto* e = new QLineEdit(text, &window);
        e->setObjectName(QLatin1String(name));
        return e;
    };
    w.Play_Text = edit("Play_Text", {});
    w.Rec_Text = edit("Rec_Text", {});
    w.CurrentRow = edit("CurrentRow", {});
    w.St_Play_Text = edit("St_Play_Text", "00 10");
    w.St_Play_Text1 = edit("St_Play_Text1", "00 20");
    w.St_Rec_Text = edit("St_Rec_Text", "00 10");
    w.St_Rec_Text1 = edit("St_Rec_Text1", "00 20");
    w.SetEraseText = edit("SetEraseText", "00 10");
    w.SetEraseText1 = edit("SetEraseText1", "00 20");
    w.sound_in = new QComboBox(&window);
    w.sound_in->setObjectName("sound_in");
    w.sound_in->setEditable(true);
    w.sound_in->addItems({"Lin", "Mic", "LM"});
    w.sound_in->setCurrentText("Lin");
    w.SoundMon = new QCheckBox(&window);
    w.SoundMon->setObjectName("SoundMon");
    w.SPKon = new QCheckBox(&window);
    w.SPKon->setObjectName("SPKon");
    for (const LampColour& entry : LampColours) {
        auto* l = new Lamp(&window);
        l->setObjectName(lampName(entry.lamp));
        l->setVisible(false);
    }
    w.lamps = Lamps::find(window);

    AudioSource::Widgets audioWidgets;
    audioWidgets.DisFileNanmeText = edit("DisFileNanmeText", ".mp3");
    audioWidgets.MusicFileLenText = edit("MusicFileLenText", {});
    audioWidgets.RecTimeText = edit("RecTimeText", "REC Time");
    audioWidgets.PlayPoint = new QSlider(Qt::Horizontal, &window);
    audioWidgets.PlayPoint->setRange(0, 30000);

    if (prepare)
        prepare(*this);

    audio = std::make_unique<AudioSource>(player, dialog, boxes, audioWidgets);
    chip = std::make_unique<ChipCommands>(tx, rx, *audio, boxes, w,
                                          [this](std::uint8_t level) { dips.push_back(level); });
    audio->setStopCommand([this] { chip->sendStop(); });
}

QByteArray ChipRig::drain() {
    for (int i = 0; i < 16 && tx.isSending(); ++i)
        tx.tick();
    return port.written;
}

void ChipRig::click(const QString& control) {
    const bool invoked =
        QMetaObject::invokeMethod(chip.get(), control.toLatin1().constData(), Qt::DirectConnection);
    QVERIFY2(invoked, qPrintable("no handler for " + control));
}

void ChipRig::showAllLamps() {
    for (const LampColour& entry : LampColours)
        w.lamps.at(entry.lamp)->setVisible(true);
}

QStringList ChipRig::litLamps() const {
    QStringList lit;
    for (const LampColour& entry : LampColours) {
        if (!w.lamps.at(entry.lamp)->isHidden())
            lit << lampName(entry.lamp);
    }
    return lit;
}

} // namespace tamberlo::test

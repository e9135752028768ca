// What the panel does with a complete reply, chosen by the opcode of the command in
// flight. The receiver rewinds its counters after the action returns.
#include "chip/DeviceType.h"
#include "codec/HexText.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "panel/AudioSource.h"
#include "panel/ChipCommands.h"
#include "widgets/MessageBoxes.h"

#include <QLineEdit>

namespace tamberlo {

namespace {
// The lamps beside stop and rec, lit by their replies rather than by the clicks.
constexpr LampRef StopLamp{LampGroup::Lift, 1};
constexpr LampRef RecordLamp{LampGroup::Lift, 2};

void showText(QLineEdit* box, const QString& text) {
    if (box)
        box->setText(text);
}
} // namespace

void ChipCommands::replyComplete() {
    const auto& reply = rx_.RecvBuf;
    switch (tx_.CurCmd()) {
    case Opcode::STOP:
        stopReply();
        break;
    case Opcode::RD_PLAY_PTR:
        showText(w_.Play_Text, MyRinByteToStr(reply, 2, 2));
        break;
    case Opcode::RD_REC_PTR:
        showText(w_.Rec_Text, MyRinByteToStr(reply, 2, 2));
        break;
    case Opcode::DEVID:
        boxes_.show(DeviceType(reply[2]), tr("器件类型"), MessageIcon::Information);
        break;
    case Opcode::REC:
        recReply();
        break;
    case Opcode::CurrentAddress:
        // Byte 2 is not shown.
        showText(w_.CurrentRow, MyRinByteToStr(reply, 0, 2));
        break;
    case Opcode::SET_PLAY:
    case Opcode::SET_ERASE:
        boxes_.show(MyRinByteToStr(reply, 0, 5), QString(), MessageIcon::Information);
        break;
    case Opcode::SET_REC:
        setRecReply();
        break;
    default:
        // PU, RESET, PLAY, ERASE, G_ERASE, FWD, WR_APC2, nothing sent yet: no action.
        break;
    }
}

void ChipCommands::stopReply() {
    if (audio_.player().lastCommand() == PlayerCommand::Play) {
        audio_.holdRecordingSource();
        audio_.setRecOn(false);
        w_.lamps.CriDigClr();
        w_.lamps.show(StopLamp);
    }
    audio_.setMusicOn(false);
    audio_.setRecOn(false);
}

void ChipCommands::recReply() {
    w_.lamps.CriDigClr();
    w_.lamps.show(RecordLamp);
    // Right after the record button the player already plays; this restarts it when it was
    // given another command in between.
    AudioPlayer& player = audio_.player();
    if (player.lastCommand() != PlayerCommand::Play) {
        player.setUpdateInterval(AudioSource::TickMs);
        audio_.replay();
    }
    audio_.setRecOn(true);
    audio_.setMusicOn(true);
}

void ChipCommands::setRecReply() {
    if (audio_.RecOn()) {
        boxes_.show(tr("请先停止上一次录音"), QString(), MessageIcon::None);
        return;
    }
    AudioPlayer& player = audio_.player();
    if (player.lastCommand() == PlayerCommand::Pause) {
        audio_.replay();
        player.setUpdateInterval(AudioSource::TickMs);
    }
    w_.lamps.CriDigClr();
    w_.lamps.show(*commandLamp(Command::set_rec_addr));
}

} // namespace tamberlo

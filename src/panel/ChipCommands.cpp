#include "panel/ChipCommands.h"

#include "chip/AnalogPath.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "panel/AudioSource.h"
#include "panel/TypingLimit.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>

namespace tamberlo {

ChipCommands::ChipCommands(Transmitter& transmitter, Receiver& receiver, AudioSource& audio,
                           MessageBoxes& boxes, Widgets widgets,
                           std::function<void(std::uint8_t)> SoundDip, QObject* parent)
    : QObject(parent), tx_(transmitter), rx_(receiver), audio_(audio), boxes_(boxes), w_(widgets),
      soundDip_(std::move(SoundDip)) {
    rx_.setReplyAction([this] { replyComplete(); });
    // A frame refused on a closed port is the operator's to hear about.
    connect(&tx_, &Transmitter::portClosed, this,
            [this] { boxes_.show(tr("串口没打开"), tr("串口状态"), MessageIcon::Critical); });
    // The file's sound of a recording starts once the command that makes the chip listen is out.
    audio_.followTransmitter(tx_);
    for (QLineEdit* box :
         {w_.St_Play_Text, w_.St_Play_Text1, w_.St_Rec_Text, w_.St_Rec_Text1, w_.CurrentRow})
        TypingLimit::install(box, AddressChars);
}

ChipCommands::~ChipCommands() {
    rx_.setReplyAction({});
}

void ChipCommands::prepare(const CommandRow& command) {
    // A reply completed for the command in flight gets its action before this one changes
    // lamps, flags or the receiver.
    rx_.runDueAction();
    if (const std::optional<LampRef> lamp = commandLamp(command.command)) {
        w_.lamps.CriDigClr();
        w_.lamps.show(*lamp);
    }
    if (command.clearsCount)
        rx_.setRecvCnt(0);
    if (command.replyBytes)
        rx_.setRecvExpect(*command.replyBytes);
    tx_.SendBuf.assign(command.frameLength, 0);
}

void ChipCommands::sendSingleByte(Command command) {
    const CommandRow& r = row(command);
    prepare(r);
    tx_.SendBuf[0] = r.opcode;
    tx_.Isd_Comm2_Send(r.frameLength);
}

void ChipCommands::play() {
    sendSingleByte(Command::play);
}
void ChipCommands::fwd() {
    sendSingleByte(Command::fwd);
}
void ChipCommands::erase() {
    sendSingleByte(Command::erase);
}
void ChipCommands::erase_all() {
    sendSingleByte(Command::erase_all);
}
void ChipCommands::CurrentRowComm() {
    sendSingleByte(Command::CurrentRowComm);
}
void ChipCommands::devid_rst() {
    sendSingleByte(Command::devid_rst);
}
void ChipCommands::devid_pu() {
    sendSingleByte(Command::devid_pu);
}
void ChipCommands::devid_id() {
    sendSingleByte(Command::devid_id);
}
void ChipCommands::rd_play_addr() {
    sendSingleByte(Command::rd_play_addr);
}
void ChipCommands::rd_rec_addr() {
    sendSingleByte(Command::rd_rec_addr);
}

void ChipCommands::stop() {
    sendStop();
}

void ChipCommands::sendStop() {
    // No lamp here: the stop lamp and the pausing of the audio come with the reply.
    rx_.runDueAction();
    audio_.setRecOn(false);
    sendSingleByte(Command::stop);
}

int ChipCommands::stopHandOverLeadMs() const {
    // The transmitter writes a new frame's first byte one pacing interval after the call,
    // behind whatever is left of a frame already partly out (it goes out whole). Which bytes
    // still lead is its own business; the rest of the frame in flight is the most it can be.
    const int ahead = tx_.isSending() && tx_.SendIdx() > 0 ? tx_.SendCnt() - tx_.SendIdx() : 0;
    return Transmitter::PaceMs * (1 + std::max(0, ahead));
}

void ChipCommands::rec() {
    // A file to record and no output to play it on: nothing is sent, nothing starts.
    if (!audio_.outputReadyForRecording())
        return;
    rx_.runDueAction();
    audio_.setRecElapsedMs(0);
    audio_.setRecOn(true);
    sendSingleByte(Command::rec);
    // The sound starts when REC is out, so that the chip hears the file from its first
    // sample however little the output delays it. Even when the port is closed and nothing
    // goes out, the audio starts, at once: the operator hears that the chip did not take the
    // command.
    audio_.startRecordingSource();
}

void ChipCommands::si_ok() {
    const CommandRow& r = row(Command::si_ok);
    prepare(r);
    AnalogPathSettings settings;
    settings.VolLevel = VolLevel;
    settings.speakerOn = w_.SPKon && w_.SPKon->checkState() == Qt::Checked;
    settings.monitorOn = w_.SoundMon && w_.SoundMon->checkState() == Qt::Checked;
    settings.source = w_.sound_in ? w_.sound_in->currentText() : QString();
    const auto frame = apcFrame(settings);
    tx_.SendBuf.assign(frame.begin(), frame.end());
    tx_.Isd_Comm2_Send(r.frameLength);
}

void ChipCommands::VoilceVal() {
    setVolLevel(nextVolLevel(VolLevel));
}

void ChipCommands::setVolLevel(std::uint8_t level) {
    VolLevel = level;
    if (soundDip_)
        soundDip_(VolLevel);
}

} // namespace tamberlo

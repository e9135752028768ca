// The three address range buttons: play, record and erase the chip's memory between a
// start and an end address typed as hex text.
#include "codec/HexText.h"
#include "link/Transmitter.h"
#include "panel/AudioSource.h"
#include "panel/ChipCommands.h"
#include "widgets/MessageBoxes.h"

#include <QLineEdit>

namespace tamberlo {

namespace {
QString textOf(const QLineEdit* box) {
    return box ? box->text() : QString();
}
} // namespace

void ChipCommands::sendRange(Command command, QLineEdit* startBox, QLineEdit* endBox) {
    const CommandRow& r = row(command);
    // Lamp, RecvExpect and the zeroed frame stand even when the texts are refused.
    prepare(r);

    const QString start = textOf(startBox);
    const QString end = textOf(endBox);
    if (start.size() < AddressChars || end.size() < AddressChars) {
        boxes_.show(tr("数据格式非法"), tr("错误"), MessageIcon::Critical);
        return;
    }
    // Longer texts can only come from the erase boxes, which have no typing limit: they
    // are refused without a word.
    if (start.size() > AddressChars || end.size() > AddressChars)
        return;

    // Only the length is checked; StrToHex skips whatever is not hex.
    tx_.SendBuf[0] = r.opcode;
    StrToHex(start, HexBytes);
    tx_.SendBuf[1] = HexBytes[0];
    tx_.SendBuf[2] = HexBytes[1];
    StrToHex(end, HexBytes);
    tx_.SendBuf[3] = HexBytes[0];
    tx_.SendBuf[4] = HexBytes[1];
    tx_.Isd_Comm2_Send(r.frameLength);
}

void ChipCommands::set_play_addr() {
    sendRange(Command::set_play_addr, w_.St_Play_Text, w_.St_Play_Text1);
}

void ChipCommands::set_rec_addr() {
    // The range is recorded from the file's sound too: without an output, nothing is sent.
    if (!audio_.outputReadyForRecording())
        return;
    sendRange(Command::set_rec_addr, w_.St_Rec_Text, w_.St_Rec_Text1);
    // Whatever became of the frame, the audio starts as the recording source: once the frame
    // is out (the chip records from its last byte), at once when nothing goes out.
    audio_.startRecordingSource();
}

void ChipCommands::SetEraseAddrComm() {
    sendRange(Command::SetEraseAddrComm, w_.SetEraseText, w_.SetEraseText1);
}

} // namespace tamberlo

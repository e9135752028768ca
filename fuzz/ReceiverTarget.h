#pragma once

// The body of the receiver fuzz target, shared with the property test in tests/reliability.
//
// An input is a script of operations on the chip layer (FuzzRig.h): clicks of any command
// button, reply bytes in groups of any size, bytes that arrive while the receiver drains, bytes
// that arrive while a reply's message box is open, any RecvExpect, any CurCmd, ticks of
// Timer1, the port closed, reopened or lost, the player in any state. After every operation:
//
//  - RecvCnt is the number of bytes counted since the last rewind, modulo 256, and RecvIdx the
//    number stored; both are 0 right after a reply completed, which happens exactly when the
//    count equals RecvExpect while no command waits for its frame's first byte; the first byte
//    of each frame and the port's opening rewind both;
//  - a completed reply did what its command's action does (text box, message box, lamps,
//    recording flags), and an incomplete one changed nothing;
//  - at most one command lamp is lit, and every message box is one the panel can show;
//  - the receiver never writes to the port; every byte written is the next byte of what the
//    transmitter was handed (the rest of a frame already going out, then the last command's
//    frame), on an open port; and read as the bridge reads it, opcode first, the bytes on the
//    wire are whole catalogue frames: only the port's closing may cut one short.
//
// checkReceiverInput() returns an empty string when everything holds, otherwise what failed.

#include "FuzzRig.h"
#include "StrToHexTarget.h"
#include "chip/DeviceType.h"

#include <QByteArray>
#include <QRegularExpression>
#include <cstdint>
#include <string>
#include <vector>

namespace tamberlo::fuzz {

class ReceiverScript {
public:
    ReceiverScript(Rig& rig, const std::uint8_t* data, std::size_t size)
        : rig_(rig), data_(data), size_(size) {}

    std::string run() {
        rig_.reset();
        rig_.boxes.onShow = [this](const test::FakeMessageBoxes::Box& box) { boxShown(box); };
        for (int op = 0; op < MaxOperations && at_ < size_; ++op) {
            step();
            if (failure_.empty())
                checkAlways();
            if (!failure_.empty())
                return failure_ + " (operation " + std::to_string(op) + ", input " +
                       hexDump(data_, size_) + ")";
        }
        rig_.drain();
        checkWire();
        if (failure_.empty() && rig_.port.isOpen() && bridgeNeeds_ > 0)
            failure_ = "the last frame on the wire is cut short: the bridge waits for " +
                       std::to_string(bridgeNeeds_) + " more bytes";
        if (failure_.empty() && frameShouldBeWhole_ && !inFlight_.empty()) {
            // The last frame ran to its end.
            const auto& wire = rig_.port.wire;
            bool whole = wire.size() >= inFlight_.size();
            for (std::size_t i = 0; whole && i < inFlight_.size(); ++i) {
                const WireByte& b = wire[wire.size() - inFlight_.size() + i];
                whole = b.index == i && b.value == inFlight_[i];
            }
            if (!whole)
                failure_ = "the last frame did not go out whole";
        }
        rig_.boxes.onShow = nullptr;
        if (!failure_.empty())
            failure_ += " (end, input " + hexDump(data_, size_) + ")";
        return failure_;
    }

private:
    static constexpr int MaxOperations = 200;

    std::uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }
    QByteArray take(std::size_t n) {
        n = std::min(n, size_ - at_);
        QByteArray bytes(reinterpret_cast<const char*>(data_ + at_), static_cast<qsizetype>(n));
        at_ += n;
        return bytes;
    }

    void fail(const std::string& what) {
        if (failure_.empty())
            failure_ = what;
    }

    void step() {
        const std::uint8_t op = next();
        switch (op % 12) {
        case 0:
        case 1:
            click(next());
            break;
        case 2:
        case 3:
        case 4:
            deliver(take(1 + next() % 12), {});
            break;
        case 5: {
            const QByteArray counted = take(1 + next() % 6);
            deliver(counted, take(next() % 4));
            break;
        }
        case 6:
            rig_.rx.setRecvExpect(next());
            break;
        case 7: {
            // Any CurCmd: a frame of no bytes with that opcode. Only the rest of a frame
            // already going out goes on the wire.
            std::vector<std::uint8_t> rest = restOfFrame();
            rig_.tx.SendBuf.assign(1, next());
            rig_.tx.Isd_Comm2_Send(0);
            idx_ = 0;
            continued_ = rest.size();
            inFlight_ = std::move(rest);
            frameShouldBeWhole_ = rig_.port.isOpen();
            awaiting_ = false; // no frame of its own will start
            break;
        }
        case 8:
            // Timer1's ticks, which come only while it runs.
            for (int n = next() % 7; n > 0 && rig_.tx.isSending(); --n) {
                const std::size_t before = rig_.port.wire.size();
                rig_.tx.tick();
                // The first byte of the frame handed over last: a clean slate.
                if (rig_.port.wire.size() > before && rig_.port.wire.back().index == continued_) {
                    cnt_ = 0;
                    idx_ = 0;
                    awaiting_ = false;
                }
                if (!rig_.tx.isSending())
                    awaiting_ = false;
            }
            if (rig_.rx.RecvCnt() != cnt_ || rig_.rx.RecvIdx() != idx_)
                fail("ticks left RecvCnt " + std::to_string(rig_.rx.RecvCnt()) + " RecvIdx " +
                     std::to_string(rig_.rx.RecvIdx()) + ", expected " + std::to_string(cnt_) +
                     " " + std::to_string(idx_));
            break;
        case 9:
            port(next());
            break;
        case 10:
            player(next());
            break;
        case 11:
            // Bytes that come in while the next reply box is open.
            duringBox_ = take(1 + next() % 8);
            break;
        }
    }

    // The unsent rest of a frame some of which is out already: it goes out before whatever
    // is sent next. inFlight_ is what the transmitter was handed: the rest of an earlier frame
    // (its first continued_ bytes), then the last command's frame.
    std::vector<std::uint8_t> restOfFrame() const {
        const Transmitter& tx = rig_.tx;
        const std::size_t at = tx.SendIdx();
        if (!tx.isSending() || at >= tx.SendCnt() || tx.SendCnt() > inFlight_.size())
            return {};
        std::size_t end = at;
        if (at < continued_)
            end = continued_;
        else if (at > continued_)
            end = tx.SendCnt();
        return {inFlight_.begin() + static_cast<std::ptrdiff_t>(at),
                inFlight_.begin() + static_cast<std::ptrdiff_t>(end)};
    }

    // A click on one of the sixteen command buttons or the volume button.
    void click(std::uint8_t which) {
        if (which % 17 == 16) {
            rig_.chip->VoilceVal();
            return;
        }
        const CommandRow& row = CommandCatalogue[which % 16];
        std::vector<std::uint8_t> frame{row.opcode};
        bool sends = true;
        if (row.frameLength == 5) {
            const auto [startBox, endBox] = rig_.rangeBoxes(row.command);
            if (which & 0x80) {
                // A new start address, a few characters long: digits, spaces, other text.
                static const QString characters = QStringLiteral("0123456789abcdefABCDEF   x中０");
                QString text;
                for (const char c : take(next() % 8))
                    text += characters[static_cast<std::uint8_t>(c) % characters.size()];
                startBox->setText(text);
            }
            const QString start = startBox->text();
            const QString end = endBox->text();
            sends = start.size() == ChipCommands::AddressChars &&
                    end.size() == ChipCommands::AddressChars;
            const ParsedAddress a = readAddressText(start);
            const ParsedAddress b = readAddressText(end);
            frame = {row.opcode, a.bytes[0], a.bytes[1], b.bytes[0], b.bytes[1]};
        } else if (row.frameLength == 3) {
            AnalogPathSettings settings;
            settings.VolLevel = rig_.chip->VolLevel;
            settings.speakerOn = rig_.w.SPKon->isChecked();
            settings.monitorOn = rig_.w.SoundMon->isChecked();
            settings.source = rig_.w.sound_in->currentText();
            const auto apc = apcFrame(settings);
            frame.assign(apc.begin(), apc.end());
        }
        std::vector<std::uint8_t> rest = restOfFrame();
        const std::size_t wireBefore = rig_.port.wire.size();
        rig_.click(row);
        if (rig_.port.wire.size() != wireBefore)
            fail("a click wrote to the port at once instead of on the ticks");
        if (row.clearsCount)
            cnt_ = 0;
        if (sends) {
            idx_ = 0;
            continued_ = rest.size();
            rest.insert(rest.end(), frame.begin(), frame.end());
            inFlight_ = std::move(rest);
            frameShouldBeWhole_ = rig_.port.isOpen();
            // Until its first byte is out, no reply completes.
            awaiting_ = rig_.port.isOpen();
        }
        if (rig_.rx.RecvCnt() != cnt_ || rig_.rx.RecvIdx() != idx_)
            fail("a click of " + std::string(row.control) + " left RecvCnt " +
                 std::to_string(rig_.rx.RecvCnt()) + " RecvIdx " +
                 std::to_string(rig_.rx.RecvIdx()) + ", expected " + std::to_string(cnt_) + " " +
                 std::to_string(idx_));
    }

    // One notification for `counted`; `arriving` comes in while the receiver drains.
    void deliver(const QByteArray& counted, const QByteArray& arriving) {
        // A closed port delivers nothing.
        if (counted.isEmpty() || !rig_.port.isOpen())
            return;
        Rig& r = rig_;
        const std::size_t wireBefore = r.port.wire.size();
        const int boxesBefore = static_cast<int>(r.boxes.boxes.size());
        const QString playBefore = r.w.Play_Text->text();
        const QString recBefore = r.w.Rec_Text->text();
        const QString rowBefore = r.w.CurrentRow->text();
        const std::size_t playerBefore = r.player.commands.size();
        const bool recOnBefore = r.audio->RecOn();
        const bool musicOnBefore = r.audio->MusicOn();
        const std::uint8_t expect = r.rx.RecvExpect();
        const std::uint8_t cmd = r.tx.CurCmd();
        reentered_ = false;

        r.port.arriveDuringDrain = arriving;
        r.port.inject(counted);
        r.port.arriveDuringDrain.clear();
        // What the event loop runs next: the reply action, when the reply is complete.
        test::runQueued();

        if (r.port.wire.size() != wireBefore)
            fail("reply bytes made the panel write to the port");
        const int newCount = (cnt_ + static_cast<int>(counted.size())) % 256;
        const int newIndex =
            (idx_ + static_cast<int>(counted.size()) + static_cast<int>(arriving.size())) % 256;
        const bool completes = newCount == expect && !awaiting_;
        if (completes) {
            if (r.rx.RecvCnt() != 0 || r.rx.RecvIdx() != 0)
                fail("a completed reply left RecvCnt " + std::to_string(r.rx.RecvCnt()) +
                     " RecvIdx " + std::to_string(r.rx.RecvIdx()));
            cnt_ = 0;
            idx_ = 0;
        } else {
            if (r.rx.RecvCnt() != newCount || r.rx.RecvIdx() != newIndex)
                fail("RecvCnt " + std::to_string(r.rx.RecvCnt()) + " RecvIdx " +
                     std::to_string(r.rx.RecvIdx()) + " after " + std::to_string(counted.size()) +
                     "+" + std::to_string(arriving.size()) + " bytes, expected " +
                     std::to_string(newCount) + " " + std::to_string(newIndex));
            cnt_ = newCount;
            idx_ = newIndex;
            if (r.boxes.boxes.size() != boxesBefore || r.w.Play_Text->text() != playBefore ||
                r.w.Rec_Text->text() != recBefore || r.w.CurrentRow->text() != rowBefore ||
                r.player.commands.size() != playerBefore || r.audio->RecOn() != recOnBefore ||
                r.audio->MusicOn() != musicOnBefore)
                fail("an incomplete reply changed what the panel shows");
            return;
        }
        if (reentered_)
            return; // the nested reply may have written over the buffer the first one used
        const auto& buf = r.rx.RecvBuf;
        const auto hex = [&buf](std::uint8_t start, std::uint8_t n) {
            return MyRinByteToStr(buf, start, n);
        };
        const auto lastBox = [&]() -> const test::FakeMessageBoxes::Box* {
            return r.boxes.boxes.size() > boxesBefore ? &r.boxes.boxes.last() : nullptr;
        };
        switch (cmd) {
        case Opcode::RD_PLAY_PTR:
            if (r.w.Play_Text->text() != hex(2, 2))
                fail("Play_Text is not the pointer of the reply");
            break;
        case Opcode::RD_REC_PTR:
            if (r.w.Rec_Text->text() != hex(2, 2))
                fail("Rec_Text is not the pointer of the reply");
            break;
        case Opcode::CurrentAddress:
            if (r.w.CurrentRow->text() != hex(0, 2))
                fail("CurrentRow is not the address of the reply");
            break;
        case Opcode::DEVID: {
            const auto* box = lastBox();
            if (!box || box->text != DeviceType(buf[2]) || box->title != QStringLiteral("器件类型"))
                fail("no device type box for a DEVID reply");
            break;
        }
        case Opcode::SET_PLAY:
        case Opcode::SET_ERASE: {
            const auto* box = lastBox();
            if (!box || box->text != hex(0, 5) || !box->title.isEmpty())
                fail("no box with the reply to a range command");
            break;
        }
        case Opcode::STOP:
            if (r.audio->RecOn() || r.audio->MusicOn())
                fail("a STOP reply left the recording flags on");
            break;
        case Opcode::REC:
            if (!r.audio->RecOn() || !r.audio->MusicOn() ||
                r.w.lamps.at({LampGroup::Lift, 2})->isHidden())
                fail("a REC reply did not mark the recording");
            break;
        case Opcode::SET_REC:
            if (recOnBefore) {
                const auto* box = lastBox();
                if (!box || box->text != QStringLiteral("请先停止上一次录音"))
                    fail("a SET_REC reply during a recording did not ask to stop it first");
            } else if (r.w.lamps.at({LampGroup::Right, 3})->isHidden()) {
                fail("a SET_REC reply did not light Right(3)");
            }
            break;
        default:
            if (r.boxes.boxes.size() != boxesBefore)
                fail("a reply to a command without an action showed a box");
            break;
        }
    }

    void boxShown(const test::FakeMessageBoxes::Box& box) {
        // Only a reply's box, on an open port: boxes of a click or of the port come first.
        const bool replyBox =
            box.title != QStringLiteral("串口状态") && box.title != QStringLiteral("错误");
        if (duringBox_.isEmpty() || !replyBox || !rig_.port.isOpen())
            return;
        const QByteArray bytes = duringBox_;
        duringBox_.clear();
        reentered_ = true;
        rig_.port.inject(bytes);
    }

    void port(std::uint8_t how) {
        const bool wasOpen = rig_.port.isOpen();
        switch (how % 3) {
        case 0: // the operator's click on the port button
            rig_.portControl.toggle(QStringLiteral("1"));
            break;
        case 1:
            rig_.port.raise(CommEvent::DeviceLost);
            break;
        case 2:
            rig_.port.raise(CommEvent::Error);
            break;
        }
        const bool opened = !wasOpen && rig_.port.isOpen();
        if (opened) {
            // A clean slate for the receiver.
            cnt_ = 0;
            idx_ = 0;
        }
        if (!rig_.port.isOpen() || opened)
            awaiting_ = false;
        if (!rig_.port.isOpen()) {
            frameShouldBeWhole_ = false;
            // The close may cut a frame; the bridge drops an incomplete frame after a pause,
            // and reopening the port takes the operator longer than that.
            bridgeNeeds_ = 0;
        }
        if (rig_.tx.isSending() && !rig_.port.isOpen())
            fail("Timer1 runs on a closed port");
        if (rig_.rx.RecvCnt() != cnt_ || rig_.rx.RecvIdx() != idx_)
            fail("the port's open, close or error left RecvCnt " +
                 std::to_string(rig_.rx.RecvCnt()) + " RecvIdx " +
                 std::to_string(rig_.rx.RecvIdx()) + ", expected " + std::to_string(cnt_) + " " +
                 std::to_string(idx_));
    }

    void player(std::uint8_t how) {
        static constexpr PlayerCommand commands[] = {PlayerCommand::Play, PlayerCommand::Pause,
                                                     PlayerCommand::Stop, PlayerCommand::close};
        rig_.player.command(commands[how % 4]);
        if (how & 4)
            rig_.audio->setRecOn(!rig_.audio->RecOn());
    }

    // Checks after every operation.
    void checkAlways() {
        Rig& r = rig_;
        if (r.litCommandLamps() > 1)
            fail(std::to_string(r.litCommandLamps()) + " command lamps lit");
        static const QRegularExpression address(QStringLiteral("^(|([0-9A-F]{2} ){2})$"));
        static const QRegularExpression range(QStringLiteral("^([0-9A-F]{2} ){5}$"));
        static const QRegularExpression model(QStringLiteral("^(ISD17[0-9]{2,3}|未知器件)$"));
        for (const QLineEdit* box : {r.w.Play_Text, r.w.Rec_Text, r.w.CurrentRow}) {
            if (!address.match(box->text()).hasMatch())
                fail(box->objectName().toStdString() + " shows " + show(box->text()));
        }
        for (const auto& box : r.boxes.boxes) {
            const bool known =
                (box.title == QStringLiteral("器件类型") && model.match(box.text).hasMatch()) ||
                (box.title.isEmpty() && range.match(box.text).hasMatch()) ||
                (box.title.isEmpty() && box.text == QStringLiteral("请先停止上一次录音")) ||
                (box.title == QStringLiteral("错误") &&
                 box.text == QStringLiteral("数据格式非法")) ||
                (box.title == QStringLiteral("串口状态") &&
                 (box.text == QStringLiteral("串口没打开") ||
                  box.text == QStringLiteral("串口已断开")));
            if (!known)
                fail("an unexpected box: " + box.title.toStdString() + " / " +
                     box.text.toStdString());
        }
        checkWire();
    }

    // Every byte written since the last look: on an open port, the next byte of what the
    // transmitter was handed; and, read the way the bridge reads the line, each opcode of the
    // catalogue followed by exactly its frame's data.
    void checkWire() {
        const auto& wire = rig_.port.wire;
        for (; checked_ < wire.size(); ++checked_) {
            const WireByte& b = wire[checked_];
            if (!b.portOpen)
                fail("a byte written to a closed port");
            if (b.index >= inFlight_.size() || b.value != inFlight_[b.index])
                fail("byte " + std::to_string(b.index) + " = " + std::to_string(b.value) +
                     " is not the next byte of what was sent, " +
                     hexDump(inFlight_.data(), inFlight_.size()));
            if (b.index > 0 && (checked_ == 0 || wire[checked_ - 1].index + 1 != b.index))
                fail("byte " + std::to_string(b.index) + " does not follow the byte before it");
            if (bridgeNeeds_ > 0) {
                --bridgeNeeds_;
                continue;
            }
            const CommandRow* row = nullptr;
            for (const CommandRow& candidate : CommandCatalogue)
                if (candidate.opcode == b.value)
                    row = &candidate;
            if (!row)
                fail("the bridge reads " + std::to_string(b.value) +
                     " as an opcode, and no catalogue command has it");
            else
                bridgeNeeds_ = row->frameLength - 1;
        }
    }

    Rig& rig_;
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    std::string failure_;

    int cnt_ = 0; // RecvCnt as the receiver must have it
    int idx_ = 0; // RecvIdx
    std::vector<std::uint8_t> inFlight_;
    std::size_t continued_ = 0;
    bool frameShouldBeWhole_ = false;
    std::size_t checked_ = 0;
    int bridgeNeeds_ = 0; // data bytes the bridge still waits for, by the opcodes on the wire
    QByteArray duringBox_;
    bool reentered_ = false;
    bool awaiting_ = false; // a command was given and its frame's first byte is not out yet
};

inline std::string checkReceiverInput(Rig& rig, const std::uint8_t* data, std::size_t size) {
    return ReceiverScript(rig, data, size).run();
}

} // namespace tamberlo::fuzz

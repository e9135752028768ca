#pragma once

#include "chip/Catalogue.h"
#include "panel/Lamps.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace tamberlo {

class AudioSource;
class MessageBoxes;
class Receiver;
class Transmitter;

// The chip's command set as the panel uses it: the click handlers of the sixteen command
// buttons and the volume button, and the action the receiver runs when a reply is
// complete. Every handler follows one sequence, read from CommandCatalogue: hide the
// command lamps and show its own, set the reply expectation, rebuild SendBuf, send.
class ChipCommands : public QObject {
    Q_OBJECT
public:
    // The window's controls the handlers read and write. All must be set.
    struct Widgets {
        QLineEdit* Play_Text = nullptr;
        QLineEdit* Rec_Text = nullptr;
        QLineEdit* CurrentRow = nullptr;
        QLineEdit* St_Play_Text = nullptr;
        QLineEdit* St_Play_Text1 = nullptr;
        QLineEdit* St_Rec_Text = nullptr;
        QLineEdit* St_Rec_Text1 = nullptr;
        QLineEdit* SetEraseText = nullptr;
        QLineEdit* SetEraseText1 = nullptr;
        QComboBox* sound_in = nullptr;
        QCheckBox* SoundMon = nullptr;
        QCheckBox* SPKon = nullptr;
        Lamps lamps;
    };

    // Characters the operator may type into the play and record address boxes and into
    // CurrentRow; an address is two bytes, "00 10".
    static constexpr int AddressChars = 5;

    // Installs the reply action on the receiver and the typing limits on the five
    // length-limited boxes, and shows a box for every frame the transmitter refuses on a
    // closed port. SoundDip repaints the volume-step display.
    ChipCommands(Transmitter& transmitter, Receiver& receiver, AudioSource& audio,
                 MessageBoxes& boxes, Widgets widgets, std::function<void(std::uint8_t)> SoundDip,
                 QObject* parent = nullptr);
    // Takes the reply action off the receiver again.
    ~ChipCommands() override;

    // The stop button's four steps (RecOn off, RecvExpect 1, SendBuf = STOP, send). Also the
    // automatic stop near the end of the audio file.
    void sendStop();
    // How long after sendStop() its byte leaves for the chip: one pacing interval, and more
    // while a frame is still going out ahead of it. The automatic stop hands STOP over that
    // much early.
    int stopHandOverLeadMs() const;

    // Sets the volume step and repaints the display (start-up sets 4).
    void setVolLevel(std::uint8_t level);

    const Widgets& widgets() const { return w_; }

    // Volume step 0..4, written by setVolLevel and the volume button; read by si_ok.
    std::uint8_t VolLevel = 0;
    // Bytes parsed by the last StrToHex call of an address range handler.
    std::vector<std::uint8_t> HexBytes;

public slots:
    // Single-byte commands.
    void play();
    void stop();
    void rec();
    void fwd();
    void erase();
    void erase_all();
    void CurrentRowComm();
    void devid_rst();
    void devid_pu();
    void devid_id();
    void rd_play_addr();
    void rd_rec_addr();
    // Address ranges.
    void set_play_addr();
    void set_rec_addr();
    void SetEraseAddrComm();
    // Analog path.
    void si_ok();
    void VoilceVal();

private:
    // Steps shared by every handler up to the frame: lamps, reply expectation, SendBuf
    // re-created with the frame length, all zero.
    void prepare(const CommandRow& command);
    // prepare, then the opcode into SendBuf(0), then send.
    void sendSingleByte(Command command);
    void sendRange(Command command, QLineEdit* startBox, QLineEdit* endBox);

    // Runs when the receiver has counted a complete reply; chooses by CurCmd.
    void replyComplete();
    void stopReply();
    void recReply();
    void setRecReply();

    Transmitter& tx_;
    Receiver& rx_;
    AudioSource& audio_;
    MessageBoxes& boxes_;
    Widgets w_;
    std::function<void(std::uint8_t)> soundDip_;
};

} // namespace tamberlo

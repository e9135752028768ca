#pragma once

#include "ChipModel.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamberlo::bridgesim {

// The bridge board between the serial line and the chip. It gathers the bytes of a
// frame (the opcode decides the length), hands the frame to the chip and answers with
// the bytes the panel waits for:
//
//   STOP 0x02, REC 0x41          SR0 low
//   RD_PLAY_PTR 0x06,
//   RD_REC_PTR 0x08              SR0 low, SR0 high, pointer high (3 bits), pointer low
//   DEVID 0x09                   SR0 low, SR0 high, device ID
//   current address 0x60         current row high, current row low, SR1
//   SET_PLAY/SET_REC/SET_ERASE   SR0 low, SR0 high, SR0 low, SR0 high, SR0 low
//   anything else                nothing, or SR0 low, SR0 high with answerAll
//
// SR0 in a reply is the status as the chip shifts it out while the command goes in: the
// flags as the previous command left them (so a refused command shows CMD_ERR in the
// next reply) and the current row as it is at that moment.
class Bridge {
public:
    struct Options {
        bool answerAll = false;
        // A frame left incomplete for this long is dropped, so that one lost byte does
        // not shift every later frame. The panel sends a frame's bytes 50 ms apart.
        SimTime frameTimeout = std::chrono::milliseconds(500);
    };

    // What one received byte did.
    struct Reception {
        std::uint8_t opcode = 0;         // opcode of the frame the byte belongs to
        std::size_t position = 0;        // 1-based place of the byte in that frame
        std::size_t length = 0;          // length of that frame
        bool droppedStale = false;       // an incomplete frame timed out before this byte
        bool complete = false;           // this byte completed the frame
        bool accepted = false;           // complete: the chip took the command
        std::vector<std::uint8_t> frame; // complete: the whole frame
        std::vector<std::uint8_t> reply; // complete: the bridge's answer
    };

    Bridge(ChipModel& chip, Options options);

    Reception receive(std::uint8_t byte, SimTime now);

    // The bytes the bridge answers to a complete frame, given the chip's status as it
    // stood before the command; the chip must have executed the frame already.
    std::vector<std::uint8_t> replyFor(std::uint8_t opcode, std::uint16_t statusBefore,
                                       std::uint8_t status1Before) const;

private:
    ChipModel& chip_;
    Options options_;
    std::vector<std::uint8_t> pending_;
    SimTime lastByteAt_{};
};

} // namespace tamberlo::bridgesim

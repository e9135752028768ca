#pragma once

// What the bridge's replies carry, decoded; the frames the command-line tools build; the
// address texts they accept. Plain functions, no widgets, no port.

#include "chip/DeviceType.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tamberlo {

// Bits of the low byte of status register 0. The high byte holds A10..A3 of the current
// row, the top three bits of the low byte A2..A0.
namespace Sr0 {
inline constexpr std::uint8_t CMD_ERR = 0x01; // the previous command was refused
inline constexpr std::uint8_t FULL = 0x02;    // the memory is full
inline constexpr std::uint8_t PU = 0x04;      // powered up
inline constexpr std::uint8_t EOM = 0x08;     // an end-of-message marker was met
inline constexpr std::uint8_t INT = 0x10;     // an operation has finished
inline constexpr int RowShift = 5;
} // namespace Sr0

// Bits of status register 1, the third byte of the current-address reply.
namespace Sr1 {
inline constexpr std::uint8_t RDY = 0x01;
inline constexpr std::uint8_t ERASE = 0x02;
inline constexpr std::uint8_t PLAY = 0x04;
inline constexpr std::uint8_t REC = 0x08;
} // namespace Sr1

// Status register 0 as a reply carries it: STOP and REC answer with its low byte only;
// pointer, device-ID and range replies start with both bytes. It is the status while the
// command was clocked in, so CMD_ERR speaks of the command before.
struct ChipStatus {
    std::uint8_t low = 0;
    std::optional<std::uint8_t> high;

    bool refused() const { return (low & Sr0::CMD_ERR) != 0; }
    bool full() const { return (low & Sr0::FULL) != 0; }
    bool poweredUp() const { return (low & Sr0::PU) != 0; }
    bool endOfMessage() const { return (low & Sr0::EOM) != 0; }
    bool interrupt() const { return (low & Sr0::INT) != 0; }
    // A10..A0, when the high byte is there.
    std::optional<std::uint16_t> row() const;
    // "CMD_ERR", "FULL", "PU", "EOM", "INT": the flags that are set, in bit order.
    QStringList flagNames() const;

    friend bool operator==(const ChipStatus&, const ChipStatus&) = default;
};

// The current-address reply (opcode 0x60): the current row and status register 1.
struct CurrentAddress {
    std::uint16_t row = 0;
    std::uint8_t sr1 = 0;

    bool ready() const { return (sr1 & Sr1::RDY) != 0; }
    bool erasing() const { return (sr1 & Sr1::ERASE) != 0; }
    bool playing() const { return (sr1 & Sr1::PLAY) != 0; }
    bool recording() const { return (sr1 & Sr1::REC) != 0; }
    // "ready", "erasing", "playing", "recording", or "busy" / "powered down" when no
    // activity bit is set and the chip is not ready.
    QString activity() const;
};

// Everything a complete reply to one opcode says. Fields the reply does not carry stay empty.
struct DecodedReply {
    std::optional<ChipStatus> status;
    std::optional<std::uint16_t> pointer;  // RD_PLAY_PTR, RD_REC_PTR: the 11-bit pointer
    std::optional<std::uint8_t> deviceId;  // DEVID
    const ChipModel* model = nullptr;      // DEVID, when the ID byte names a known model
    std::optional<CurrentAddress> address; // 0x60
};

// The number of reply bytes the bridge answers `opcode` with, from the command catalogue;
// 0 for the commands the panel does nothing with a reply to (the bridge answers none).
std::uint8_t replyLength(std::uint8_t opcode);

// The mnemonic of an opcode ("DEVID"; "current address" for 0x60; "0x??" for others).
QString commandName(std::uint8_t opcode);

// Decodes a complete reply to `opcode`; a reply shorter than replyLength(opcode) gives
// what its bytes are enough for.
DecodedReply decodeReply(std::uint8_t opcode, std::span<const std::uint8_t> reply);

// An 11-bit row from its two bytes on the wire (A10..A8, then A7..A0).
constexpr std::uint16_t rowFromBytes(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::uint16_t>(((high & 0x07) << 8) | low);
}

// Frames with their data bytes, opcodes from the catalogue.
std::vector<std::uint8_t> singleFrame(std::uint8_t opcode);
// SET_PLAY, SET_REC or SET_ERASE from start to end, each row high byte first.
std::vector<std::uint8_t> rangeFrame(std::uint8_t opcode, std::uint16_t start, std::uint16_t end);

// An address as typed on a command line: "0x1A0", "1A0" or the panel's "01 A0". Rows are
// 11 bits (0x000..0x7FF); with a model, past its last row is refused too. On failure
// *why says what is wrong with the text.
std::optional<std::uint16_t> parseRow(const QString& text, const ChipModel* model = nullptr,
                                      QString* why = nullptr);

// "0x1A0": how rows are shown.
QString rowText(std::uint16_t row);

} // namespace tamberlo

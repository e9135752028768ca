#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tamberlo::bridgesim {

// Opcodes of the chip's SPI command set, plus the bridge board's own current-address
// query (0x60), which the board answers from the chip's status registers.
namespace op {
inline constexpr std::uint8_t PU = 0x01;
inline constexpr std::uint8_t STOP = 0x02;
inline constexpr std::uint8_t RESET = 0x03;
inline constexpr std::uint8_t CLR_INT = 0x04;
inline constexpr std::uint8_t RD_STATUS = 0x05;
inline constexpr std::uint8_t RD_PLAY_PTR = 0x06;
inline constexpr std::uint8_t PD = 0x07;
inline constexpr std::uint8_t RD_REC_PTR = 0x08;
inline constexpr std::uint8_t DEVID = 0x09;
inline constexpr std::uint8_t PLAY = 0x40;
inline constexpr std::uint8_t REC = 0x41;
inline constexpr std::uint8_t ERASE = 0x42;
inline constexpr std::uint8_t G_ERASE = 0x43;
inline constexpr std::uint8_t RD_APC = 0x44;
inline constexpr std::uint8_t WR_APC1 = 0x45;
inline constexpr std::uint8_t WR_NVCFG = 0x46;
inline constexpr std::uint8_t LD_NVCFG = 0x47;
inline constexpr std::uint8_t FWD = 0x48;
inline constexpr std::uint8_t CHK_MEM = 0x49;
inline constexpr std::uint8_t EXTCLK = 0x4A;
inline constexpr std::uint8_t CUR_ADDR = 0x60; // the bridge board's current-address query
inline constexpr std::uint8_t WR_APC2 = 0x65;
inline constexpr std::uint8_t SET_PLAY = 0x80;
inline constexpr std::uint8_t SET_REC = 0x81;
inline constexpr std::uint8_t SET_ERASE = 0x82;
} // namespace op

// Number of bytes the bridge collects for a frame that starts with this opcode:
// 3 for WR_APC2, 5 for the three range commands, 1 for everything else.
std::size_t frameLength(std::uint8_t opcode);

// Mnemonic of an opcode ("SET_PLAY"), or "0xNN?" for a byte the chip does not know.
std::string commandName(std::uint8_t opcode);

// A range frame carries start high, start low, end high, end low after the opcode; only
// the low three bits of a high byte are address bits (rows are 11 bits wide).
std::uint16_t rowFromBytes(std::uint8_t high, std::uint8_t low);

// One line of text for a complete frame, for the byte log: "SET_PLAY 0x010..0x020",
// "WR_APC2 APC=0xD00", "DEVID".
std::string describeFrame(std::span<const std::uint8_t> frame);

} // namespace tamberlo::bridgesim

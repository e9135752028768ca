#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tamberlo {

// Every command button of the panel, in the order of the catalogue below.
enum class Command : std::uint8_t {
    play,
    stop,
    rec,
    fwd,
    erase,
    erase_all,
    CurrentRowComm,
    devid_rst,
    devid_pu,
    devid_id,
    rd_play_addr,
    rd_rec_addr,
    set_play_addr,
    set_rec_addr,
    SetEraseAddrComm,
    si_ok,
};

// One frame the panel sends, as its button's handler prepares it. The lamp a click shows is
// the panel's business (panel/Lamps.h, commandLamp).
struct CommandRow {
    Command command;
    std::string_view control;  // the button's control name, also the handler's slot name
    std::string_view mnemonic; // the chip's name for the opcode; empty where it has none
    std::uint8_t opcode;       // first byte of the frame
    std::uint8_t frameLength;  // bytes sent: 1, 3 or 5
    // Written to RecvExpect before sending; nullopt: RecvExpect is left unchanged (the
    // panel does nothing with any reply to this command).
    std::optional<std::uint8_t> replyBytes;
    bool clearsCount; // RecvCnt set to 0 before sending
};

// The complete set of frames the panel ever sends: no other opcode goes out.
inline constexpr std::array<CommandRow, 16> CommandCatalogue{{
    // clang-format off
    {Command::play,             "play",             "PLAY",       0x40, 1, std::nullopt, false},
    {Command::stop,             "stop",             "STOP",       0x02, 1, 1,            false},
    {Command::rec,              "rec",              "REC",        0x41, 1, 1,            false},
    {Command::fwd,              "fwd",              "FWD",        0x48, 1, std::nullopt, false},
    {Command::erase,            "erase",            "ERASE",      0x42, 1, std::nullopt, false},
    {Command::erase_all,        "erase_all",        "G_ERASE",    0x43, 1, std::nullopt, false},
    {Command::CurrentRowComm,   "CurrentRowComm",   "",           0x60, 1, 3,            true},
    {Command::devid_rst,        "devid_rst",        "RESET",      0x03, 1, std::nullopt, false},
    {Command::devid_pu,         "devid_pu",         "PU",         0x01, 1, std::nullopt, false},
    {Command::devid_id,         "devid_id",         "DEVID",      0x09, 1, 3,            true},
    {Command::rd_play_addr,     "rd_play_addr",     "RD_PLAY_PTR",0x06, 1, 4,            true},
    {Command::rd_rec_addr,      "rd_rec_addr",      "RD_REC_PTR", 0x08, 1, 4,            true},
    {Command::set_play_addr,    "set_play_addr",    "SET_PLAY",   0x80, 5, 5,            false},
    {Command::set_rec_addr,     "set_rec_addr",     "SET_REC",    0x81, 5, 5,            false},
    {Command::SetEraseAddrComm, "SetEraseAddrComm", "SET_ERASE",  0x82, 5, 5,            false},
    {Command::si_ok,            "si_ok",            "WR_APC2",    0x65, 3, std::nullopt, false},
    // clang-format on
}};

constexpr const CommandRow& row(Command command) {
    return CommandCatalogue[static_cast<std::size_t>(command)];
}

// Opcodes by the chip's names, taken from the catalogue so that a byte value is written
// down once. CurrentAddress (0x60) is the bridge's current-address query.
namespace Opcode {
inline constexpr std::uint8_t PU = row(Command::devid_pu).opcode;
inline constexpr std::uint8_t STOP = row(Command::stop).opcode;
inline constexpr std::uint8_t RESET = row(Command::devid_rst).opcode;
inline constexpr std::uint8_t RD_PLAY_PTR = row(Command::rd_play_addr).opcode;
inline constexpr std::uint8_t RD_REC_PTR = row(Command::rd_rec_addr).opcode;
inline constexpr std::uint8_t DEVID = row(Command::devid_id).opcode;
inline constexpr std::uint8_t PLAY = row(Command::play).opcode;
inline constexpr std::uint8_t REC = row(Command::rec).opcode;
inline constexpr std::uint8_t ERASE = row(Command::erase).opcode;
inline constexpr std::uint8_t G_ERASE = row(Command::erase_all).opcode;
inline constexpr std::uint8_t FWD = row(Command::fwd).opcode;
inline constexpr std::uint8_t CurrentAddress = row(Command::CurrentRowComm).opcode;
inline constexpr std::uint8_t WR_APC2 = row(Command::si_ok).opcode;
inline constexpr std::uint8_t SET_PLAY = row(Command::set_play_addr).opcode;
inline constexpr std::uint8_t SET_REC = row(Command::set_rec_addr).opcode;
inline constexpr std::uint8_t SET_ERASE = row(Command::SetEraseAddrComm).opcode;
} // namespace Opcode

namespace detail {
constexpr bool catalogueInOrder() {
    for (std::size_t i = 0; i < CommandCatalogue.size(); ++i) {
        if (static_cast<std::size_t>(CommandCatalogue[i].command) != i)
            return false;
    }
    return true;
}
} // namespace detail
static_assert(detail::catalogueInOrder(), "row(Command) indexes the catalogue by Command");

} // namespace tamberlo

#include "Commands.h"

#include <cstdio>

namespace tamberlo::bridgesim {

std::size_t frameLength(std::uint8_t opcode) {
    switch (opcode) {
    case op::WR_APC2:
        return 3;
    case op::SET_PLAY:
    case op::SET_REC:
    case op::SET_ERASE:
        return 5;
    default:
        return 1;
    }
}

std::string commandName(std::uint8_t opcode) {
    switch (opcode) {
    case op::PU:
        return "PU";
    case op::STOP:
        return "STOP";
    case op::RESET:
        return "RESET";
    case op::CLR_INT:
        return "CLR_INT";
    case op::RD_STATUS:
        return "RD_STATUS";
    case op::RD_PLAY_PTR:
        return "RD_PLAY_PTR";
    case op::PD:
        return "PD";
    case op::RD_REC_PTR:
        return "RD_REC_PTR";
    case op::DEVID:
        return "DEVID";
    case op::PLAY:
        return "PLAY";
    case op::REC:
        return "REC";
    case op::ERASE:
        return "ERASE";
    case op::G_ERASE:
        return "G_ERASE";
    case op::RD_APC:
        return "RD_APC";
    case op::WR_APC1:
        return "WR_APC1";
    case op::WR_NVCFG:
        return "WR_NVCFG";
    case op::LD_NVCFG:
        return "LD_NVCFG";
    case op::FWD:
        return "FWD";
    case op::CHK_MEM:
        return "CHK_MEM";
    case op::EXTCLK:
        return "EXTCLK";
    case op::CUR_ADDR:
        return "CUR_ADDR";
    case op::WR_APC2:
        return "WR_APC2";
    case op::SET_PLAY:
        return "SET_PLAY";
    case op::SET_REC:
        return "SET_REC";
    case op::SET_ERASE:
        return "SET_ERASE";
    default: {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X?", opcode);
        return text;
    }
    }
}

std::uint16_t rowFromBytes(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::uint16_t>(((high & 0x07) << 8) | low);
}

std::string describeFrame(std::span<const std::uint8_t> frame) {
    if (frame.empty())
        return {};
    std::string text = commandName(frame[0]);
    char detail[48];
    if (frame.size() == 5) {
        std::snprintf(detail, sizeof detail, " 0x%03X..0x%03X", rowFromBytes(frame[1], frame[2]),
                      rowFromBytes(frame[3], frame[4]));
        text += detail;
    } else if (frame.size() == 3) {
        std::snprintf(detail, sizeof detail, " APC=0x%03X", ((frame[1] & 0x0F) << 8) | frame[2]);
        text += detail;
    }
    return text;
}

} // namespace tamberlo::bridgesim

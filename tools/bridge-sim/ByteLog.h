#pragma once

#include "ChipModel.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tamberlo::bridgesim {

// The traffic log: one line per byte in or out, with the monotonic time in microseconds,
// the direction, the byte in hex and what it was part of, plus a few event lines:
//
//   5021433172 in  80 SET_PLAY 1/5
//   5021633391 in  20 SET_PLAY 5/5: SET_PLAY 0x010..0x020
//   5021633420 out 04 SET_PLAY reply 1/5
//   5023004019 --  the panel closed the port
class ByteLog {
public:
    enum class Direction { In, Out, Dropped };

    ByteLog() = default;
    ~ByteLog();
    ByteLog(const ByteLog&) = delete;
    ByteLog& operator=(const ByteLog&) = delete;

    // "-" logs to stderr, anything else is a file to create. Without open() nothing is
    // logged.
    bool open(const std::string& target, std::string& error);
    bool enabled() const { return file_ != nullptr; }

    void byte(SimTime at, Direction direction, std::uint8_t value, std::string_view note);
    void event(SimTime at, std::string_view text);

    static std::string formatByte(SimTime at, Direction direction, std::uint8_t value,
                                  std::string_view note);

private:
    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
};

} // namespace tamberlo::bridgesim

#include "ByteLog.h"

#include <cerrno>
#include <cstring>

namespace tamberlo::bridgesim {

ByteLog::~ByteLog() {
    if (ownsFile_ && file_)
        std::fclose(file_);
}

bool ByteLog::open(const std::string& target, std::string& error) {
    if (target == "-") {
        file_ = stderr;
        return true;
    }
    file_ = std::fopen(target.c_str(), "w");
    if (!file_) {
        error = target + ": " + std::strerror(errno);
        return false;
    }
    ownsFile_ = true;
    return true;
}

std::string ByteLog::formatByte(SimTime at, Direction direction, std::uint8_t value,
                                std::string_view note) {
    const char* tag = direction == Direction::In    ? "in "
                      : direction == Direction::Out ? "out"
                                                    : "drp";
    char head[48];
    std::snprintf(head, sizeof head, "%lld %s %02X ", static_cast<long long>(at.count()), tag,
                  value);
    return std::string(head).append(note);
}

void ByteLog::byte(SimTime at, Direction direction, std::uint8_t value, std::string_view note) {
    if (!file_)
        return;
    const std::string line = formatByte(at, direction, value, note);
    std::fprintf(file_, "%s\n", line.c_str());
    std::fflush(file_);
}

void ByteLog::event(SimTime at, std::string_view text) {
    if (!file_)
        return;
    std::fprintf(file_, "%lld --  %.*s\n", static_cast<long long>(at.count()),
                 static_cast<int>(text.size()), text.data());
    std::fflush(file_);
}

} // namespace tamberlo::bridgesim

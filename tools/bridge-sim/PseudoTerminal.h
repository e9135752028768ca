#pragma once

#include <string>

namespace tamberlo::bridgesim {

// The simulator's end of a pseudo-terminal pair (POSIX). The other end, the device the
// panel opens, is devicePath(). The master is non-blocking and the line is raw, 9600 8N1.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool open(std::string& error);
    void close();
    int masterFd() const { return master_; }
    const std::string& devicePath() const { return devicePath_; }

private:
    int master_ = -1;
    std::string devicePath_;
};

// The link `<runtime dir>/tamberlo/port<N>` through which the panel finds port N.
enum class LinkOutcome {
    Created,       // there was none
    ReplacedStale, // there was one to a device that no longer exists
    RefusedLive,   // there is one to a device that exists: someone else's port
    RefusedOther,  // something that is not a symbolic link is in the way
    Failed,
};

// Points linkPath at devicePath. A link to a device that exists is left alone; a link
// whose device is gone, or that already points at devicePath (left by a simulator that was
// killed), is replaced. `detail` says what was found or what failed.
LinkOutcome registerPortLink(const std::string& linkPath, const std::string& devicePath,
                             std::string& detail);

// Removes linkPath if it still points at devicePath.
void removePortLink(const std::string& linkPath, const std::string& devicePath);

} // namespace tamberlo::bridgesim

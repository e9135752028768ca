#include "PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tamberlo::bridgesim {

namespace {

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

void makeRaw(termios& settings) {
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
}

bool setRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return false;
    makeRaw(settings);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

std::string readLinkTarget(const std::string& path) {
    char target[4096];
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length < 0)
        return {};
    return std::string(target, static_cast<std::size_t>(length));
}

} // namespace

PseudoTerminal::~PseudoTerminal() {
    close();
}

bool PseudoTerminal::open(std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = systemError("grantpt/unlockpt");
        close();
        return false;
    }
    const char* name = ptsname(master_);
    if (!name) {
        error = systemError("ptsname");
        close();
        return false;
    }
    devicePath_ = name;

    // Open the device side once: some systems take line settings only there, and once
    // it has been closed the master reports a hang-up until the panel opens it. (Before
    // that first close, Linux would let bytes written now wait for the panel.)
    const int device = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY);
    if (device < 0) {
        error = systemError(devicePath_.c_str());
        close();
        return false;
    }
    const bool raw = setRaw(device) || setRaw(master_);
    ::close(device);
    if (!raw) {
        error = systemError("raw mode");
        close();
        return false;
    }

    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0 ||
        fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) {
        error = systemError("fcntl");
        close();
        return false;
    }
    return true;
}

void PseudoTerminal::close() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

LinkOutcome registerPortLink(const std::string& linkPath, const std::string& devicePath,
                             std::string& detail) {
    bool replaced = false;
    struct stat found {};
    if (lstat(linkPath.c_str(), &found) == 0) {
        if (!S_ISLNK(found.st_mode)) {
            detail = linkPath + " exists and is not a symbolic link";
            return LinkOutcome::RefusedOther;
        }
        struct stat device {};
        const std::string target = readLinkTarget(linkPath);
        // A link to this very device was left by a simulator that was killed, whose
        // terminal number the system has given to this one.
        if (target != devicePath && stat(linkPath.c_str(), &device) == 0) {
            detail = linkPath + " points to " + target + ", which exists";
            return LinkOutcome::RefusedLive;
        }
        if (unlink(linkPath.c_str()) != 0 && errno != ENOENT) {
            detail = systemError(("removing stale " + linkPath).c_str());
            return LinkOutcome::Failed;
        }
        detail = "replaced a stale link to " + target;
        replaced = true;
    } else if (errno != ENOENT) {
        detail = systemError(linkPath.c_str());
        return LinkOutcome::Failed;
    }

    if (symlink(devicePath.c_str(), linkPath.c_str()) != 0) {
        if (errno == EEXIST) {
            detail = linkPath + " was just made by someone else";
            return LinkOutcome::RefusedLive;
        }
        detail = systemError(linkPath.c_str());
        return LinkOutcome::Failed;
    }
    return replaced ? LinkOutcome::ReplacedStale : LinkOutcome::Created;
}

void removePortLink(const std::string& linkPath, const std::string& devicePath) {
    if (readLinkTarget(linkPath) == devicePath)
        unlink(linkPath.c_str());
}

} // namespace tamberlo::bridgesim

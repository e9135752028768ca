#include "support/ProcessWait.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tamberlo::test {

namespace {

// A file descriptor closed when it goes out of scope.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// pidfd_open(2) through syscall(): the C library's declaration of it lacks C linkage.
int openPidFd(pid_t pid) {
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

int remainingMs(const QDeadlineTimer& deadline) {
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

} // namespace

bool waitForProcessEnd(pid_t pid, QDeadlineTimer deadline) {
    const Fd process{openPidFd(pid)};
    if (process.fd < 0)
        return errno == ESRCH; // no such process: it has ended and been reaped
    for (;;) {
        pollfd fd{process.fd, POLLIN, 0};
        const int ready = ::poll(&fd, 1, remainingMs(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

bool waitForPath(const QString& path, pid_t pid, QDeadlineTimer deadline) {
    const Fd watch{::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)};
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (watch.fd < 0 ||
        ::inotify_add_watch(watch.fd, folder.constData(), IN_CREATE | IN_MOVED_TO) < 0)
        return false;
    const Fd process{pid > 0 ? openPidFd(pid) : -1};
    // Looked at after the watch is set up: a path made before is seen here, one made after
    // wakes the poll.
    while (!QFileInfo::exists(path)) {
        pollfd fds[2] = {{watch.fd, POLLIN, 0}, {process.fd, POLLIN, 0}};
        const int ready = ::poll(fds, process.fd >= 0 ? 2 : 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (fds[1].revents & POLLIN))
            return QFileInfo::exists(path);
        char events[4096];
        while (::read(watch.fd, events, sizeof events) > 0) {
        }
    }
    return true;
}

} // namespace tamberlo::test

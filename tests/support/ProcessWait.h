#pragma once

// Waits on a child process and on the files it makes, with a deadline and without a fixed
// sleep: poll() on a pidfd (readable once the process has ended) and on an inotify descriptor
// for the folder a file is to appear in. Linux only, as the sound rig is.

#include <QDeadlineTimer>
#include <QString>
#include <sys/types.h>

namespace tamberlo::test {

// Waits until the process has ended (it stays unreaped: waitpid() still gets its status) or
// the deadline has passed; true when it has ended.
bool waitForProcessEnd(pid_t pid, QDeadlineTimer deadline);

// Waits until `path` exists, the process `pid` (when > 0) has ended, or the deadline has
// passed; true when the path exists.
bool waitForPath(const QString& path, pid_t pid, QDeadlineTimer deadline);

} // namespace tamberlo::test

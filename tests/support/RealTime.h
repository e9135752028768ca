#pragma once

// The measuring side of the sound rig stands for hardware that a busy machine does not hold
// up: a sound card's input, a chip at the far end of a serial line. The processes and threads
// that stamp what they read run at a real-time FIFO priority where that is allowed (as root, as
// in CI), so that a compile beside them does not wake them late; elsewhere they run as they
// are. They block on reads, so they never hold the processor for long.

#include <sched.h>
#include <sys/types.h>

namespace tamberlo::test {

// `tid` 0 is the calling thread; true when the priority was granted.
inline bool stampAtRealTimePriority(pid_t tid = 0) {
    sched_param p{};
    p.sched_priority = 20;
    return ::sched_setscheduler(tid, SCHED_FIFO, &p) == 0;
}

} // namespace tamberlo::test

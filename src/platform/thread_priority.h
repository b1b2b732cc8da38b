// Raising the calling thread to the highest priority the system grants, for
// the thread whose timing the whole acquisition rests on.
#pragma once

namespace platform {

// Windows: THREAD_PRIORITY_TIME_CRITICAL. POSIX: SCHED_FIFO at the highest
// priority allowed (all of them for a privileged process, up to
// RLIMIT_RTPRIO otherwise). False, with the system's code in *error, when
// the system refuses; the thread then keeps its priority.
bool raiseThreadPriority(unsigned long* error);

}  // namespace platform

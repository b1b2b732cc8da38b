// Real-time scheduling for the calling thread. Linux throttles real-time
// threads to 95 % of each second by default, so a thread that ran away could
// not take a core for good.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include "platform/thread_priority.h"

namespace platform {

bool raiseThreadPriority(unsigned long* error) {
  int priority = sched_get_priority_max(SCHED_FIFO);
  // An unprivileged user may be granted real-time priorities up to a limit.
  rlimit limit{};
  if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur > 0 && static_cast<rlim_t>(priority) > limit.rlim_cur) {
    priority = static_cast<int>(limit.rlim_cur);
  }
  sched_param param{};
  param.sched_priority = priority;
  const int result = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  if (result != 0) {
    *error = static_cast<unsigned long>(result);
    return false;
  }
  return true;
}

}  // namespace platform

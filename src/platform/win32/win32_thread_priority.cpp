// Time-critical priority for the calling thread: the highest within the
// process's priority class, which Windows grants without privileges.
#include <windows.h>

#include "platform/thread_priority.h"

namespace platform {

bool raiseThreadPriority(unsigned long* error) {
  if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) return true;
  *error = GetLastError();
  return false;
}

}  // namespace platform

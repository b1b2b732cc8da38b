#include "core/interrupt.h"

#include <atomic>

#include "core/log.h"
#include "core/server_state.h"

namespace {
std::atomic<bool> interruptHandled{false};
}

bool interruptReceived() {
  return interruptHandled.load();
}

void onInterrupt() {
  if (interruptHandled.exchange(true))
    return;
  logprintf(currentLogStream, "Siginthandler: Ctrl-c Received Program Terminating...\n");
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (hold.obtained())
    serverStatus.running = false;
}

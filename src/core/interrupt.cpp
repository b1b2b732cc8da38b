#include "core/interrupt.h"

#include <atomic>

#include "core/log.h"
#include "core/server_state.h"
#include "platform/clock.h"

namespace {
std::atomic<bool> interruptHandled{false};
std::atomic<bool> interruptDone{false};
}  // namespace

bool interruptReceived() { return interruptHandled.load(); }

bool interruptFinished() { return interruptDone.load(); }

void onInterrupt() {
  if (interruptHandled.exchange(true)) {
    // The body runs once, but no caller may go on before it has finished:
    // shutdown would otherwise close the log under the interrupt thread's
    // entry. The body's waits are bounded, so this wait is too.
    while (!interruptDone.load()) platform::sleepMs(1);
    return;
  }
  logprintf(currentLogStream, "Siginthandler: Ctrl-c Received Program Terminating...\n");
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    if (hold.obtained()) serverStatus.running = false;
  }
  interruptDone.store(true);
}

#include "core/interrupt.h"

#include <atomic>

#include "core/log.h"
#include "core/server_state.h"
#include "platform/clock.h"

namespace {
std::atomic<bool> interruptHandled{false};
std::atomic<bool> interruptDone{false};
std::atomic<bool> endedByRequest{false};

void interrupt(bool requested) {
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
    if (hold.obtained()) {
      // A request that comes after a failure has already ended the run must
      // not turn that failure into an orderly stop.
      if (requested && serverStatus.running) endedByRequest.store(true);
      serverStatus.running = false;
    }
  }
  interruptDone.store(true);
}
}  // namespace

bool interruptReceived() { return interruptHandled.load(); }

bool interruptFinished() { return interruptDone.load(); }

bool stopRequestEndedRun() { return endedByRequest.load(); }

void onInterrupt() { interrupt(false); }

void onStopRequest() { interrupt(true); }

#include "core/status_access.h"

#include <atomic>

#include "core/interrupt.h"
#include "core/repeated_line.h"
#include "core/server_state.h"
#include "platform/clock.h"

namespace {

// The run flag as last read under the mutex; a read that times out answers
// it. Taking false instead, as for the other flags, would end the whole run
// silently whenever a log write blocks for a while.
std::atomic<bool> lastRunningRead{false};

// Reads of running given up since the last one that succeeded, and the tick
// of the latest. Counted without the mutex, reported with it: a line written
// while the mutex is busy would itself wait and most likely be lost.
std::atomic<std::uint32_t> missedRunningReads{0};
std::atomic<std::uint32_t> lastMissedReadMs{0};

// Guarded by statusMutex: used only while it is held.
RepeatedLine busyRunningLine;
constexpr std::uint32_t kQuietBeforeEndMs = 60000;

template <typename Action>
bool underStatusMutex(Action action) {
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (!hold.obtained()) return false;
  action();
  return true;
}

// Writes what reads of running were given up. Requires statusMutex. The
// fault is taken as over only after a quiet minute, so that a mutex that is
// busy every few seconds still yields no more than a line a minute.
void reportMissedRunningReads(bool lastValue) {
  const std::uint32_t missed = missedRunningReads.exchange(0);
  for (std::uint32_t i = 0; i < missed; ++i) {
    busyRunningLine.occurred(
        "getRunning(): ERROR status mutex busy for %d ms, could not read running; "
        "kept its last value (%d).\n",
        kMutexTimeoutMs, lastValue ? 1 : 0);
  }
  if (missed == 0 && busyRunningLine.active() &&
      platform::tickMs() - lastMissedReadMs.load() >= kQuietBeforeEndMs) {
    busyRunningLine.ended();
  }
}

}  // namespace

bool getRunning() {
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (!hold.obtained()) {
    lastMissedReadMs.store(platform::tickMs());
    missedRunningReads.fetch_add(1);
    return lastRunningRead.load() && !interruptFinished();
  }
  const bool running = serverStatus.running;
  reportMissedRunningReads(lastRunningRead.exchange(running));
  return running && !interruptFinished();
}

bool getAcquisitionActive() {
  bool active = false;
  underStatusMutex([&] { active = serverStatus.acquisitionActive; });
  return active;
}

bool setAcquisitionActive(bool active) {
  return underStatusMutex([&] { serverStatus.acquisitionActive = active; });
}

bool setLaserPowerOn(bool on) {
  return underStatusMutex([&] {
    serverStatus.laserPowerOn = on;
    ++serverStatus.laserRequests;
  });
}

bool getCameraConnected() {
  bool connected = false;
  underStatusMutex([&] { connected = serverStatus.cameraConnected; });
  return connected;
}

bool setCameraConnected(bool connected) {
  return underStatusMutex([&] { serverStatus.cameraConnected = connected; });
}

bool getCameraInterval(std::int32_t* interval) {
  return underStatusMutex([&] { *interval = serverStatus.cameraInterval; });
}

bool setCameraInterval(std::int32_t interval) {
  return underStatusMutex([&] { serverStatus.cameraInterval = interval; });
}

#include "core/status_access.h"

#include "core/server_state.h"

namespace {

template <typename Action>
bool underStatusMutex(Action action) {
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (!hold.obtained()) return false;
  action();
  return true;
}

}  // namespace

bool getRunning() {
  bool running = false;
  underStatusMutex([&] { running = serverStatus.running; });
  return running;
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
  return underStatusMutex([&] { serverStatus.laserPowerOn = on; });
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

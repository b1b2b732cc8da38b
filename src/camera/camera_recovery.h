// Bringing back a camera that went away while the operator still wants it
// connected (cameraConnected stays set, so triggering goes on and the shots
// wait on the camera's card with their names in the queue). The loss and
// the return are logged once each; the tries in between are silent.
//
// Camera worker thread only.
#pragma once

#include <cstdint>

class CameraHandler;

class CameraRecovery {
 public:
  using Clock = std::uint32_t (*)();

  static constexpr std::uint32_t kRetryPeriodMs = 2000;

  // clock: milliseconds from an arbitrary start (platform::tickMs unless a
  // test gives its own).
  explicit CameraRecovery(Clock clock = nullptr);

  // The camera is wanted but not open. The first call logs "<who>: Camera
  // lost; trying to open it again every 2 s." and tries at once; later calls
  // try again once 2 s have passed since the last try. When a try brings the
  // camera back, logs "<who>: Camera back after N s." and returns true.
  bool retry(CameraHandler& handler, const char* who);

  // The camera is open again without a try of ours (a connect command): the
  // return is logged as above. Nothing when no loss is under way.
  void found(const char* who);

  // The operator disconnected the camera: the tries end without a line.
  void stop() { lost_ = false; }

  bool lost() const { return lost_; }

 private:
  Clock clock_;
  bool lost_ = false;
  std::uint32_t lostAtMs_ = 0;
  std::uint32_t lastTryMs_ = 0;
};

// The shutter: triggers released, missed on request, and the shots the
// camera takes on its own.
#include <pthread.h>
#include <sched.h>

#include <cstdio>
#include <utility>

#include "rig/rig.h"

namespace rig {

Rig::PendingShot Rig::nextShot(std::chrono::steady_clock::time_point due,
                               const CameraTime& camera) {
  PendingShot shot;
  shot.frame = ++frames_;
  shot.due = due;
  shot.camera = camera;
  char number[24];
  std::snprintf(number, sizeof number, "%04llu", static_cast<unsigned long long>(shot.frame));
  shot.baseName = options_.namePrefix + number;
  return shot;
}

std::string Rig::loggedName(const PendingShot& shot) const {
  // Rendered shots are always JPEG.
  return options_.replayDir.empty() ? shot.baseName + ".JPG" : shot.baseName;
}

namespace {

// Once per thread: SCHED_FIFO where the system permits it, otherwise one
// line on standard error and the thread runs on as it was.
void raiseToRealTimeOnce() {
  thread_local bool tried = false;
  if (tried) return;
  tried = true;
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
  const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  if (error != 0)
    std::fprintf(stderr,
                 "skerrow-rig: real-time priority refused (%d); trigger bytes may be read late\n",
                 error);
}

}  // namespace

void Rig::onTriggerBytes(const std::uint8_t* data, std::size_t size) {
  // A camera's electronics take the pulse at once; a rig process starved of
  // the processor would read the byte, and so date the shot, late.
  if (options_.realtime) raiseToRealTimeOnce();
  const std::chrono::milliseconds lag(options_.lagMs);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] != 0) continue;
    const auto now = std::chrono::system_clock::now();
    const auto arrival = std::chrono::steady_clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      const std::uint64_t ordinal = ++triggers_;
      // Its time would have come after this trigger: the camera is busy
      // with this one instead.
      spuriousPending_ = false;
      // The exposure moves with the lag, as a real camera records it.
      std::chrono::milliseconds shift = faults_.drawJitter();
      if (faults_.keepsExposuresApart() && exposed_) {
        const SystemTime earliest =
            nextCameraReading(lastExposure_, options_.clockOffsetMs, /*subSeconds=*/true);
        if (now + shift < earliest) {
          shift = std::chrono::ceil<std::chrono::milliseconds>(earliest - now);
        }
      }
      const SystemTime exposure = now + shift;
      exposed_ = true;
      lastExposure_ = exposure;
      const CameraTime camera = cameraTimeAt(exposure, options_.clockOffsetMs, options_.subSeconds);
      if (faults_.misses(ordinal)) {
        log_.trigger(now, 0, "", camera);
        log_.miss(now, camera);
      } else {
        PendingShot shot = nextShot(arrival + lag + shift, camera);
        log_.trigger(now, shot.frame, loggedName(shot), camera);
        pending_.push_back(std::move(shot));
      }
      if (triggered_ && faults_.shootsAfter(ordinal)) {
        // A third of the way to the next trigger, if it comes as the last
        // did; never at a camera time this trigger's shot already has.
        const auto third = (arrival - lastArrival_) / 3;
        const SystemTime earliest =
            nextCameraReading(exposure, options_.clockOffsetMs, options_.subSeconds);
        auto later = std::chrono::steady_clock::duration::zero();
        if (now + third < earliest) {
          later = std::chrono::ceil<std::chrono::steady_clock::duration>(earliest - (now + third));
        }
        spuriousPending_ = true;
        spuriousAt_ = arrival + third + later;
      }
      triggered_ = true;
      lastArrival_ = arrival;
    }
    changed_.notify_all();
  }
}

void Rig::takeSpuriousShot() {
  spuriousPending_ = false;
  const SystemTime now = std::chrono::system_clock::now();
  // Only a host clock set back can bring it before the trigger's exposure.
  const SystemTime earliest =
      nextCameraReading(lastExposure_, options_.clockOffsetMs, options_.subSeconds);
  const SystemTime exposure = now < earliest ? earliest : now;
  exposed_ = true;
  lastExposure_ = exposure;
  const CameraTime camera = cameraTimeAt(exposure, options_.clockOffsetMs, options_.subSeconds);
  // No trigger, so no lag to spread: it reaches the card after the plain lag.
  PendingShot shot = nextShot(
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.lagMs), camera);
  log_.spurious(now, shot.frame, loggedName(shot), camera);
  pending_.push_back(std::move(shot));
}

}  // namespace rig

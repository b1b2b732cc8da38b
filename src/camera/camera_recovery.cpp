#include "camera/camera_recovery.h"

#include "camera/camera_handler.h"
#include "core/log.h"
#include "platform/clock.h"

CameraRecovery::CameraRecovery(Clock clock) : clock_(clock != nullptr ? clock : platform::tickMs) {}

bool CameraRecovery::retry(CameraHandler& handler, const char* who) {
  const std::uint32_t now = clock_();
  if (!lost_) {
    lost_ = true;
    lostAtMs_ = now;
    logprintf(currentLogStream, "%s: Camera lost; trying to open it again every %u s.\n", who,
              static_cast<unsigned>(kRetryPeriodMs / 1000));
  } else if (now - lastTryMs_ < kRetryPeriodMs) {
    return false;
  }
  lastTryMs_ = now;
  if (!handler.reopenCamera()) return false;
  found(who);
  return true;
}

void CameraRecovery::found(const char* who) {
  if (!lost_) return;
  lost_ = false;
  const std::uint32_t goneMs = clock_() - lostAtMs_;
  logprintf(currentLogStream, "%s: Camera back after %u s.\n", who,
            static_cast<unsigned>((goneMs + 500) / 1000));
}

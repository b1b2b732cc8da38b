#include "rig/camera_faults.h"

namespace rig {

CameraFaults::CameraFaults(const RigOptions& options)
    : missEvery_(options.missEvery),
      missList_(options.missList),
      spuriousEvery_(options.spuriousEvery),
      jitterMs_(options.lagJitterMs),
      state_(options.seed) {}

bool CameraFaults::misses(std::uint64_t ordinal) const {
  return (missEvery_ > 0 && ordinal % missEvery_ == 0) || missList_.count(ordinal) > 0;
}

bool CameraFaults::shootsAfter(std::uint64_t ordinal) const {
  return spuriousEvery_ > 0 && ordinal % spuriousEvery_ == 0;
}

std::chrono::milliseconds CameraFaults::drawJitter() {
  state_ += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  if (jitterMs_ <= 0) return std::chrono::milliseconds(0);
  // The modulo's bias is below one part in 2^40 for any J allowed.
  const std::uint64_t span = 2 * static_cast<std::uint64_t>(jitterMs_) + 1;
  return std::chrono::milliseconds(static_cast<std::int64_t>(z % span) - jitterMs_);
}

}  // namespace rig

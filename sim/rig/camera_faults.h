// The camera's misbehaviour on request: triggers it misses, shots it takes
// on its own, and the spread of its shutter lag. Decisions only; the rig
// applies them.
#pragma once

#include <chrono>
#include <cstdint>
#include <set>

#include "rig/rig_options.h"

namespace rig {

// Not thread-safe: the rig calls it under its own lock.
class CameraFaults {
 public:
  explicit CameraFaults(const RigOptions& options);

  // Whether the camera misses the trigger of this ordinal (from 1).
  bool misses(std::uint64_t ordinal) const;
  // Whether the camera shoots once on its own after this trigger.
  bool shootsAfter(std::uint64_t ordinal) const;
  // How far the next trigger's exposure (and so its lag) moves: uniform in
  // [-J, +J] ms, from the seeded generator. One draw per trigger, so that a
  // seed gives every trigger ordinal the same value in every run.
  std::chrono::milliseconds drawJitter();
  // Whether exposures are kept in order with distinct camera times: needed
  // once a jitter or a shot of the camera's own can bring two close.
  bool keepsExposuresApart() const { return jitterMs_ > 0 || spuriousEvery_ > 0; }

 private:
  std::uint64_t missEvery_;
  std::set<std::uint64_t> missList_;
  std::uint64_t spuriousEvery_;
  int jitterMs_;
  std::uint64_t state_;  // splitmix64: the same sequence on every platform
};

}  // namespace rig

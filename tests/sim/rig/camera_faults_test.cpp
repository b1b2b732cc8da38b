// The lag jitter: within its bounds, and the same for the same seed, so that
// a run with faults can be repeated.
#include "rig/camera_faults.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<long long> draws(std::uint64_t seed, int jitterMs, int count) {
  rig::RigOptions options;
  options.seed = seed;
  options.lagJitterMs = jitterMs;
  rig::CameraFaults faults(options);
  std::vector<long long> values;
  for (int i = 0; i < count; ++i) values.push_back(faults.drawJitter().count());
  return values;
}

TEST(CameraFaults, JitterRepeatsWithItsSeedAndCoversItsWholeRange) {
  const std::vector<long long> first = draws(7, 3, 1000);
  EXPECT_EQ(first, draws(7, 3, 1000));
  EXPECT_NE(first, draws(8, 3, 1000));
  std::vector<int> seen(7, 0);
  for (long long value : first) {
    ASSERT_GE(value, -3);
    ASSERT_LE(value, 3);
    ++seen[static_cast<std::size_t>(value + 3)];
  }
  for (int count : seen) EXPECT_GT(count, 0);
  for (long long value : draws(7, 0, 10)) EXPECT_EQ(value, 0);
}

}  // namespace

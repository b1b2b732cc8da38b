// The pairing check's cost per image: the choice among 15 queued triggers
// and its commit, on a seeded check, as the camera thread makes it once per
// downloaded image. Prints the mean in nanoseconds over many images.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "camera/pairing_check.h"

int main(int argc, char** argv) {
  const long images = argc > 1 ? std::atol(argv[1]) : 1000000;
  if (images <= 0) {
    std::fputs("usage: bench_pairing_cost [IMAGES]\n", stderr);
    return 2;
  }
  constexpr std::int64_t kStart = 1765000000000;
  constexpr std::int32_t kInterval = 200;
  camera::PairingCheck check;
  std::int64_t triggers[15];
  std::uint64_t paired = 0;
  const auto started = std::chrono::steady_clock::now();
  for (long n = 0; n < images; ++n) {
    // The image of trigger n, with the 14 after it already queued.
    for (int j = 0; j < 15; ++j) triggers[j] = kStart + (n + j) * kInterval;
    camera::ClockTime camera;
    camera.present = true;
    camera.resolutionMs = 1;
    camera.ms = triggers[0] - 3723000 + 100 + (n * 37) % 21;
    const camera::PairingChoice choice =
        check.choose(PairingMode::REPAIR, camera, triggers, 15, kInterval);
    check.commit(choice);
    paired += choice.verdict == camera::PairingVerdict::PAIRED ? 1 : 0;
  }
  const double ns =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - started).count();
  std::printf("%.1f,%llu\n", ns / static_cast<double>(images),
              static_cast<unsigned long long>(paired));
  return paired + 3 >= static_cast<std::uint64_t>(images) ? 0 : 1;
}

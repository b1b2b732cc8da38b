#include <cstdio>

#include "camera/module_callbacks.h"
#include "platform/clock.h"

std::uint32_t (*progressClock)() = platform::tickMs;
std::uint32_t lastProgressMark = 0;

namespace {

constexpr std::uint64_t PROGRESS_MARK_SPACING_MS = 500;

}  // namespace

void ProgressProc(std::uint32_t command, std::uint32_t parameter, void* reference,
                  std::uint32_t done, std::uint32_t total) {
  (void)command;
  (void)parameter;
  (void)reference;
  if (total != 0) return;
  if (done == 1) {
    const std::uint32_t now = progressClock();
    // Compared in 64 bits: near the 32-bit wrap, mark + 500 must not wrap
    // to a small value and print at every call.
    if (now < lastProgressMark ||
        std::uint64_t{now} > std::uint64_t{lastProgressMark} + PROGRESS_MARK_SPACING_MS) {
      std::fputs("c", stdout);
      std::fflush(stdout);  // no line end follows: shown only when flushed
      lastProgressMark = now;
    }
  } else if (done == 0) {
    std::fputs("o", stdout);
    std::fflush(stdout);
  }
}

#include <time.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace platform {

UtcTime utcNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const time_t seconds = now.tv_sec;
  tm parts{};
  gmtime_r(&seconds, &parts);
  return UtcTime{parts.tm_year + 1900,
                 parts.tm_mon + 1,
                 parts.tm_mday,
                 parts.tm_hour,
                 parts.tm_min,
                 parts.tm_sec,
                 static_cast<int>(now.tv_nsec / 1000000)};
}

std::uint64_t counterNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

std::uint64_t counterFrequency() { return 1000000000u; }

std::uint32_t tickMs() { return static_cast<std::uint32_t>(counterNow() / 1000000u); }

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms < 0 ? 0 : ms)); }

}  // namespace platform

// Wall clock, high-resolution counter and millisecond tick.
#pragma once

#include <cstdint>

namespace platform {

// A moment of the system clock in Coordinated Universal Time.
struct UtcTime {
  int year;         // e.g. 2014
  int month;        // 1-12
  int day;          // 1-31
  int hour;         // 0-23
  int minute;       // 0-59
  int second;       // 0-59 (a leap second may read 60 on POSIX)
  int millisecond;  // 0-999
};

// Reads the system clock once.
UtcTime utcNow();

// Monotonic high-resolution counter and its ticks per second.
std::uint64_t counterNow();
std::uint64_t counterFrequency();

// Milliseconds since an arbitrary start; wraps at 32 bits.
std::uint32_t tickMs();

// Sleeps the calling thread for at least ms milliseconds.
void sleepMs(int ms);

}  // namespace platform

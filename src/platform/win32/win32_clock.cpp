#include <windows.h>
#include <mmsystem.h>

#include "platform/clock.h"

namespace platform {

UtcTime utcNow() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return UtcTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                 now.wMinute, now.wSecond, now.wMilliseconds};
}

std::uint64_t counterNow() {
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return static_cast<std::uint64_t>(count.QuadPart);
}

std::uint64_t counterFrequency() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<std::uint64_t>(frequency.QuadPart);
}

std::uint32_t tickMs() { return timeGetTime(); }

void sleepMs(int ms) { Sleep(static_cast<DWORD>(ms < 0 ? 0 : ms)); }

}  // namespace platform

// The one-shot timer as a manual-reset waitable timer, waited on together
// with a manual-reset event that stop() sets and nothing ever resets.
#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <new>

#include "platform/timer.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace platform {
namespace {

class Win32OneShotTimer : public OneShotTimer {
 public:
  Win32OneShotTimer(HANDLE timer, HANDLE stopEvent, bool raisedResolution, const char* description)
      : timer_(timer),
        stopEvent_(stopEvent),
        raisedResolution_(raisedResolution),
        description_(description) {}
  ~Win32OneShotTimer() override {
    CloseHandle(stopEvent_);
    CloseHandle(timer_);
    if (raisedResolution_) timeEndPeriod(1);
  }
  Win32OneShotTimer(const Win32OneShotTimer&) = delete;
  Win32OneShotTimer& operator=(const Win32OneShotTimer&) = delete;

  bool arm(std::uint64_t hundredNs) override {
    constexpr std::uint64_t kLongest = 0x7fffffffffffffffULL;
    LARGE_INTEGER due;
    // Negative: relative to now, in units of 100 ns.
    due.QuadPart = -static_cast<LONGLONG>(hundredNs > kLongest ? kLongest : hundredNs);
    if (!SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
      lastError_ = GetLastError();
      return false;
    }
    return true;
  }

  WaitResult wait() override {
    // The stop event comes first, so a stop wins over a timer that fired at
    // the same moment.
    const HANDLE handles[2] = {stopEvent_, timer_};
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) return WaitResult::kStopped;
    if (result == WAIT_OBJECT_0 + 1) return WaitResult::kFired;
    lastError_ = result == WAIT_FAILED ? GetLastError() : result;
    return WaitResult::kFailed;
  }

  void stop() override { SetEvent(stopEvent_); }

  unsigned long lastError() const override { return lastError_; }
  const char* description() const override { return description_; }

 private:
  HANDLE timer_;
  HANDLE stopEvent_;
  bool raisedResolution_;
  unsigned long lastError_ = 0;
  const char* description_;
};

}  // namespace

std::unique_ptr<OneShotTimer> createOneShotTimer(unsigned long* error) {
  bool raisedResolution = false;
  const char* description = "the high-resolution waitable timer";
  HANDLE timer = CreateWaitableTimerExW(
      nullptr, nullptr, CREATE_WAITABLE_TIMER_MANUAL_RESET | CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
      TIMER_ALL_ACCESS);
  if (timer == nullptr) {
    // Systems before Windows 10 1803 refuse the high-resolution flag. A plain
    // timer fires on the scheduler's tick, 15.6 ms by default, which would
    // make the trigger spacing jitter by as much; a 1 ms tick keeps it near
    // the interval for as long as the timer lives.
    timer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
    if (timer == nullptr) {
      *error = GetLastError();
      return nullptr;
    }
    raisedResolution = timeBeginPeriod(1) == TIMERR_NOERROR;
    description = raisedResolution ? "a waitable timer with a 1 ms system tick"
                                   : "a waitable timer with the default system tick";
  }
  HANDLE stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (stopEvent == nullptr) {
    *error = GetLastError();
    CloseHandle(timer);
    if (raisedResolution) timeEndPeriod(1);
    return nullptr;
  }
  std::unique_ptr<OneShotTimer> result(
      new (std::nothrow) Win32OneShotTimer(timer, stopEvent, raisedResolution, description));
  if (result == nullptr) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    CloseHandle(stopEvent);
    CloseHandle(timer);
    if (raisedResolution) timeEndPeriod(1);
  }
  return result;
}

}  // namespace platform

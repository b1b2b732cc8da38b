// The one-shot timer as a condition variable waited on against the
// monotonic clock, so wall-clock steps neither shorten nor stretch a wait.
#include <errno.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/timer.h"

namespace platform {
namespace {

// Linux lets a sleeping thread wake up to 50 us late by default, to batch
// wake-ups; the trigger spacing is worth more than that saving. Once per
// waiting thread.
void tightenTimerSlack() {
#if defined(__linux__)
  thread_local bool tightened = false;
  if (!tightened) {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    tightened = true;
  }
#endif
}

class PosixOneShotTimer : public OneShotTimer {
 public:
  bool arm(std::uint64_t hundredNs) override {
    // Beyond about 290 years the deadline would overflow the clock; such a
    // wait is as good as endless, so it is clamped.
    constexpr std::uint64_t kLongest = std::uint64_t{1} << 62;
    const std::uint64_t nanoseconds = hundredNs > kLongest / 100 ? kLongest : hundredNs * 100;
    std::lock_guard<std::mutex> guard(state_);
    deadline_ = std::chrono::steady_clock::now() +
                std::chrono::nanoseconds(static_cast<std::int64_t>(nanoseconds));
    armed_ = true;
    return true;
  }

  WaitResult wait() override {
    tightenTimerSlack();
    std::unique_lock<std::mutex> guard(state_);
    for (;;) {
      if (stopped_) return WaitResult::kStopped;
      if (!armed_) {
        changed_.wait(guard);
      } else if (changed_.wait_until(guard, deadline_) == std::cv_status::timeout && !stopped_) {
        return WaitResult::kFired;
      }
    }
  }

  void stop() override {
    {
      std::lock_guard<std::mutex> guard(state_);
      stopped_ = true;
    }
    changed_.notify_all();
  }

  unsigned long lastError() const override { return 0; }

 private:
  std::mutex state_;
  std::condition_variable changed_;
  std::chrono::steady_clock::time_point deadline_;
  bool armed_ = false;
  bool stopped_ = false;
};

}  // namespace

std::unique_ptr<OneShotTimer> createOneShotTimer(unsigned long* error) {
  std::unique_ptr<OneShotTimer> timer(new (std::nothrow) PosixOneShotTimer());
  if (timer == nullptr) *error = ENOMEM;
  return timer;
}

}  // namespace platform

// A one-shot timer for tests: every wait returns at once as if the armed time
// had passed (and moves a FakeCounter by it), unless stop() was called; it records each arming and
// can fail arming or waiting on demand.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/timer.h"

namespace platform {

// A counter for tests that moves only when told. The fake timer moves it by
// each duration that fires, so a thread paced by the timer sees exactly the
// time it asked for. Units of 100 ns. Safe from any thread.
class FakeCounter {
 public:
  static constexpr std::uint64_t kFrequency = 10000000;

  std::uint64_t now() const { return now_.load(); }
  void advance(std::uint64_t hundredNs) { now_.fetch_add(hundredNs); }

 private:
  std::atomic<std::uint64_t> now_{1};
};

class FakeOneShotTimer : public OneShotTimer {
 public:
  // counter, when given, is advanced by the armed duration at each fired
  // wait; it must outlive the timer.
  explicit FakeOneShotTimer(FakeCounter* counter = nullptr) : counter_(counter) {}

  // From now on every arm() / wait() fails with the code (0 clears it).
  void failArm(unsigned long code);
  void failWait(unsigned long code);

  // Runs at the start of each wait, on the waiting thread: what happens
  // "during" the wait. Set it before the timer is in use.
  void setWaitHook(std::function<void()> hook) { waitHook_ = std::move(hook); }

  // The durations armed so far, in units of 100 ns.
  std::vector<std::uint64_t> armed() const;
  int waits() const;

  bool arm(std::uint64_t hundredNs) override;
  WaitResult wait() override;
  void stop() override;
  unsigned long lastError() const override;

 private:
  std::function<void()> waitHook_;
  FakeCounter* const counter_;
  mutable std::mutex lock_;
  std::uint64_t pending_ = 0;  // armed and not yet fired
  unsigned long armFailure_ = 0;
  unsigned long waitFailure_ = 0;
  std::vector<std::uint64_t> armed_;
  int waits_ = 0;
  bool stopped_ = false;
  unsigned long lastError_ = 0;
};

}  // namespace platform

// A one-shot timer for tests: every wait returns at once as if the armed time
// had passed, unless stop() was called; it records each arming and can fail
// arming or waiting on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/timer.h"

namespace platform {

class FakeOneShotTimer : public OneShotTimer {
 public:
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
  mutable std::mutex lock_;
  unsigned long armFailure_ = 0;
  unsigned long waitFailure_ = 0;
  std::vector<std::uint64_t> armed_;
  int waits_ = 0;
  bool stopped_ = false;
  unsigned long lastError_ = 0;
};

}  // namespace platform

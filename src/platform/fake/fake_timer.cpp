#include "platform/fake/fake_timer.h"

namespace platform {

void FakeOneShotTimer::failArm(unsigned long code) {
  std::lock_guard<std::mutex> guard(lock_);
  armFailure_ = code;
}

void FakeOneShotTimer::failWait(unsigned long code) {
  std::lock_guard<std::mutex> guard(lock_);
  waitFailure_ = code;
}

std::vector<std::uint64_t> FakeOneShotTimer::armed() const {
  std::lock_guard<std::mutex> guard(lock_);
  return armed_;
}

int FakeOneShotTimer::waits() const {
  std::lock_guard<std::mutex> guard(lock_);
  return waits_;
}

bool FakeOneShotTimer::arm(std::uint64_t hundredNs) {
  std::lock_guard<std::mutex> guard(lock_);
  if (armFailure_ != 0) {
    lastError_ = armFailure_;
    return false;
  }
  armed_.push_back(hundredNs);
  pending_ = hundredNs;
  return true;
}

OneShotTimer::WaitResult FakeOneShotTimer::wait() {
  if (waitHook_) waitHook_();
  std::lock_guard<std::mutex> guard(lock_);
  ++waits_;
  if (stopped_) return WaitResult::kStopped;
  if (waitFailure_ != 0) {
    lastError_ = waitFailure_;
    return WaitResult::kFailed;
  }
  if (counter_ != nullptr) counter_->advance(pending_);
  pending_ = 0;
  return WaitResult::kFired;
}

void FakeOneShotTimer::stop() {
  std::lock_guard<std::mutex> guard(lock_);
  stopped_ = true;
}

unsigned long FakeOneShotTimer::lastError() const {
  std::lock_guard<std::mutex> guard(lock_);
  return lastError_;
}

}  // namespace platform

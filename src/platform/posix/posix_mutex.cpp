// A re-entrant mutex with timed waits: std::mutex, a condition variable, the
// owner and the depth of its holds.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "platform/mutex.h"

namespace platform {
namespace {

class PosixTimedMutex : public TimedMutex {
 public:
  bool lock(int timeoutMs) override {
    std::unique_lock<std::mutex> guard(state_);
    const std::thread::id self = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == self) {
      ++depth_;
      return true;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    if (!released_.wait_until(guard, deadline, [this] { return depth_ == 0; })) return false;
    owner_ = self;
    depth_ = 1;
    return true;
  }

  bool unlock() override {
    std::lock_guard<std::mutex> guard(state_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id()) return false;
    if (--depth_ == 0) {
      owner_ = std::thread::id();
      released_.notify_one();
    }
    return true;
  }

 private:
  std::mutex state_;
  std::condition_variable released_;
  std::thread::id owner_;
  int depth_ = 0;
};

}  // namespace

std::unique_ptr<TimedMutex> createTimedMutex() {
  return std::unique_ptr<TimedMutex>(new (std::nothrow) PosixTimedMutex());
}

}  // namespace platform

// Re-entrant mutex whose every wait has a time-out.
#pragma once

#include <memory>

namespace platform {

class TimedMutex {
 public:
  virtual ~TimedMutex() = default;

  // Waits at most timeoutMs for the mutex. Returns true when the calling
  // thread now holds it; a thread that already holds it obtains it again at
  // once and must release it once more. Any other outcome (time-out, an
  // abandoned or broken mutex) returns false.
  virtual bool lock(int timeoutMs) = 0;

  // Releases one hold. Returns false, and changes nothing, when the calling
  // thread does not hold the mutex; callers may release after a failed wait.
  virtual bool unlock() = 0;
};

// Creates an unowned mutex. Returns nullptr on failure; lastSystemError()
// then tells why.
std::unique_ptr<TimedMutex> createTimedMutex();

// Holds a mutex for one scope. The release is attempted whether or not the
// wait succeeded, as every caller of the shared mutexes does.
class MutexHold {
 public:
  MutexHold(TimedMutex* mutex, int timeoutMs)
      : mutex_(mutex), obtained_(mutex != nullptr && mutex->lock(timeoutMs)) {}
  ~MutexHold() {
    if (mutex_ != nullptr) mutex_->unlock();
  }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

  bool obtained() const { return obtained_; }

 private:
  TimedMutex* mutex_;
  bool obtained_;
};

}  // namespace platform

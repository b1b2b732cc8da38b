// A one-shot relative timer whose wait a stop request also ends.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

class OneShotTimer {
 public:
  enum class WaitResult {
    kFired,    // the armed time has passed
    kStopped,  // stop() was called, before or during the wait
    kFailed,   // the wait itself failed; lastError() tells why
  };

  virtual ~OneShotTimer() = default;

  // Arms the timer to fire once, hundredNs units of 100 ns from now; an
  // earlier arming is replaced and a fired timer is reset. False on failure
  // (lastError() tells why); the timer is then not armed.
  virtual bool arm(std::uint64_t hundredNs) = 0;

  // Waits without a time-out until the armed time has passed or stop() is
  // called. A timer never armed waits for stop() alone. Called by the owning
  // thread only.
  virtual WaitResult wait() = 0;

  // Ends the current wait and every later one at once. Any thread may call
  // it, at any time, once or more.
  virtual void stop() = 0;

  // The error code of the last failed arm() or wait().
  virtual unsigned long lastError() const = 0;

  // Which of the system's timers this is, for one start-up line where the
  // system offers a choice ("the high-resolution waitable timer"); nullptr
  // where there is only one.
  virtual const char* description() const { return nullptr; }
};

// Creates an unarmed timer, high-resolution where the system offers one.
// Returns nullptr on failure and stores the error code in *error.
std::unique_ptr<OneShotTimer> createOneShotTimer(unsigned long* error);

}  // namespace platform

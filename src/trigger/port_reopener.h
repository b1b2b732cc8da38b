// Reopens lost serial ports on a thread of its own. One attempt on a remote
// port whose server is gone can take seconds (the connect, the negotiation
// and the confirmations each wait), and the trigger thread must go on firing
// and switching the lasers meanwhile.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "trigger/trigger_serial_port.h"

class PortReopener {
 public:
  // One attempt: the port opened and configured, or nullptr. firstAttempt is
  // true for the first attempt after a loss, so that only it prints why it
  // failed. Runs on the reopener's thread.
  using Attempt = std::function<std::unique_ptr<triggerSerialPort>(bool firstAttempt)>;
  static constexpr int kSlots = 2;

  explicit PortReopener(std::uint32_t everyMs);
  ~PortReopener();
  PortReopener(const PortReopener&) = delete;
  PortReopener& operator=(const PortReopener&) = delete;

  // Starts the thread, which inherits the caller's priority. False when it
  // cannot be created.
  bool start();

  // Begins reopening slot (0 or 1): an attempt at once, then one everyMs
  // after the end of the last, until one succeeds. Replaces an earlier
  // request for the slot, and drops a port reopened for it but not taken.
  void reopen(int slot, Attempt attempt);

  // The port reopened for slot, once an attempt succeeded; nullptr before.
  std::unique_ptr<triggerSerialPort> take(int slot);

  // Ends the thread once the attempt under way, if any, is over (a remote
  // port's attempt is bounded by its time-outs). Safe to call more than once.
  void stop();

 private:
  struct Slot {
    Attempt attempt;
    bool wanted = false;
    bool first = true;
    std::chrono::steady_clock::time_point due;
    std::unique_ptr<triggerSerialPort> ready;
  };

  void run();

  const std::uint32_t everyMs_;
  std::mutex lock_;
  std::condition_variable changed_;
  bool stop_ = false;
  Slot slots_[kSlots];
  std::thread thread_;
};

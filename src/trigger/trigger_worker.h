// The trigger worker: owns the trigger and laser-power ports, paces the
// triggers with a one-shot timer, queues the name and Exif time of each
// triggered image and drives the laser line. Every log line goes through
// logprintf and begins "TriggerWorkerThread():".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/repeated_line.h"
#include "platform/serial.h"
#include "platform/timer.h"
#include "trigger/port_reopener.h"
#include "trigger/trigger_serial_port.h"

// Seams of the trigger worker for tests, beyond the devices.
struct TriggerWorkerOptions {
  // The counter that times the triggers and its ticks per second; empty:
  // the platform's performance counter.
  std::function<std::uint64_t()> counter;
  std::uint64_t counterFrequency = 0;
  // A lost port is tried again this long after each failed attempt.
  std::uint32_t reopenEveryMs = 2000;
  // An open port is asked whether its device is still there this often.
  std::uint32_t checkEveryMs = 1000;
};

class TriggerWorker {
 public:
  // Makes the line for a configured port name (nullptr: the port fails to
  // open); makes the timer, or returns nullptr with the error code stored.
  // The line factory is also called from the thread that reopens lost ports.
  using LineFactory = std::function<std::unique_ptr<platform::SerialLine>(const char* portName)>;
  using TimerFactory = std::function<std::unique_ptr<platform::OneShotTimer>(unsigned long* error)>;

  using Options = TriggerWorkerOptions;

  // The platform's serial lines, timer and counter.
  TriggerWorker();
  TriggerWorker(LineFactory makeLine, TimerFactory makeTimer, Options options = Options());
  // Joins a thread still running; wake() first, or this waits for it.
  ~TriggerWorker();
  TriggerWorker(const TriggerWorker&) = delete;
  TriggerWorker& operator=(const TriggerWorker&) = delete;

  // Thread start: zeroes triggerCount, opens and configures both ports
  // (clearing running when either fails), lowers the lasers, starts the
  // thread that reopens lost ports and creates the timer. False when the
  // thread must end at once (no timer). Needs statusMutex and
  // imageNameQueue to exist.
  bool start();

  // One pass of the thread's loop. False when the thread must end: running
  // was read false (the trigger port is then closed) or the timer could not
  // be armed.
  bool runPass();

  // start(), the highest priority the system grants, then passes until one
  // returns false.
  void run();

  // Runs run() on a new thread. False when the thread cannot be created.
  bool startThread();
  // Waits without a time-out for the thread; returns at once if none runs.
  void join();

  // Ends the current timer wait, and every later one, at once. For shutdown:
  // call it after running has fallen. Safe from any thread, at any time.
  void wake();

  // The ports, for inspection on the worker's thread once start() has run;
  // owned by the worker. nullptr while a lost port is being reopened: a
  // reopened port is a new object.
  triggerSerialPort* triggerPort() const { return ports_[kTriggerLine].get(); }
  triggerSerialPort* laserPort() const { return ports_[kLaserLine].get(); }

 private:
  enum LineIndex { kTriggerLine, kLaserLine, kLineCount };
  enum class LaserLine { kLowered, kRaised };
  enum class WaitEnd { kDue, kCancelled, kEndThread };

  struct PortSettings {
    std::string name;
    std::int32_t baudRate = 0;
    std::uint16_t bits = 0;
    char parity = 0;
    std::uint16_t stop = 0;
    const char* what = "";  // "Trigger", "Laser power"
  };
  struct LineState {
    bool lost = false;
    std::uint32_t lostAtMs = 0;   // tick of the loss
    std::uint32_t checkedMs = 0;  // tick of the last check
  };

  // At thread start: logs the outcome and stops the server on a failure.
  std::unique_ptr<triggerSerialPort> openPort(const PortSettings& settings);
  // On the reopener's thread: the port opened and configured, or nullptr.
  std::unique_ptr<triggerSerialPort> reopenPort(const PortSettings& settings, bool report) const;
  bool configure(triggerSerialPort* port, const PortSettings& settings) const;
  // Takes reopened ports and checks the open ones now and then.
  void serviceLines();
  void loseLine(int line);
  void driveLasers();
  // Reads the interval for this pass and updates the due time.
  void readInterval();
  WaitEnd waitUntilDue();
  // Steps after the timer fired: measure, name, queue and send.
  void trigger();
  std::uint64_t counter() const;

  LineFactory makeLine_;
  TimerFactory makeTimer_;
  Options options_;
  PortSettings settings_[kLineCount];
  std::unique_ptr<triggerSerialPort> ports_[kLineCount];
  LineState lines_[kLineCount];
  PortReopener reopener_;

  std::uint64_t counterFrequency_ = 0;
  std::uint64_t now_ = 0;
  std::uint64_t lastTrigger_ = 0;
  std::int32_t interval_ = 1000;
  std::int64_t dueTime_ = -10000000;  // units of 100 ns, negative: relative
  LaserLine laserLine_ = LaserLine::kLowered;
  bool laserWanted_ = false;         // laserPowerOn as last read
  std::uint32_t laserRequests_ = 0;  // laserRequests as last read
  bool waitingForCamera_ = false;    // acquisition on, camera not connected

  // Faults that last: a laser line that keeps refusing a state, a queue
  // that stays full while the camera delivers nothing, a failing timer
  // wait. Each is written once, then summed up at most once a minute.
  RepeatedLine laserFailureLine_;
  RepeatedLine queueFullLine_;
  RepeatedLine waitFailureLine_;

  // Guards the timer pointer against wake() from another thread.
  std::mutex timerLock_;
  std::unique_ptr<platform::OneShotTimer> timer_;
  bool woken_ = false;

  std::thread thread_;
};

// The trigger thread of the server, started by start-up with no argument:
// runs the process-wide worker that startTriggerWorker() made.
void TriggerWorkerThread();

// Creates the process-wide worker on the platform's lines and timer and
// starts TriggerWorkerThread. False when the thread cannot be created.
bool startTriggerWorker();

// Ends the trigger thread's timer wait at once; call after running fell.
void wakeTriggerWorker();

// Waits without a time-out for the trigger thread to end; does nothing when
// it was never started.
void joinTriggerWorker();

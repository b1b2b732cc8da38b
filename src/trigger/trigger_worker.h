// The trigger worker: owns the trigger and laser-power ports, paces the
// triggers with a one-shot timer, queues the name and Exif time of each
// triggered image and drives the laser line. Every log line goes through
// logprintf and begins "TriggerWorkerThread():".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "core/repeated_line.h"
#include "platform/serial.h"
#include "platform/timer.h"
#include "trigger/trigger_serial_port.h"

class TriggerWorker {
 public:
  // Makes the line for a configured port name (nullptr: the port fails to
  // open); makes the timer, or returns nullptr with the error code stored.
  using LineFactory = std::function<std::unique_ptr<platform::SerialLine>(const char* portName)>;
  using TimerFactory = std::function<std::unique_ptr<platform::OneShotTimer>(unsigned long* error)>;

  // The platform's serial lines and timer.
  TriggerWorker();
  TriggerWorker(LineFactory makeLine, TimerFactory makeTimer);
  // Joins a thread still running; wake() first, or this waits for it.
  ~TriggerWorker();
  TriggerWorker(const TriggerWorker&) = delete;
  TriggerWorker& operator=(const TriggerWorker&) = delete;

  // Thread start: zeroes triggerCount, opens and configures both ports
  // (clearing running when either fails), lowers the lasers and creates the
  // timer. False when the thread must end at once (no timer). Needs
  // statusMutex and imageNameQueue to exist.
  bool start();

  // One pass of the thread's loop. False when the thread must end: running
  // was read false (the trigger port is then closed) or the timer could not
  // be armed.
  bool runPass();

  // start(), then passes until one returns false.
  void run();

  // Runs run() on a new thread. False when the thread cannot be created.
  bool startThread();
  // Waits without a time-out for the thread; returns at once if none runs.
  void join();

  // Ends the current timer wait, and every later one, at once. For shutdown:
  // call it after running has fallen. Safe from any thread, at any time.
  void wake();

  // The ports, for inspection once start() has run; owned by the worker and
  // open until it is destroyed.
  triggerSerialPort* triggerPort() const { return triggerPort_.get(); }
  triggerSerialPort* laserPort() const { return laserPort_.get(); }

 private:
  enum class LaserLine { kLowered, kRaised };

  std::unique_ptr<triggerSerialPort> openPort(const char* name, std::int32_t baudRate,
                                              std::uint16_t bits, const char* parity,
                                              std::uint16_t stop, const char* what);
  void driveLasers();
  // Reads the interval for this pass and updates the due time.
  void readInterval();
  // Steps after the timer fired: measure, name, queue and send.
  void trigger();

  LineFactory makeLine_;
  TimerFactory makeTimer_;
  std::unique_ptr<triggerSerialPort> triggerPort_;
  std::unique_ptr<triggerSerialPort> laserPort_;

  std::uint64_t counterFrequency_ = 0;
  std::uint64_t now_ = 0;
  std::uint64_t lastTrigger_ = 0;
  std::int32_t interval_ = 1000;
  std::int64_t dueTime_ = -10000000;  // units of 100 ns, negative: relative
  LaserLine laserLine_ = LaserLine::kLowered;

  // Faults that last: a laser line that keeps refusing a state, a queue
  // that stays full while the camera delivers nothing. Each is written once,
  // then summed up at most once a minute.
  RepeatedLine laserFailureLine_;
  int laserFailureState_ = -1;  // the state the current laser fault is about
  RepeatedLine queueFullLine_;

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

#include "trigger/trigger_worker.h"

#include <cstdio>
#include <exception>
#include <new>
#include <system_error>

#include "channel/image_name_queue.h"
#include "core/log.h"
#include "core/server_state.h"
#include "core/status_access.h"
#include "platform/clock.h"
#include "platform/mutex.h"

namespace {

const char* const kWho = "TriggerWorkerThread()";

// Idle passes, while acquisition is off or the camera is not connected.
constexpr int kIdlePassMs = 100;

// The name buffers here and in the camera thread hold 127 characters.
constexpr int kNameSize = 128;

// Asks the whole server to stop.
void stopServer() {
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (hold.obtained()) serverStatus.running = false;
}

// Whole milliseconds from start to end, truncated, without the overflow of
// multiplying a long span by 1000 first.
std::int64_t elapsedMs(std::uint64_t start, std::uint64_t end, std::uint64_t frequency) {
  if (frequency == 0) return 0;
  const std::uint64_t ticks = end - start;
  return static_cast<std::int64_t>(ticks / frequency * 1000 + ticks % frequency * 1000 / frequency);
}

}  // namespace

TriggerWorker::TriggerWorker()
    : TriggerWorker([](const char* name) { return platform::createSerialLine(name); },
                    [](unsigned long* error) { return platform::createOneShotTimer(error); }) {}

TriggerWorker::TriggerWorker(LineFactory makeLine, TimerFactory makeTimer)
    : makeLine_(std::move(makeLine)), makeTimer_(std::move(makeTimer)) {}

TriggerWorker::~TriggerWorker() { join(); }

bool TriggerWorker::start() {
  counterFrequency_ = platform::counterFrequency();
  now_ = platform::counterNow();
  lastTrigger_ = platform::counterNow();
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    if (hold.obtained()) serverStatus.triggerCount = 0;
  }
  triggerPort_ = openPort(serverSettings.triggerPortName, serverSettings.triggerBaudRate,
                          serverSettings.triggerBits, serverSettings.triggerParity,
                          serverSettings.triggerStop, "Trigger");
  laserPort_ =
      openPort(serverSettings.laserPortName, serverSettings.laserBaudRate, serverSettings.laserBits,
               serverSettings.laserParity, serverSettings.laserStop, "Laser power");
  // The lasers are off whenever the thread starts.
  if (laserPort_ != nullptr) laserPort_->setRTS(false);
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    if (hold.obtained()) serverStatus.laserPowerOn = false;
  }
  laserLine_ = LaserLine::kLowered;

  unsigned long error = 0;
  std::unique_ptr<platform::OneShotTimer> timer = makeTimer_(&error);
  if (timer == nullptr) {
    logprintf(currentLogStream, "%s: CreateWaitableTimer Failed (%d)\n", kWho,
              static_cast<int>(error));
    return false;
  }
  std::lock_guard<std::mutex> guard(timerLock_);
  timer_ = std::move(timer);
  if (woken_) timer_->stop();
  return true;
}

std::unique_ptr<triggerSerialPort> TriggerWorker::openPort(const char* name, std::int32_t baudRate,
                                                           std::uint16_t bits, const char* parity,
                                                           std::uint16_t stop, const char* what) {
  std::unique_ptr<triggerSerialPort> port(new (std::nothrow)
                                              triggerSerialPort(name, makeLine_(name)));
  bool ready = true;
  if (port == nullptr || !port->isOpen) {
    logprintf(currentLogStream, "%s: ERROR Cannot open serial port %s\n", kWho, name);
    stopServer();
    ready = false;
  }
  if (port == nullptr ||
      !port->changePortSettings(baudRate, static_cast<std::uint8_t>(bits & 0xFF), parity[0],
                                static_cast<std::uint8_t>(stop & 0xFF))) {
    logprintf(currentLogStream, "%s: ERROR Cannot set serial port parameters.\n", kWho);
    stopServer();
    ready = false;
  }
  if (ready) {
    const char parityText[2] = {parity[0], '\0'};
    logprintf(currentLogStream, "%s: %s serial port configured and open, %s %i kbps %i%s%i \n",
              kWho, what, name, static_cast<int>(baudRate), static_cast<int>(bits), parityText,
              static_cast<int>(stop));
  }
  return port;
}

bool TriggerWorker::runPass() {
  if (!getRunning()) {
    // The lasers go off with the server: a device server behind an
    // rfc2217:// name need not lower RTS when the connection drops, and
    // nobody is left to switch them off by command.
    if (laserLine_ == LaserLine::kRaised) {
      const bool lowered = laserPort_ != nullptr && laserPort_->setRTS(false);
      logprintf(currentLogStream,
                lowered ? "%s: Changed state of laser power to %d.\n"
                        : "%s: ERROR failed to change state of laser power to %d.\n",
                kWho, 0);
      if (lowered) laserLine_ = LaserLine::kLowered;
    }
    if (triggerPort_ != nullptr) triggerPort_->closeSerialPort();
    logprintf(currentLogStream, "%s: Thread Execution Complete.\n", kWho);
    return false;
  }
  driveLasers();
  if (!getAcquisitionActive() || !getCameraConnected()) {
    platform::sleepMs(kIdlePassMs);
    return true;
  }
  readInterval();
  if (timer_ == nullptr) return false;
  if (!timer_->arm(static_cast<std::uint64_t>(-dueTime_))) {
    logprintf(currentLogStream, "%s: ERROR SetWaitableTimer Failed (%d)\n", kWho,
              static_cast<int>(timer_->lastError()));
    return false;
  }
  switch (timer_->wait()) {
    case platform::OneShotTimer::WaitResult::kFired:
      break;
    case platform::OneShotTimer::WaitResult::kStopped:
      // Shutdown: the next pass reads running and ends.
      return true;
    case platform::OneShotTimer::WaitResult::kFailed:
      logprintf(currentLogStream, "%s: ERROR WaitForSingleObject Failed (%d)\n", kWho,
                static_cast<int>(timer_->lastError()));
      break;
  }
  // Acquisition switched off during the wait, or the server stopping: no
  // trigger and no name.
  if (!getAcquisitionActive() || !getRunning()) return true;
  trigger();
  return true;
}

void TriggerWorker::driveLasers() {
  bool wanted = false;
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    // A flag that cannot be read leaves the line as it is: taking it as
    // false would switch the lasers off and on again around a busy mutex.
    if (!hold.obtained()) return;
    wanted = serverStatus.laserPowerOn;
  }
  // Raising is repeated every pass, so a line that dropped (a device
  // restarted) comes back; lowering happens once, as soon as the flag falls.
  // A change line is written when the line's state changes; failures are
  // summed up, so an idle server does not repeat a line ten times a second.
  if (!wanted && laserLine_ == LaserLine::kLowered) return;
  const int state = wanted ? 1 : 0;
  if (laserPort_ != nullptr && laserPort_->setRTS(wanted)) {
    laserFailureLine_.ended();
    const LaserLine now = wanted ? LaserLine::kRaised : LaserLine::kLowered;
    if (now != laserLine_) {
      logprintf(currentLogStream, "%s: Changed state of laser power to %d.\n", kWho, state);
    }
    laserLine_ = now;
    return;
  }
  // A failure towards the other state is a new fault: the operator must see
  // at once that switching off failed too.
  if (laserFailureState_ != state) laserFailureLine_.ended();
  laserFailureState_ = state;
  laserFailureLine_.occurred("%s: ERROR failed to change state of laser power to %d.\n", kWho,
                             state);
}

void TriggerWorker::readInterval() {
  std::int32_t interval = 0;
  // Not obtained: the interval of the previous pass stays in force. Before
  // any was read that is 1000 ms, the configured default, and so is the due
  // time until the first non-zero interval.
  if (getCameraInterval(&interval)) interval_ = interval;
  if (interval_ != 0) {
    // Taken as unsigned: -1 is 4294967295 ms, about 49.7 days.
    dueTime_ = static_cast<std::int64_t>(static_cast<std::uint32_t>(interval_)) * -10000000 / 1000;
  }
}

void TriggerWorker::trigger() {
  // QueryPerformanceCounter cannot fail on any Windows this runs on, and the
  // monotonic clock cannot fail on POSIX, so the seam offers no failure.
  now_ = platform::counterNow();
  logprintf(currentLogStream, "%s: Sending Trigger after %6.0f ms.\n", kWho,
            static_cast<double>(elapsedMs(lastTrigger_, now_, counterFrequency_)));

  // One clock reading for the name, the Exif date-time and the milliseconds.
  const platform::UtcTime time = platform::utcNow();
  char datePart[kNameSize];
  char exifDate[kNameSize];
  char subSec[kNameSize];
  std::snprintf(datePart, sizeof datePart, "VARNO_%04d%02d%02d_%02d.%02d.%02d.%03d", time.year,
                time.month, time.day, time.hour, time.minute, time.second, time.millisecond);
  std::snprintf(exifDate, sizeof exifDate, "%04d:%02d:%02d %02d:%02d:%02d", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  std::snprintf(subSec, sizeof subSec, "%03d", time.millisecond);

  // The prefix is read, the name queued and the byte sent under one hold, so
  // the camera thread never sees an image whose name is not yet queued.
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (!hold.obtained()) {
    logprintf(currentLogStream, "%s: Error getting status mutex\n", kWho);
    return;
  }
  if (!serverStatus.running) return;
  char baseName[kNameSize + kPrefixSize];
  const int length =
      std::snprintf(baseName, sizeof baseName, "%.*s%s", static_cast<int>(kPrefixSize - 1),
                    serverStatus.cameraFilePrefix, datePart);
  // A name that does not fit the 128-byte name buffers is refused: cut, it
  // would lose the time that tells images apart.
  if (length < 0 || length > kNameSize - 1) {
    logprintf(currentLogStream,
              "%s: ERROR Image name of %d characters is longer than %d, no trigger sent.\n", kWho,
              length, kNameSize - 1);
    return;
  }
  // The name is logged once it is queued: while the queue stays full its
  // line is written only now and then, and a pass that logged no name is
  // then still known to have sent no trigger.
  if (!imageNameQueue->pushImageName(baseName, length, exifDate, subSec)) {
    queueFullLine_.occurred("%s: ERROR Cannot Enqueue filename. Queue is full.\n", kWho);
    return;
  }
  queueFullLine_.ended();
  logprintf(currentLogStream, "%s: Next File: %s.jpg\n", kWho, baseName);
  if (triggerPort_ == nullptr || !triggerPort_->sendTrigger()) {
    // The next image must not take this name: it belongs to no image.
    imageNameQueue->withdrawNewest();
    logprintf(currentLogStream, "%s: ERROR Trigger not sent, image name withdrawn.\n", kWho);
    return;
  }
  lastTrigger_ = platform::counterNow();
  ++serverStatus.triggerCount;
}

void TriggerWorker::run() {
  if (!start()) return;
  while (runPass()) {
  }
}

bool TriggerWorker::startThread() {
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void TriggerWorker::join() {
  if (thread_.joinable()) thread_.join();
}

void TriggerWorker::wake() {
  std::lock_guard<std::mutex> guard(timerLock_);
  woken_ = true;
  if (timer_ != nullptr) timer_->stop();
}

namespace {

// Made once by startTriggerWorker and never destroyed: the laser port and the
// timer stay open until the process ends.
TriggerWorker* serverWorker = nullptr;
std::thread* serverThread = nullptr;

}  // namespace

void TriggerWorkerThread() {
  if (serverWorker != nullptr) serverWorker->run();
}

bool startTriggerWorker() {
  if (serverThread != nullptr) return false;
  if (serverWorker == nullptr) serverWorker = new (std::nothrow) TriggerWorker();
  if (serverWorker == nullptr) return false;
  try {
    serverThread = new std::thread(TriggerWorkerThread);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void wakeTriggerWorker() {
  if (serverWorker != nullptr) serverWorker->wake();
}

void joinTriggerWorker() {
  if (serverThread != nullptr && serverThread->joinable()) serverThread->join();
}

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
#include "platform/thread_priority.h"

namespace {

const char* const kWho = "TriggerWorkerThread()";

// Idle passes, while acquisition is off or the camera is not connected.
constexpr int kIdlePassMs = 100;

// The name buffers here and in the camera thread hold 127 characters.
constexpr int kNameSize = 128;

// The longest stretch of a timer wait, in units of 100 ns. Between stretches
// the thread rereads the acquisition flag and the interval, so that
// acquisition switched off, or a mistaken interval corrected, takes effect
// at once rather than after the wait.
constexpr std::uint64_t kStretch = 5 * 10000;
// Every this many stretches (100 ms) the lasers and the ports are seen to
// during a wait too, as an idle pass does.
constexpr int kStretchesPerService = 20;

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

// Units of 100 ns from start to end, without overflow for long spans.
std::uint64_t hundredNsBetween(std::uint64_t start, std::uint64_t end, std::uint64_t frequency) {
  if (frequency == 0) return 0;
  const std::uint64_t ticks = end - start;
  return ticks / frequency * 10000000 + ticks % frequency * 10000000 / frequency;
}

}  // namespace

TriggerWorker::TriggerWorker()
    : TriggerWorker([](const char* name) { return platform::createSerialLine(name); },
                    [](unsigned long* error) { return platform::createOneShotTimer(error); }) {}

TriggerWorker::TriggerWorker(LineFactory makeLine, TimerFactory makeTimer, Options options)
    : makeLine_(std::move(makeLine)),
      makeTimer_(std::move(makeTimer)),
      options_(std::move(options)),
      reopener_(options_.reopenEveryMs) {}

TriggerWorker::~TriggerWorker() {
  join();
  reopener_.stop();
}

std::uint64_t TriggerWorker::counter() const {
  return options_.counter ? options_.counter() : platform::counterNow();
}

bool TriggerWorker::start() {
  counterFrequency_ = options_.counter ? options_.counterFrequency : platform::counterFrequency();
  now_ = counter();
  lastTrigger_ = counter();
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    if (hold.obtained()) serverStatus.triggerCount = 0;
  }
  settings_[kTriggerLine] = {serverSettings.triggerPortName, serverSettings.triggerBaudRate,
                             serverSettings.triggerBits,     serverSettings.triggerParity[0],
                             serverSettings.triggerStop,     "Trigger"};
  settings_[kLaserLine] = {serverSettings.laserPortName, serverSettings.laserBaudRate,
                           serverSettings.laserBits,     serverSettings.laserParity[0],
                           serverSettings.laserStop,     "Laser power"};
  for (int line = 0; line < kLineCount; ++line) {
    ports_[line] = openPort(settings_[line]);
    lines_[line] = LineState();
    lines_[line].checkedMs = platform::tickMs();
  }
  // The lasers are off whenever the thread starts.
  if (ports_[kLaserLine] != nullptr) ports_[kLaserLine]->setRTS(false);
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    if (hold.obtained()) serverStatus.laserPowerOn = false;
  }
  laserLine_ = LaserLine::kLowered;
  laserWanted_ = false;

  // Started here, before the thread's priority is raised: reopening is no
  // more urgent than the rest of the server.
  if (!reopener_.start()) {
    logprintf(currentLogStream,
              "%s: ERROR Cannot start the thread that reopens lost serial ports.\n", kWho);
  }

  unsigned long error = 0;
  std::unique_ptr<platform::OneShotTimer> timer = makeTimer_(&error);
  if (timer == nullptr) {
    logprintf(currentLogStream, "%s: CreateWaitableTimer Failed (%d)\n", kWho,
              static_cast<int>(error));
    return false;
  }
  // Said once where the system offers a choice: a trigger spacing that
  // jitters by the scheduler's tick is then explained by this line.
  if (timer->description() != nullptr)
    logprintf(currentLogStream, "%s: Using %s.\n", kWho, timer->description());
  std::lock_guard<std::mutex> guard(timerLock_);
  timer_ = std::move(timer);
  if (woken_) timer_->stop();
  return true;
}

bool TriggerWorker::configure(triggerSerialPort* port, const PortSettings& settings) const {
  return port->changePortSettings(settings.baudRate,
                                  static_cast<std::uint8_t>(settings.bits & 0xFF), settings.parity,
                                  static_cast<std::uint8_t>(settings.stop & 0xFF));
}

std::unique_ptr<triggerSerialPort> TriggerWorker::openPort(const PortSettings& settings) {
  const char* name = settings.name.c_str();
  std::unique_ptr<triggerSerialPort> port(new (std::nothrow)
                                              triggerSerialPort(name, makeLine_(name)));
  bool ready = true;
  if (port == nullptr || !port->isOpen) {
    logprintf(currentLogStream, "%s: ERROR Cannot open serial port %s\n", kWho, name);
    stopServer();
    ready = false;
  }
  if (port == nullptr || !configure(port.get(), settings)) {
    logprintf(currentLogStream, "%s: ERROR Cannot set serial port parameters.\n", kWho);
    stopServer();
    ready = false;
  }
  if (ready) {
    const char parityText[2] = {settings.parity, '\0'};
    logprintf(currentLogStream, "%s: %s serial port configured and open, %s %i kbps %i%s%i \n",
              kWho, settings.what, name, static_cast<int>(settings.baudRate),
              static_cast<int>(settings.bits), parityText, static_cast<int>(settings.stop));
  }
  return port;
}

std::unique_ptr<triggerSerialPort> TriggerWorker::reopenPort(const PortSettings& settings,
                                                             bool report) const {
  const char* name = settings.name.c_str();
  // Only the first attempt after a loss prints why it failed: the port's
  // own lines would otherwise repeat every few seconds for as long as the
  // device is away.
  std::unique_ptr<triggerSerialPort> port(
      new (std::nothrow) triggerSerialPort(name, makeLine_(name), report ? stderr : nullptr));
  if (port == nullptr || !port->isOpen || !configure(port.get(), settings)) return nullptr;
  return port;
}

void TriggerWorker::serviceLines() {
  const std::uint32_t now = platform::tickMs();
  for (int line = 0; line < kLineCount; ++line) {
    LineState& state = lines_[line];
    if (state.lost) {
      std::unique_ptr<triggerSerialPort> port = reopener_.take(line);
      if (port == nullptr) continue;
      ports_[line] = std::move(port);
      state.lost = false;
      state.checkedMs = now;
      logprintf(currentLogStream, "%s: %s serial port back after %lu s.\n", kWho,
                settings_[line].what,
                static_cast<unsigned long>((now - state.lostAtMs + 500) / 1000));
      // A reopened laser port starts with RTS lowered; driveLasers raises it
      // again when the lasers should be on.
      if (line == kLaserLine) laserLine_ = LaserLine::kLowered;
      continue;
    }
    triggerSerialPort* port = ports_[line].get();
    if (port == nullptr) continue;
    // A port a failure closed is lost at once; an open one is asked now and
    // then, so that a device pulled while nothing is sent shows too.
    if (port->isOpen && now - state.checkedMs < options_.checkEveryMs) continue;
    state.checkedMs = now;
    if (!port->checkLine()) loseLine(line);
  }
}

void TriggerWorker::loseLine(int line) {
  LineState& state = lines_[line];
  if (state.lost) return;
  if (ports_[line] != nullptr) ports_[line]->closeSerialPort();
  ports_[line].reset();
  state.lost = true;
  state.lostAtMs = platform::tickMs();
  if (line == kLaserLine) laserFailureLine_.ended();
  logprintf(currentLogStream, "%s: ERROR %s serial port lost; reopening it every %g s.\n", kWho,
            settings_[line].what, options_.reopenEveryMs / 1000.0);
  const PortSettings settings = settings_[line];
  reopener_.reopen(line, [this, settings](bool first) { return reopenPort(settings, first); });
}

bool TriggerWorker::runPass() {
  if (!getRunning()) {
    // The lasers go off with the server: a device server behind an
    // rfc2217:// name need not lower RTS when the connection drops, and
    // nobody is left to switch them off by command.
    triggerSerialPort* laser = ports_[kLaserLine].get();
    if (laserLine_ == LaserLine::kRaised && laser != nullptr) {
      const bool lowered = laser->setRTS(false);
      logprintf(currentLogStream,
                lowered ? "%s: Changed state of laser power to %d.\n"
                        : "%s: ERROR failed to change state of laser power to %d.\n",
                kWho, 0);
      if (lowered) laserLine_ = LaserLine::kLowered;
    }
    if (ports_[kTriggerLine] != nullptr) ports_[kTriggerLine]->closeSerialPort();
    reopener_.stop();
    logprintf(currentLogStream, "%s: Thread Execution Complete.\n", kWho);
    return false;
  }
  serviceLines();
  driveLasers();
  // While the trigger port is being reopened nothing is sent and no name
  // is queued.
  const bool acquiring = getAcquisitionActive();
  const bool cameraReady = acquiring && getCameraConnected();
  // Acquisition on without a camera sends nothing; said once a wait, so an
  // operator who switched it on learns why no images come.
  if (acquiring && !cameraReady && !waitingForCamera_) {
    logprintf(currentLogStream,
              "%s: Acquisition on, but the camera is not connected; triggering waits for it.\n",
              kWho);
  } else if (cameraReady && waitingForCamera_) {
    logprintf(currentLogStream, "%s: Camera connected; triggering starts.\n", kWho);
  }
  waitingForCamera_ = acquiring && !cameraReady;
  if (lines_[kTriggerLine].lost || !cameraReady) {
    platform::sleepMs(kIdlePassMs);
    return true;
  }
  readInterval();
  if (timer_ == nullptr) return false;
  switch (waitUntilDue()) {
    case WaitEnd::kDue:
      break;
    case WaitEnd::kCancelled:
      return true;
    case WaitEnd::kEndThread:
      return false;
  }
  // Acquisition switched off at the end of the wait, or the server
  // stopping: no trigger and no name.
  if (!getAcquisitionActive() || !getRunning()) return true;
  trigger();
  // A failed send closed the port.
  if (ports_[kTriggerLine] != nullptr && !ports_[kTriggerLine]->isOpen) loseLine(kTriggerLine);
  return true;
}

TriggerWorker::WaitEnd TriggerWorker::waitUntilDue() {
  // The deadline is kept on the counter, so the checks between stretches
  // do not delay the trigger.
  std::uint64_t start = counter();
  std::uint64_t length = static_cast<std::uint64_t>(-dueTime_);
  for (int stretch = 1;; ++stretch) {
    const std::uint64_t elapsed = hundredNsBetween(start, counter(), counterFrequency_);
    if (elapsed >= length) return WaitEnd::kDue;
    const std::uint64_t remaining = length - elapsed;
    const bool last = remaining <= kStretch;
    if (!timer_->arm(last ? remaining : kStretch)) {
      logprintf(currentLogStream, "%s: ERROR SetWaitableTimer Failed (%d)\n", kWho,
                static_cast<int>(timer_->lastError()));
      return WaitEnd::kEndThread;
    }
    switch (timer_->wait()) {
      case platform::OneShotTimer::WaitResult::kFired:
        waitFailureLine_.ended();
        break;
      case platform::OneShotTimer::WaitResult::kStopped:
        // Shutdown: the next pass reads running and ends.
        return WaitEnd::kCancelled;
      case platform::OneShotTimer::WaitResult::kFailed:
        // The pass goes on to its trigger.
        waitFailureLine_.occurred("%s: ERROR WaitForSingleObject Failed (%d)\n", kWho,
                                  static_cast<int>(timer_->lastError()));
        return WaitEnd::kDue;
    }
    if (last) return WaitEnd::kDue;
    if (!getAcquisitionActive() || !getRunning()) return WaitEnd::kCancelled;
    std::int32_t interval = 0;
    if (getCameraInterval(&interval) && interval != 0 && interval != interval_) {
      // The next trigger is timed from the change.
      interval_ = interval;
      readInterval();
      start = counter();
      length = static_cast<std::uint64_t>(-dueTime_);
    }
    if (stretch % kStretchesPerService == 0) {
      serviceLines();
      driveLasers();
      if (lines_[kTriggerLine].lost) return WaitEnd::kCancelled;
    }
  }
}

void TriggerWorker::driveLasers() {
  bool wanted = false;
  std::uint32_t requests = 0;
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    // A flag that cannot be read leaves the line as it is: taking it as
    // false would switch the lasers off and on again around a busy mutex.
    if (!hold.obtained()) return;
    wanted = serverStatus.laserPowerOn;
    requests = serverStatus.laserRequests;
  }
  // A new request by command, even one that repeats the state asked for, is
  // a new matter: a failure that goes on is written whole again instead of
  // only being counted.
  if (wanted != laserWanted_ || requests != laserRequests_) {
    laserFailureLine_.ended();
    laserWanted_ = wanted;
    laserRequests_ = requests;
  }
  // Raising is repeated every pass, so a line that dropped (a device
  // restarted) comes back; lowering happens once, as soon as the flag falls.
  // A change line is written when the line's state changes; failures are
  // summed up, so an idle server does not repeat a line ten times a second.
  if (!wanted && laserLine_ == LaserLine::kLowered) return;
  if (lines_[kLaserLine].lost) return;
  triggerSerialPort* port = ports_[kLaserLine].get();
  const int state = wanted ? 1 : 0;
  if (port != nullptr && port->setRTS(wanted)) {
    laserFailureLine_.ended();
    const LaserLine now = wanted ? LaserLine::kRaised : LaserLine::kLowered;
    if (now != laserLine_) {
      logprintf(currentLogStream, "%s: Changed state of laser power to %d.\n", kWho, state);
    }
    laserLine_ = now;
    return;
  }
  // A port whose device is gone is reopened rather than asked again; one
  // that merely refuses RTS (a line without modem control) is retried.
  if (port != nullptr && !port->checkLine()) {
    loseLine(kLaserLine);
    return;
  }
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
  now_ = counter();
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
  triggerSerialPort* port = ports_[kTriggerLine].get();
  if (port == nullptr || !port->sendTrigger()) {
    // The next image must not take this name: it belongs to no image.
    imageNameQueue->withdrawNewest();
    logprintf(currentLogStream, "%s: ERROR Trigger not sent, image name withdrawn.\n", kWho);
    return;
  }
  lastTrigger_ = counter();
  ++serverStatus.triggerCount;
}

void TriggerWorker::run() {
  if (!start()) {
    reopener_.stop();
    return;
  }
  // After start(): the ports are opened, and the reopener started, at the
  // priority the server was given.
  unsigned long error = 0;
  if (!platform::raiseThreadPriority(&error)) {
    logprintf(currentLogStream,
              "%s: Thread priority left as it was (system code %lu); triggers may come late "
              "while the machine is busy.\n",
              kWho, error);
  }
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

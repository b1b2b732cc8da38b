// Passes of the trigger worker, run one at a time on the test's thread with
// fake serial lines and a fake timer that fires at once.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "channel/image_name_queue.h"
#include "core/image_names.h"
#include "core/server_state.h"
#include "core/status_access.h"
#include "jpeg/exif_timestamp.h"
#include "platform/fake/fake_serial_line.h"
#include "platform/fake/fake_timer.h"
#include "support/core_fixture.h"
#include "trigger/trigger_worker.h"

namespace {

using platform::FakeSerialLine;

const char* const kTrigger = "TRIG";
const char* const kLaser = "LASER";
constexpr std::chrono::seconds kDeadline{20};

// Forwards to a fake line the test keeps, so that a line stays readable
// after the worker dropped it (a lost port is destroyed, its reopened
// successor is a new line).
class HeldLine : public platform::SerialLine {
 public:
  explicit HeldLine(std::shared_ptr<FakeSerialLine> line) : line_(std::move(line)) {}
  bool open() override { return line_->open(); }
  bool getState(platform::SerialDcb* dcb) override { return line_->getState(dcb); }
  bool setState(const platform::SerialDcb& dcb) override { return line_->setState(dcb); }
  bool transmitByte(unsigned char byte) override { return line_->transmitByte(byte); }
  bool setRts(bool on) override { return line_->setRts(on); }
  bool check() override { return line_->check(); }
  bool close() override { return line_->close(); }
  unsigned long lastError() const override { return line_->lastError(); }

 private:
  std::shared_ptr<FakeSerialLine> line_;
};

class TriggerWorkerTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    queue_ = std::make_unique<ImageNameQueue>();
    imageNameQueue = queue_.get();
    configurePort(serverSettings.triggerPortName, &serverSettings.triggerBaudRate,
                  &serverSettings.triggerBits, serverSettings.triggerParity,
                  &serverSettings.triggerStop, kTrigger);
    configurePort(serverSettings.laserPortName, &serverSettings.laserBaudRate,
                  &serverSettings.laserBits, serverSettings.laserParity, &serverSettings.laserStop,
                  kLaser);
    serverStatus.running = true;
    serverStatus.acquisitionActive = true;
    serverStatus.cameraConnected = true;
    serverStatus.cameraInterval = 50;
    std::strcpy(serverStatus.cameraFilePrefix, "AUV_");
  }

  void TearDown() override {
    worker_.reset();
    imageNameQueue = nullptr;
    CoreTest::TearDown();
  }

  static void configurePort(char* name, std::int32_t* baud, std::uint16_t* bits, char* parity,
                            std::uint16_t* stop, const char* portName) {
    std::strcpy(name, portName);
    *baud = 1200;
    *bits = 8;
    parity[0] = 'N';
    *stop = 1;
  }

  // Makes the worker on fake lines, a fake timer and the fake counter that
  // timer moves; lost ports are retried every 10 ms and ports are checked
  // every pass. Lines may be made on the reopener's thread.
  void makeWorker() {
    TriggerWorker::Options options;
    options.counter = [this] { return counter_.now(); };
    options.counterFrequency = platform::FakeCounter::kFrequency;
    options.reopenEveryMs = 10;
    options.checkEveryMs = 0;
    worker_ = std::make_unique<TriggerWorker>(
        [this](const char* name) {
          auto line = std::make_shared<FakeSerialLine>(name);
          std::lock_guard<std::mutex> guard(linesLock_);
          lines_[name].push_back(line);
          auto failure = openFailures_.find(name);
          if (failure != openFailures_.end())
            line->failCalls(FakeSerialLine::kOpen, failure->second);
          return std::make_unique<HeldLine>(line);
        },
        [this](unsigned long* error) -> std::unique_ptr<platform::OneShotTimer> {
          if (timerFailure_ != 0) {
            *error = timerFailure_;
            return nullptr;
          }
          auto timer = std::make_unique<platform::FakeOneShotTimer>(&counter_);
          timer_ = timer.get();
          return timer;
        },
        options);
  }

  void startWorker() {
    makeWorker();
    ASSERT_TRUE(worker_->start());
  }

  // The newest line made for the name, and how many were made.
  FakeSerialLine& line(const char* name) {
    std::lock_guard<std::mutex> guard(linesLock_);
    return *lines_.at(name).back();
  }
  std::size_t linesMade(const char* name) {
    std::lock_guard<std::mutex> guard(linesLock_);
    return lines_[name].size();
  }
  void failOpens(const char* name, unsigned long code) {
    std::lock_guard<std::mutex> guard(linesLock_);
    openFailures_[name] = code;
  }

  // Runs passes until the log holds an entry with text; false when the
  // deadline passed first.
  bool passUntilLogged(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (entriesWith(text).empty()) {
      if (std::chrono::steady_clock::now() > deadline || !worker_->runPass()) return false;
    }
    return true;
  }

  std::vector<std::string> entriesWith(const std::string& text) {
    std::vector<std::string> found;
    for (const std::string& entry : logEntries()) {
      if (entry.find(text) != std::string::npos) found.push_back(entry);
    }
    return found;
  }

  // The spacings the "Sending Trigger after" lines report, in counter time.
  std::vector<long long> reportedSpacings() {
    std::vector<long long> spacings;
    const std::regex sending(R"(TriggerWorkerThread\(\): Sending Trigger after +(\d+) ms\.)");
    for (const std::string& entry : logEntries()) {
      std::smatch match;
      if (std::regex_match(entry, match, sending)) spacings.push_back(std::stoll(match[1]));
    }
    return spacings;
  }

  std::uint32_t triggerCount() {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    return serverStatus.triggerCount;
  }

  std::unique_ptr<ImageNameQueue> queue_;
  platform::FakeCounter counter_;
  std::unique_ptr<TriggerWorker> worker_;
  std::mutex linesLock_;
  std::map<std::string, std::vector<std::shared_ptr<FakeSerialLine>>> lines_;
  std::map<std::string, unsigned long> openFailures_;
  platform::FakeOneShotTimer* timer_ = nullptr;
  unsigned long timerFailure_ = 0;
};

TEST_F(TriggerWorkerTest, StartConfiguresBothPortsAndLowersTheLasers) {
  serverStatus.triggerCount = 7;
  serverStatus.laserPowerOn = true;
  startWorker();
  EXPECT_EQ((std::vector<std::string>{
                "TriggerWorkerThread(): Trigger serial port configured and open, TRIG 1200 kbps "
                "8N1 ",
                "TriggerWorkerThread(): Laser power serial port configured and open, LASER 1200 "
                "kbps 8N1 "}),
            logEntries());
  EXPECT_EQ(0u, serverStatus.triggerCount);
  EXPECT_FALSE(serverStatus.laserPowerOn);
  EXPECT_TRUE(serverStatus.running);
  ASSERT_EQ(1u, line(kLaser).rtsChanges().size());
  EXPECT_FALSE(line(kLaser).rtsChanges()[0].on);
  EXPECT_EQ(1200u, line(kTrigger).state().BaudRate);
}

struct PortFailure {
  const char* name;
  const char* port;
  bool openFails;  // otherwise the driver refuses the settings
  std::vector<std::string> lines;
};

class PortFailureTest : public TriggerWorkerTest,
                        public testing::WithParamInterface<PortFailure> {};

TEST_P(PortFailureTest, StopsTheServerThroughRunning) {
  const PortFailure& f = GetParam();
  if (f.openFails) {
    failOpens(f.port, 2);
  } else if (std::strcmp(f.port, kTrigger) == 0) {
    serverSettings.triggerBits = 4;
  } else {
    serverSettings.laserParity[0] = 'M';
  }
  startWorker();
  EXPECT_FALSE(getRunning());
  EXPECT_EQ(f.lines, logEntries());

  // The loop ends at its first pass.
  EXPECT_FALSE(worker_->runPass());
  EXPECT_EQ("TriggerWorkerThread(): Thread Execution Complete.", logEntries().back());
  EXPECT_TRUE(line(kTrigger).bytes().empty());
  // A port that fails at start is not reopened: the server stops.
  EXPECT_EQ(1u, linesMade(f.port));
}

INSTANTIATE_TEST_SUITE_P(
    All, PortFailureTest,
    testing::Values(
        PortFailure{"TriggerDoesNotOpen",
                    kTrigger,
                    true,
                    {"TriggerWorkerThread(): ERROR Cannot open serial port TRIG",
                     "TriggerWorkerThread(): ERROR Cannot set serial port parameters.",
                     "TriggerWorkerThread(): Laser power serial port configured and open, LASER "
                     "1200 kbps 8N1 "}},
        PortFailure{"LaserDoesNotOpen",
                    kLaser,
                    true,
                    {"TriggerWorkerThread(): Trigger serial port configured and open, TRIG 1200 "
                     "kbps 8N1 ",
                     "TriggerWorkerThread(): ERROR Cannot open serial port LASER",
                     "TriggerWorkerThread(): ERROR Cannot set serial port parameters."}},
        PortFailure{"TriggerSettingsRefused",
                    kTrigger,
                    false,
                    {"TriggerWorkerThread(): ERROR Cannot set serial port parameters.",
                     "TriggerWorkerThread(): Laser power serial port configured and open, LASER "
                     "1200 kbps 8N1 "}},
        PortFailure{"LaserSettingsRefused",
                    kLaser,
                    false,
                    {"TriggerWorkerThread(): Trigger serial port configured and open, TRIG 1200 "
                     "kbps 8N1 ",
                     "TriggerWorkerThread(): ERROR Cannot set serial port parameters."}}),
    [](const testing::TestParamInfo<PortFailure>& param) { return param.param.name; });

TEST_F(TriggerWorkerTest, TriggerQueuesNameAndExifTimeFromOneReading) {
  startWorker();
  ASSERT_TRUE(worker_->runPass());

  ASSERT_EQ(1u, line(kTrigger).bytes().size());
  EXPECT_EQ(0, line(kTrigger).bytes()[0].value);
  EXPECT_EQ(1u, triggerCount());
  ASSERT_EQ(1u, imageNameQueue->size());
  std::int32_t length = 0;
  ASSERT_TRUE(imageNameQueue->popImageName(&length));
  const std::string name = imageBaseName;
  EXPECT_EQ(static_cast<std::int32_t>(name.size()), length);
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(
      name, parts,
      std::regex(R"(^AUV_VARNO_(\d{4})(\d\d)(\d\d)_(\d\d)\.(\d\d)\.(\d\d)\.(\d{3})$)")))
      << name;
  EXPECT_EQ(parts[1].str() + ":" + parts[2].str() + ":" + parts[3].str() + " " + parts[4].str() +
                ":" + parts[5].str() + ":" + parts[6].str(),
            std::string(jpeg::exifDateString, 19));
  EXPECT_EQ(parts[7].str(), std::string(jpeg::exifSubSecString, 3));

  const std::vector<std::string> entries = logEntries();
  ASSERT_EQ(4u, entries.size());
  EXPECT_TRUE(std::regex_match(
      entries[2], std::regex(R"(TriggerWorkerThread\(\): Sending Trigger after [ \d]{5}\d ms\.)")))
      << entries[2];
  EXPECT_EQ("TriggerWorkerThread(): Next File: " + name + ".jpg", entries[3]);
}

struct Idle {
  const char* name;
  bool acquisition;
  bool connected;
};

class IdleTest : public TriggerWorkerTest, public testing::WithParamInterface<Idle> {};

TEST_P(IdleTest, NoTriggerAndNoName) {
  serverStatus.acquisitionActive = GetParam().acquisition;
  serverStatus.cameraConnected = GetParam().connected;
  startWorker();
  EXPECT_TRUE(worker_->runPass());
  EXPECT_TRUE(line(kTrigger).bytes().empty());
  EXPECT_EQ(0u, imageNameQueue->size());
  EXPECT_TRUE(timer_->armed().empty());
  EXPECT_EQ(0u, triggerCount());
}

INSTANTIATE_TEST_SUITE_P(All, IdleTest,
                         testing::Values(Idle{"AcquisitionOff", false, true},
                                         Idle{"CameraDisconnected", true, false},
                                         Idle{"Both", false, false}),
                         [](const testing::TestParamInfo<Idle>& param) {
                           return param.param.name;
                         });

// Acquisition on without a camera: the wait is said once as it begins, and
// its end once; acquisition switched off ends a wait without a line.
TEST_F(TriggerWorkerTest, WaitForTheCameraIsSaidOnceAndItsEndOnce) {
  const std::string waits =
      "TriggerWorkerThread(): Acquisition on, but the camera is not connected; triggering waits "
      "for it.";
  const std::string starts = "TriggerWorkerThread(): Camera connected; triggering starts.";
  struct Step {
    bool acquisition;
    bool connected;
    std::size_t waitLines;
    std::size_t startLines;
  };
  const Step steps[] = {{true, false, 1, 0}, {true, false, 1, 0}, {true, false, 1, 0},
                        {true, true, 1, 1},  {true, false, 2, 1}, {false, false, 2, 1},
                        {false, true, 2, 1}, {true, true, 2, 1}};
  startWorker();
  int pass = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(pass++);
    serverStatus.acquisitionActive = step.acquisition;
    serverStatus.cameraConnected = step.connected;
    ASSERT_TRUE(worker_->runPass());
    EXPECT_EQ(step.waitLines, entriesWith(waits).size());
    EXPECT_EQ(step.startLines, entriesWith(starts).size());
  }
  EXPECT_EQ(2u, line(kTrigger).bytes().size());
}

TEST_F(TriggerWorkerTest, AcquisitionSwitchedOffDuringTheWaitSendsNothing) {
  startWorker();
  timer_->setWaitHook([] { setAcquisitionActive(false); });
  EXPECT_TRUE(worker_->runPass());
  EXPECT_EQ(1, timer_->waits());
  EXPECT_TRUE(line(kTrigger).bytes().empty());
  EXPECT_EQ(0u, imageNameQueue->size());
  EXPECT_EQ(0u, triggerCount());
}

TEST_F(TriggerWorkerTest, RunningFallenDuringTheWaitSendsNothing) {
  startWorker();
  timer_->setWaitHook([] {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    serverStatus.running = false;
  });
  EXPECT_TRUE(worker_->runPass());
  EXPECT_TRUE(line(kTrigger).bytes().empty());
  EXPECT_EQ(0u, imageNameQueue->size());
  EXPECT_FALSE(worker_->runPass());
  EXPECT_TRUE(line(kTrigger).wasClosed());
  EXPECT_FALSE(line(kLaser).wasClosed());
  EXPECT_EQ("TriggerWorkerThread(): Thread Execution Complete.", logEntries().back());
}

TEST_F(TriggerWorkerTest, WokenWaitSendsNothing) {
  startWorker();
  worker_->wake();
  EXPECT_TRUE(worker_->runPass());
  EXPECT_TRUE(line(kTrigger).bytes().empty());
  EXPECT_EQ(0u, imageNameQueue->size());
}

// A lasting fault is written once, and summed up when the step succeeds
// again; the summary's seconds depend on the machine's speed.
testing::AssertionResult isSummaryOf(const std::string& line, const std::string& entry, int times) {
  const std::string head = line + " (repeated " + std::to_string(times) + " times in the last ";
  if (entry.compare(0, head.size(), head) == 0 &&
      std::regex_match(entry.substr(head.size()), std::regex(R"(\d+ s\))")))
    return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << "'" << entry << "' sums up no " << times << " x '" << line << "'";
}

TEST_F(TriggerWorkerTest, FullQueueSkipsTheTriggerUntilAnEntryIsTakenAndIsLoggedOnce) {
  const std::string full = "TriggerWorkerThread(): ERROR Cannot Enqueue filename. Queue is full.";
  startWorker();
  for (int i = 0; i < 15; ++i)
    ASSERT_TRUE(imageNameQueue->pushImageName("old", 3, "2001:01:01 00:00:00", "000"));
  for (int pass = 0; pass < 3; ++pass) EXPECT_TRUE(worker_->runPass());
  EXPECT_EQ(std::vector<std::string>{full}, entriesWith("Queue is full"));
  EXPECT_EQ(std::vector<std::string>{}, entriesWith("Next File")) << "no name was queued";
  EXPECT_EQ(15u, imageNameQueue->size());
  EXPECT_EQ(0u, triggerCount());
  EXPECT_TRUE(line(kTrigger).bytes().empty());

  std::int32_t length = 0;
  ASSERT_TRUE(imageNameQueue->popImageName(&length));
  EXPECT_TRUE(worker_->runPass());
  EXPECT_EQ(15u, imageNameQueue->size());
  EXPECT_EQ(1u, triggerCount());
  EXPECT_EQ(1u, line(kTrigger).bytes().size());
  const std::vector<std::string> lines = entriesWith("Queue is full");
  ASSERT_EQ(2u, lines.size());
  EXPECT_TRUE(isSummaryOf(full, lines[1], 2));
}

// A trigger port whose device goes away (a pulled adapter) while
// triggering: that trigger's name is withdrawn, nothing is sent or queued
// while the port is away, and once it can be opened again it is configured
// as before and triggering goes on.
TEST_F(TriggerWorkerTest, LostTriggerPortIsReopenedAndNothingIsSentWhileItIsAway) {
  startWorker();
  ASSERT_TRUE(worker_->runPass());  // one good trigger, its name waiting
  failOpens(kTrigger, 2);
  line(kTrigger).failCalls(FakeSerialLine::kTransmit, 5);
  ASSERT_TRUE(worker_->runPass());
  const std::vector<std::string> lost = {
      "TriggerWorkerThread(): ERROR Trigger not sent, image name withdrawn.",
      "TriggerWorkerThread(): ERROR Trigger serial port lost; reopening it every 0.01 s."};
  const std::vector<std::string> all = logEntries();
  EXPECT_EQ(lost, std::vector<std::string>(all.end() - 2, all.end()));
  // Some attempts fail while the port is away.
  const auto away = std::chrono::steady_clock::now() + kDeadline;
  while (linesMade(kTrigger) < 4 && std::chrono::steady_clock::now() < away) {
    ASSERT_TRUE(worker_->runPass());
  }
  EXPECT_EQ(1u, imageNameQueue->size());
  EXPECT_EQ(1u, triggerCount());
  EXPECT_EQ(2u, entriesWith("Sending Trigger").size());  // the failed pass's

  failOpens(kTrigger, 0);
  // The pass that takes the port back triggers on it.
  ASSERT_TRUE(passUntilLogged("Trigger serial port back after"));
  EXPECT_EQ(2u, triggerCount());
  EXPECT_EQ(1u, line(kTrigger).bytes().size());
  EXPECT_EQ(1200u, line(kTrigger).state().BaudRate);
  EXPECT_EQ(2u, imageNameQueue->size());
  EXPECT_EQ(1u, entriesWith("serial port lost").size());
  ASSERT_EQ(1u, entriesWith("serial port back").size());
  EXPECT_TRUE(std::regex_match(entriesWith("serial port back")[0],
                               std::regex(R"(TriggerWorkerThread\(\): Trigger serial port back )"
                                          R"(after \d+ s\.)")));
}

// The laser port's device goes away while idle with the lasers on; once
// back, its RTS line is raised again, and nothing was written to it while
// it was away.
TEST_F(TriggerWorkerTest, LostLaserPortIsReopenedAndRaisedAgain) {
  serverStatus.acquisitionActive = false;
  startWorker();
  setLaserPowerOn(true);
  ASSERT_TRUE(worker_->runPass());
  failOpens(kLaser, 111);
  line(kLaser).unplug(5);
  ASSERT_TRUE(passUntilLogged("Laser power serial port lost"));
  EXPECT_EQ(std::vector<std::string>{}, entriesWith("ERROR failed to change state"));
  failOpens(kLaser, 0);
  ASSERT_TRUE(passUntilLogged("Laser power serial port back after"));
  ASSERT_TRUE(worker_->runPass());
  const std::vector<FakeSerialLine::RtsChange> changes = line(kLaser).rtsChanges();
  ASSERT_FALSE(changes.empty());
  EXPECT_TRUE(changes.back().on);
  EXPECT_EQ(platform::kSerialRtsControlDisable, line(kLaser).state().fRtsControl);
  EXPECT_EQ(2u, entriesWith("Changed state of laser power to 1.").size());
  EXPECT_EQ(1u, entriesWith("serial port lost").size());
}

// A line that refuses RTS but is still there (no modem-control lines) is
// not taken for lost; its failure, written once, is written whole again
// after the lasers are switched off and on by command.
TEST_F(TriggerWorkerTest, LaserFailureIsWrittenAgainAfterANewCommand) {
  const std::string failed =
      "TriggerWorkerThread(): ERROR failed to change state of laser power to 1.";
  serverStatus.acquisitionActive = false;
  startWorker();
  line(kLaser).failCalls(FakeSerialLine::kSetRts, 1);
  setLaserPowerOn(true);
  for (int pass = 0; pass < 3; ++pass) ASSERT_TRUE(worker_->runPass());
  // The operator asks again for what is already asked for.
  setLaserPowerOn(true);
  ASSERT_TRUE(worker_->runPass());
  const std::vector<std::string> lines = entriesWith("laser power to");
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(failed, lines[0]);
  EXPECT_TRUE(isSummaryOf(failed, lines[1], 2));
  EXPECT_EQ(failed, lines[2]);
  EXPECT_EQ(std::vector<std::string>{}, entriesWith("serial port lost"));
}

TEST_F(TriggerWorkerTest, LaserLineFollowsTheFlagBothWays) {
  serverStatus.acquisitionActive = false;  // idle passes
  startWorker();
  const auto changeLines = [this] { return entriesWith("state of laser power").size(); };

  setLaserPowerOn(true);
  EXPECT_TRUE(worker_->runPass());
  EXPECT_TRUE(worker_->runPass());  // re-asserted, no second line
  ASSERT_EQ(3u, line(kLaser).rtsChanges().size());
  EXPECT_TRUE(line(kLaser).rtsChanges()[1].on);
  EXPECT_TRUE(line(kLaser).rtsChanges()[2].on);
  EXPECT_EQ(1u, changeLines());
  EXPECT_EQ("TriggerWorkerThread(): Changed state of laser power to 1.", logEntries().back());

  setLaserPowerOn(false);
  EXPECT_TRUE(worker_->runPass());
  EXPECT_TRUE(worker_->runPass());  // lowered once only
  ASSERT_EQ(4u, line(kLaser).rtsChanges().size());
  EXPECT_FALSE(line(kLaser).rtsChanges()[3].on);
  EXPECT_EQ(2u, changeLines());
  EXPECT_EQ("TriggerWorkerThread(): Changed state of laser power to 0.", logEntries().back());
}

struct LasersAtStop {
  const char* name;
  bool laserOn;
  bool lowerFails;
  std::vector<std::string> lines;  // the thread's last lines
  bool raisedAtEnd;
};

class LasersAtStopTest : public TriggerWorkerTest,
                         public testing::WithParamInterface<LasersAtStop> {};

TEST_P(LasersAtStopTest, RaisedLasersAreLoweredWhenTheServerStops) {
  serverStatus.acquisitionActive = false;
  startWorker();
  setLaserPowerOn(GetParam().laserOn);
  EXPECT_TRUE(worker_->runPass());
  const std::size_t before = logEntries().size();
  if (GetParam().lowerFails) line(kLaser).failCalls(FakeSerialLine::kSetRts, 1);
  serverStatus.running = false;
  EXPECT_FALSE(worker_->runPass());
  const std::vector<std::string> all = logEntries();
  EXPECT_EQ(GetParam().lines, std::vector<std::string>(all.begin() + before, all.end()));
  EXPECT_EQ(GetParam().raisedAtEnd, line(kLaser).rtsChanges().back().on);
}

INSTANTIATE_TEST_SUITE_P(
    All, LasersAtStopTest,
    testing::Values(LasersAtStop{"LasersOn",
                                 true,
                                 false,
                                 {"TriggerWorkerThread(): Changed state of laser power to 0.",
                                  "TriggerWorkerThread(): Thread Execution Complete."},
                                 false},
                    LasersAtStop{"LoweringFails",
                                 true,
                                 true,
                                 {"TriggerWorkerThread(): ERROR failed to change state of laser "
                                  "power to 0.",
                                  "TriggerWorkerThread(): Thread Execution Complete."},
                                 true},
                    LasersAtStop{"LasersOff",
                                 false,
                                 false,
                                 {"TriggerWorkerThread(): Thread Execution Complete."},
                                 false}),
    [](const testing::TestParamInfo<LasersAtStop>& param) { return param.param.name; });

TEST_F(TriggerWorkerTest, LaserFailureIsLoggedOnceRetriedAndSummedUpWhenItEnds) {
  const std::string failed =
      "TriggerWorkerThread(): ERROR failed to change state of laser power to 1.";
  serverStatus.acquisitionActive = false;
  startWorker();
  line(kLaser).failCalls(FakeSerialLine::kSetRts, 1);
  setLaserPowerOn(true);
  for (int pass = 0; pass < 3; ++pass) EXPECT_TRUE(worker_->runPass());
  EXPECT_EQ(std::vector<std::string>{failed}, entriesWith("laser power to"));
  EXPECT_EQ(4, line(kLaser).calls(FakeSerialLine::kSetRts));  // start, then once a pass

  line(kLaser).failCalls(FakeSerialLine::kSetRts, 0);
  EXPECT_TRUE(worker_->runPass());
  const std::vector<std::string> lines = entriesWith("laser power to");
  ASSERT_EQ(3u, lines.size());
  EXPECT_TRUE(isSummaryOf(failed, lines[1], 2));
  EXPECT_EQ("TriggerWorkerThread(): Changed state of laser power to 1.", lines[2]);
}

struct Interval {
  const char* name;
  std::vector<std::int32_t> intervals;  // one pass each
  std::vector<long long> spacings;      // reported, in counter time (ms)
  std::uint64_t jumpMs;                 // counter moved at the first wait
};

class IntervalTest : public TriggerWorkerTest, public testing::WithParamInterface<Interval> {};

TEST_P(IntervalTest, EachTriggerComesOneIntervalAfterThePassBegan) {
  startWorker();
  const std::uint64_t jump = GetParam().jumpMs * 10000;
  timer_->setWaitHook([this, jump, done = false]() mutable {
    if (!done) counter_.advance(jump);
    done = true;
  });
  for (const std::int32_t interval : GetParam().intervals) {
    setCameraInterval(interval);
    ASSERT_TRUE(worker_->runPass());
  }
  EXPECT_EQ(GetParam().spacings, reportedSpacings());
}

INSTANTIATE_TEST_SUITE_P(
    All, IntervalTest,
    testing::Values(Interval{"OneSecond", {1000}, {1000}, 0},
                    Interval{"MinusOneIsUnsigned", {-1}, {4294967295}, 4294967295 - 1000},
                    Interval{"FirstPassZeroUsesTheDefault", {0}, {1000}, 0},
                    Interval{"ZeroKeepsThePrevious", {250, 0}, {250, 250}, 0},
                    Interval{"ChangeAppliesAtOnce", {100, 20}, {100, 20}, 0}),
    [](const testing::TestParamInfo<Interval>& param) { return param.param.name; });

// "interval 60000" by mistake, corrected 10 ms into the wait: the wait ends
// and the trigger comes one new interval after the correction.
TEST_F(TriggerWorkerTest, IntervalChangedDuringTheWaitIsTimedFromTheChange) {
  serverStatus.cameraInterval = 60000;
  startWorker();
  timer_->setWaitHook([this] {
    if (timer_->waits() == 1) setCameraInterval(200);
  });
  ASSERT_TRUE(worker_->runPass());
  EXPECT_EQ(std::vector<long long>{210}, reportedSpacings());
  EXPECT_EQ(1u, triggerCount());
}

TEST_F(TriggerWorkerTest, NamesUpTo127CharactersOnly) {
  startWorker();
  // The generated part has 27 characters.
  std::memset(serverStatus.cameraFilePrefix, 'p', 100);
  serverStatus.cameraFilePrefix[100] = '\0';
  ASSERT_TRUE(worker_->runPass());
  EXPECT_EQ(1u, triggerCount());
  std::int32_t length = 0;
  ASSERT_TRUE(imageNameQueue->popImageName(&length));
  EXPECT_EQ(127, length);

  std::memset(serverStatus.cameraFilePrefix, 'p', 101);
  serverStatus.cameraFilePrefix[101] = '\0';
  ASSERT_TRUE(worker_->runPass());
  EXPECT_EQ(
      "TriggerWorkerThread(): ERROR Image name of 128 characters is longer than 127, no "
      "trigger sent.",
      logEntries().back());
  EXPECT_EQ(1u, triggerCount());
  EXPECT_EQ(0u, imageNameQueue->size());
  EXPECT_EQ(1u, line(kTrigger).bytes().size());
}

TEST_F(TriggerWorkerTest, TimerThatCannotBeCreatedEndsTheThread) {
  timerFailure_ = 1450;
  makeWorker();
  EXPECT_FALSE(worker_->start());
  EXPECT_EQ("TriggerWorkerThread(): CreateWaitableTimer Failed (1450)", logEntries().back());
  EXPECT_TRUE(getRunning());
}

TEST_F(TriggerWorkerTest, TimerThatCannotBeArmedEndsTheThread) {
  startWorker();
  timer_->failArm(6);
  EXPECT_FALSE(worker_->runPass());
  EXPECT_EQ("TriggerWorkerThread(): ERROR SetWaitableTimer Failed (6)", logEntries().back());
  EXPECT_TRUE(getRunning());
  EXPECT_TRUE(line(kTrigger).bytes().empty());
}

TEST_F(TriggerWorkerTest, FailedWaitIsLoggedAndThePassGoesOn) {
  startWorker();
  timer_->failWait(6);
  EXPECT_TRUE(worker_->runPass());
  EXPECT_EQ(1u, entriesWith("ERROR WaitForSingleObject Failed (6)").size());
  EXPECT_EQ(1u, line(kTrigger).bytes().size());
}

}  // namespace

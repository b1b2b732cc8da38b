#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/core_fixture.h"
#include "core/log.h"
#include "core/server_state.h"
#include "core/status_access.h"

namespace {

using LogTest = CoreTest;

TEST_F(LogTest, EntryCarriesTheUtcTimestampPrefixAndNoExtraLineEnd) {
  logprintf(currentLogStream, "%s: value %d\n", "Who()", 42);
  logprintf(currentLogStream, "part one ");
  logprintf(currentLogStream, "part two\n");
  const std::string text = logText();
  EXPECT_TRUE(std::regex_match(
      text,
      std::regex(R"(\[20\d{6} \d\d:\d\d:\d\d\] Who\(\): value 42\n)"
                 R"(\[20\d{6} \d\d:\d\d:\d\d\] part one \[20\d{6} \d\d:\d\d:\d\d\] part two\n)")))
      << text;
}

// Read through the file, not the stream: what a killed process leaves.
TEST_F(LogTest, EachEntryHasReachedTheFileWhenTheCallReturns) {
  logprintf(currentLogStream, "first\n");
  EXPECT_NE(std::string::npos, testing_support::readTextFile(logPath_).find("] first\n"));
  logprintf(currentLogStream, "second\n");
  EXPECT_NE(std::string::npos, testing_support::readTextFile(logPath_).find("] second\n"));
}

TEST_F(LogTest, EntriesFromSeveralThreadsNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kEntries = 300;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < kEntries; ++i) {
        logprintf(currentLogStream, "writer %d entry %d %s\n", t, i,
                  "with a tail long enough to be split by an unguarded writer");
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  const std::vector<std::string> entries = logEntries();
  ASSERT_EQ(static_cast<size_t>(kThreads * kEntries), entries.size());
  const std::regex whole(
      R"(writer \d entry \d+ with a tail long enough to be split by an unguarded writer)");
  for (const std::string& entry : entries) EXPECT_TRUE(std::regex_match(entry, whole)) << entry;
}

TEST_F(LogTest, HolderOfTheStatusMutexCanWriteAndUseAccessors) {
  ASSERT_TRUE(statusMutex.load()->lock(kMutexTimeoutMs));
  logprintf(currentLogStream, "while holding\n");
  EXPECT_TRUE(setCameraInterval(250));
  std::int32_t interval = 0;
  EXPECT_TRUE(getCameraInterval(&interval));
  EXPECT_EQ(250, interval);
  EXPECT_TRUE(setAcquisitionActive(true));
  EXPECT_TRUE(getAcquisitionActive());
  statusMutex.load()->unlock();
  EXPECT_EQ(std::vector<std::string>{"while holding"}, logEntries());
}

// One slow case: everything that waits for statusMutex gives up when another
// thread keeps it past the time-out. The waits run side by side.
TEST_F(LogTest, EverythingGivesUpWhenTheStatusMutexIsHeldElsewhere) {
  serverStatus.cameraInterval = 1000;
  serverStatus.acquisitionActive = true;
  serverStatus.cameraConnected = true;
  struct Outcome {
    bool acquisition = true, connected = true, interval = true;
    bool setAcquisition = true, setLaser = true, setConnected = true, setInterval = true;
    std::int32_t intervalValue = -7;
    std::string console;
  } outcome;
  whileStatusMutexHeldElsewhere(
      [](void* context) {
        auto& o = *static_cast<Outcome*>(context);
        testing::internal::CaptureStdout();
        std::vector<std::thread> waits;
        waits.emplace_back([&] { o.acquisition = getAcquisitionActive(); });
        waits.emplace_back([&] { o.connected = getCameraConnected(); });
        waits.emplace_back([&] { o.interval = getCameraInterval(&o.intervalValue); });
        waits.emplace_back([&] { o.setAcquisition = setAcquisitionActive(false); });
        waits.emplace_back([&] { o.setLaser = setLaserPowerOn(true); });
        waits.emplace_back([&] { o.setConnected = setCameraConnected(false); });
        waits.emplace_back([&] { o.setInterval = setCameraInterval(5); });
        waits.emplace_back([] { logprintf(currentLogStream, "this entry is dropped\n"); });
        for (std::thread& wait : waits) wait.join();
        o.console = testing::internal::GetCapturedStdout();
      },
      &outcome);
  EXPECT_FALSE(outcome.acquisition);
  EXPECT_FALSE(outcome.connected);
  EXPECT_FALSE(outcome.interval);
  EXPECT_EQ(-7, outcome.intervalValue) << "a failed read leaves the reference as it was";
  EXPECT_FALSE(outcome.setAcquisition);
  EXPECT_FALSE(outcome.setLaser);
  EXPECT_FALSE(outcome.setConnected);
  EXPECT_FALSE(outcome.setInterval);
  EXPECT_EQ("logprintf():: Error getting status mutex\n", outcome.console);
  EXPECT_EQ("", logText());
  EXPECT_TRUE(serverStatus.acquisitionActive) << "nothing may be stored without the mutex";
  EXPECT_FALSE(serverStatus.laserPowerOn);
  EXPECT_TRUE(serverStatus.cameraConnected);
  EXPECT_EQ(1000, serverStatus.cameraInterval);
}

}  // namespace

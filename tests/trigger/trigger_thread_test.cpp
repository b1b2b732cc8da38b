// The trigger thread itself: real timers, fake serial lines, and shutdown
// while the thread is blocked in a timer wait.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include "channel/image_name_queue.h"
#include "core/server_state.h"
#include "platform/fake/fake_serial_line.h"
#include "platform/timer.h"
#include "support/core_fixture.h"
#include "trigger/trigger_worker.h"

namespace {

using platform::FakeSerialLine;
using platform::OneShotTimer;

constexpr std::chrono::seconds kDeadline{20};

// The platform's timer, announcing each wait so a test knows the thread is
// blocked in one.
class ProbeTimer : public OneShotTimer {
 public:
  explicit ProbeTimer(std::unique_ptr<OneShotTimer> real) : real_(std::move(real)) {}

  bool arm(std::uint64_t hundredNs) override { return real_->arm(hundredNs); }
  WaitResult wait() override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      ++waits_;
    }
    waiting_.notify_all();
    return real_->wait();
  }
  void stop() override { real_->stop(); }
  unsigned long lastError() const override { return real_->lastError(); }

  bool waitForWaits(int count) {
    std::unique_lock<std::mutex> guard(lock_);
    return waiting_.wait_for(guard, kDeadline, [&] { return waits_ >= count; });
  }

 private:
  std::unique_ptr<OneShotTimer> real_;
  std::mutex lock_;
  std::condition_variable waiting_;
  int waits_ = 0;
};

// Joins, or ends the test program when the thread does not end in time: a
// worker still running cannot be destroyed.
void joinOrAbort(const std::function<void()>& join) {
  auto done = std::async(std::launch::async, join);
  if (done.wait_for(kDeadline) != std::future_status::ready) {
    std::fputs("FATAL: the trigger thread did not end after shutdown\n", stderr);
    std::abort();
  }
}

void stopServer() {
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  serverStatus.running = false;
}

class TriggerThreadTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    queue_ = std::make_unique<ImageNameQueue>();
    imageNameQueue = queue_.get();
    std::strcpy(serverSettings.triggerPortName, "TRIG");
    std::strcpy(serverSettings.laserPortName, "LASER");
    serverSettings.triggerBaudRate = serverSettings.laserBaudRate = 1200;
    serverSettings.triggerBits = serverSettings.laserBits = 8;
    serverSettings.triggerParity[0] = serverSettings.laserParity[0] = 'N';
    serverSettings.triggerStop = serverSettings.laserStop = 1;
    serverStatus.running = true;
    serverStatus.acquisitionActive = true;
    serverStatus.cameraConnected = true;
    std::strcpy(serverStatus.cameraFilePrefix, "AUV_");

    // Made here, handed over by the factories, so the test holds them
    // before the thread starts.
    triggerLine_ = std::make_unique<FakeSerialLine>("TRIG");
    laserLine_ = std::make_unique<FakeSerialLine>("LASER");
    trigger_ = triggerLine_.get();
    unsigned long error = 0;
    std::unique_ptr<OneShotTimer> real = platform::createOneShotTimer(&error);
    ASSERT_NE(nullptr, real) << error;
    probe_ = std::make_unique<ProbeTimer>(std::move(real));
    timer_ = probe_.get();
    worker_ = std::make_unique<TriggerWorker>(
        [this](const char* name) -> std::unique_ptr<platform::SerialLine> {
          if (std::strcmp(name, "TRIG") == 0) return std::move(triggerLine_);
          return std::move(laserLine_);
        },
        [this](unsigned long*) -> std::unique_ptr<OneShotTimer> { return std::move(probe_); });
  }

  void TearDown() override {
    worker_.reset();
    imageNameQueue = nullptr;
    CoreTest::TearDown();
  }

  std::unique_ptr<FakeSerialLine> triggerLine_;
  std::unique_ptr<FakeSerialLine> laserLine_;
  std::unique_ptr<ProbeTimer> probe_;
  FakeSerialLine* trigger_ = nullptr;
  ProbeTimer* timer_ = nullptr;
  std::unique_ptr<ImageNameQueue> queue_;
  std::unique_ptr<TriggerWorker> worker_;
};

TEST_F(TriggerThreadTest, TriggersAtTheIntervalUntilShutdown) {
  serverStatus.cameraInterval = 10;
  ASSERT_TRUE(worker_->startThread());
  EXPECT_TRUE(trigger_->waitForBytes(3, kDeadline));
  stopServer();
  worker_->wake();
  joinOrAbort([&] { worker_->join(); });

  EXPECT_LE(3u, serverStatus.triggerCount);
  EXPECT_EQ(serverStatus.triggerCount, trigger_->bytes().size());
  EXPECT_EQ(serverStatus.triggerCount, imageNameQueue->size());
  EXPECT_TRUE(trigger_->wasClosed());
  EXPECT_EQ("TriggerWorkerThread(): Thread Execution Complete.", logEntries().back());
}

// A minute, and -1 taken as about 49.7 days.
class LongWaitTest : public TriggerThreadTest, public testing::WithParamInterface<int> {};

TEST_P(LongWaitTest, ShutdownEndsTheWaitAtOnceWithoutATrigger) {
  serverStatus.cameraInterval = GetParam();
  ASSERT_TRUE(worker_->startThread());
  ASSERT_TRUE(timer_->waitForWaits(1));
  stopServer();
  worker_->wake();
  joinOrAbort([&] { worker_->join(); });

  EXPECT_TRUE(trigger_->bytes().empty());
  EXPECT_EQ(0u, imageNameQueue->size());
  EXPECT_EQ(0u, serverStatus.triggerCount);
  EXPECT_EQ("TriggerWorkerThread(): Thread Execution Complete.", logEntries().back());
}

INSTANTIATE_TEST_SUITE_P(All, LongWaitTest, testing::Values(60000, -1));

// The server's own worker, on the platform's lines: a port that does not
// exist ends the whole server, and the thread ends by itself.
TEST_F(CoreTest, ServerTriggerThreadStopsTheServerWhenAPortDoesNotOpen) {
  ImageNameQueue queue;
  imageNameQueue = &queue;
  const std::string missing = dir_.file("no-such-port");
  std::strcpy(serverSettings.triggerPortName, missing.c_str());
  std::strcpy(serverSettings.laserPortName, missing.c_str());
  serverSettings.triggerParity[0] = serverSettings.laserParity[0] = 'N';
  serverStatus.running = true;

  ASSERT_TRUE(startTriggerWorker());
  joinOrAbort([] { joinTriggerWorker(); });
  wakeTriggerWorker();  // harmless once the thread has ended
  imageNameQueue = nullptr;

  EXPECT_FALSE(serverStatus.running);
  const std::vector<std::string> entries = logEntries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ("TriggerWorkerThread(): ERROR Cannot open serial port " + missing, entries.front());
  EXPECT_EQ("TriggerWorkerThread(): Thread Execution Complete.", entries.back());
}

}  // namespace

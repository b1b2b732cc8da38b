// The camera worker's passes against the scripted module: names are taken
// only when they can be taken whole, and an item that will not come down is
// passed over with its name withdrawn.
#include "camera/camera_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_handler.h"
#include "channel/image_name_queue.h"
#include "channel/message_queue.h"
#include "core/log.h"
#include "core/server_state.h"
#include "fake_module.h"
#include "handler_fixture.h"
#include "platform/mutex.h"
#include "stand_in_client.h"

namespace {

// statusMutex as the worker sees it: the real one, or a refusal while
// refusing is set.
class RefusingMutex : public platform::TimedMutex {
 public:
  bool lock(int timeoutMs) override { return !refusing && real_->lock(timeoutMs); }
  bool unlock() override { return real_->unlock(); }
  std::atomic<bool> refusing{false};

 private:
  std::unique_ptr<platform::TimedMutex> real_ = platform::createTimedMutex();
};

class CameraWorkerTest : public HandlerFixture {
 protected:
  const char* moduleFile() const override { return FORWARDING_MODULE; }
  void SetUp() override {
    HandlerFixture::SetUp();
    char address[32];
    std::snprintf(address, sizeof address, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&fake::entry)));
    setModuleEnv("SKERROW_TEST_FORWARD_TO", address);
    previousStatusMutex_ = statusMutex.load();
    statusMutex = &mutex_;
    if (messageMutex == nullptr) messageMutex = platform::createTimedMutex().release();
    serverStatus = ServerStatus{};
    serverStatus.running = true;
    logPath_ = (dir_.path() / "server.log").string();
    currentLogStream = std::fopen(logPath_.c_str(), "w");
    messageQueue = new MessageQueue();
    imageNameQueue = new ImageNameQueue();
    m_.children = {7};  // the camera 7, and on it the item 7
  }
  void TearDown() override {
    delete cameraHandler;
    cameraHandler = nullptr;
    delete imageNameQueue;
    imageNameQueue = nullptr;
    delete messageQueue;
    messageQueue = nullptr;
    std::fclose(currentLogStream);
    currentLogStream = stdout;
    statusMutex = previousStatusMutex_;
    HandlerFixture::TearDown();
  }

  void queueName(const char* name) {
    ASSERT_TRUE(imageNameQueue->pushImageName(name, static_cast<std::int32_t>(std::strlen(name)),
                                              "2020:01:02 03:04:05", "678"));
  }
  std::string logText() const {
    std::ifstream in(logPath_);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fake::ScopedModule fake_;
  fake::Module& m_ = fake_.module;
  RefusingMutex mutex_;
  platform::TimedMutex* previousStatusMutex_ = nullptr;
  std::string logPath_;
};

TEST_F(CameraWorkerTest, NameThatCannotBeTakenLeavesTheShotForTheNextPass) {
  startCameraWorker();
  ASSERT_TRUE(serverStatus.cameraConnected);
  queueName("first");
  std::snprintf(imageBaseName, sizeof imageBaseName, "previous");
  // The lock goes missing once the item was found, just before the name.
  m_.script = [this](const fake::Call& call, void*, std::int32_t*) {
    if (call.command == MODULE_CMD_CAP_GET_ARRAY) mutex_.refusing = true;
    return false;
  };
  m_.calls.clear();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(runCameraWorkerPass());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(0, m_.count(MODULE_CMD_CAP_START)) << "downloaded under the previous name";
  EXPECT_EQ(1u, imageNameQueue->size());

  mutex_.refusing = false;
  m_.script = nullptr;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(runCameraWorkerPass());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(1, m_.count(MODULE_CMD_CAP_START));
  EXPECT_STREQ("first", imageBaseName);
  // Nothing came down: the name stays queued for its shot.
  EXPECT_EQ(1u, imageNameQueue->size());
}

TEST_F(CameraWorkerTest, ItemThatWillNotComeDownIsPassedOverAndItsNameWithdrawn) {
  struct Case {
    const char* name;
    std::uint32_t dataTypes;
    int passes;  // until it is passed over
    const char* line;
  };
  const Case cases[] = {
      {"only a thumbnail", 8, 1,
       "CameraWorkerThread(): ERROR Image item 7 has no image data; passed over, it stays on the "
       "camera card.\n"},
      {"never delivered", 9, 3,
       "CameraWorkerThread(): ERROR Image item 7 not downloaded after 3 tries; passed over, it "
       "stays on the camera card.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_.dataTypes = c.dataTypes;
    startCameraWorker();
    queueName("mine");
    queueName("next");
    testing::internal::CaptureStdout();
    for (int pass = 0; pass < c.passes + 2; ++pass) EXPECT_TRUE(runCameraWorkerPass());
    testing::internal::GetCapturedStdout();
    const std::string log = logText();
    EXPECT_NE(std::string::npos, log.find(c.line)) << log;
    EXPECT_NE(std::string::npos,
              log.find("CameraWorkerThread(): Item passed over; image name mine withdrawn, the "
                       "next image takes the next name.\n"))
        << log;
    // Passed over: not tried again, and the next name still waits.
    EXPECT_EQ(1u, imageNameQueue->size());
    EXPECT_EQ(std::vector<std::uint32_t>{7}, cameraHandler->passedItems);
    delete cameraHandler;
    cameraHandler = nullptr;
    while (imageNameQueue->size() > 0) imageNameQueue->withdrawNewest();
  }
}

}  // namespace

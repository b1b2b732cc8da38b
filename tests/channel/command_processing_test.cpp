#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "camera/camera_handler.h"
#include "channel/command_processing.h"
#include "channel/message_queue.h"
#include "channel/command_message.h"
#include "channel/wire.h"
#include "core/log.h"
#include "core/server_state.h"
#include "support/core_fixture.h"
#include "support/message_bytes.h"

namespace {

using testing_support::Bytes;
using testing_support::fromHex;
using testing_support::toHex;

Bytes request(std::uint16_t type, std::uint8_t action, const Bytes& payload = {}) {
  return testing_support::messageBytes(type, action, payload);
}

Bytes int32(std::int32_t value) { return testing_support::int32Bytes(value); }

class CommandTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    messageQueue = new MessageQueue();
    cameraHandler = nullptr;  // no camera: any call of it would crash the test
    serverStatus.cameraInterval = 1000;
    std::strcpy(serverStatus.cameraFilePrefix, "AUV_");
    std::strcpy(serverSettings.configFilePath, "./Skerrow.ini");
    std::strcpy(serverSettings.triggerPortName, "COM1");
    serverSettings.triggerBaudRate = 1200;
    serverSettings.triggerBits = 8;
    std::strcpy(serverSettings.triggerParity, "N");
    serverSettings.triggerStop = 1;
  }
  void TearDown() override {
    delete messageQueue;
    messageQueue = nullptr;
    CoreTest::TearDown();
  }
  // Runs the bytes as a request of session 42 and returns the replies
  // queued, as hex lines; each must be addressed to that session.
  std::vector<std::string> run(const Bytes& bytes) {
    processCommandMessage(bytes.data(), static_cast<std::uint32_t>(bytes.size()), 42);
    std::vector<std::string> replies;
    unsigned char out[kMaxMessage];
    std::uint32_t count = 0;
    SessionId session = kNoSession;
    while (messageQueue->popReply(out, &count, &session)) {
      EXPECT_EQ(42u, session);
      replies.push_back(toHex(Bytes(out, out + count)));
    }
    return replies;
  }
};

struct Case {
  const char* name;
  Bytes bytes;
  std::vector<std::string> replies;
  std::vector<std::string> log;
};

TEST_F(CommandTest, EveryTypeAndActionGetsItsReplyAndLogLines) {
  const std::string none = "01 18 00 00 00 00 00 00 00 00 00 00 00";
  const Case cases[] = {
      {"none", request(0, 0), {none}, {"processCommandMessage(): received SKERROW_MESSAGE_NONE"}},
      {"none with action 3", request(0, 3), {}, {}},
      {"echo", request(1, 1), {"01 18 00 00 01 00 00 00 00 00 00 00 00"}, {}},
      {"connect get",
       request(2, 0),
       {"01 18 00 00 02 00 00 00 00 04 00 00 00 00 00 00 00"},
       {"processCommandMessage(): received SKERROW_MESSAGE_CONNECT"}},
      {"pretrigger set 1",
       request(3, 1, int32(1)),
       {"01 18 00 00 03 00 00 00 00 04 00 00 00 01 00 00 00"},
       {}},
      {"acquisition set 1",
       request(4, 1, int32(1)),
       {"01 18 00 00 04 00 00 00 00 04 00 00 00 01 00 00 00"},
       {"processCommandMessage(): received SKERROW_MESSAGE_ACQUISITION",
        "processCommandMessage(): Started acquisition."}},
      {"acquisition set 2 changes nothing",
       request(4, 1, int32(2)),
       {"01 18 00 00 04 00 00 00 00 04 00 00 00 00 00 00 00"},
       {"processCommandMessage(): received SKERROW_MESSAGE_ACQUISITION"}},
      {"lasers on",
       request(5, 1, int32(1)),
       {"01 18 00 00 05 00 00 00 00 04 00 00 00 01 00 00 00"},
       {"processCommandMessage(): Lasers on."}},
      {"lasers get", request(5, 0), {"01 18 00 00 05 00 00 00 00 04 00 00 00 00 00 00 00"}, {}},
      {"interval get",
       request(6, 0),
       {"01 18 00 00 06 00 00 00 00 04 00 00 00 E8 03 00 00"},
       {"processCommandMessage(): received SKERROW_MESSAGE_INTERVAL "}},
      {"interval set 500",
       request(6, 1, int32(500)),
       {"01 18 00 00 06 00 00 00 00 04 00 00 00 F4 01 00 00"},
       {"processCommandMessage(): received SKERROW_MESSAGE_INTERVAL ",
        "processCommandMessage(): Interval set to 500."}},
      {"interval set with length 0 and its argument behind",
       fromHex("01 18 00 01 06 00 00 00 00 00 00 00 00 F4 01 00 00"),
       {"01 18 00 00 06 00 00 00 00 04 00 00 00 F4 01 00 00"},
       {"processCommandMessage(): received SKERROW_MESSAGE_INTERVAL ",
        "processCommandMessage(): Interval set to 500."}},
      {"interval set without its argument",
       fromHex("01 18 00 01 06 00 00 00 00 04 00 00 00 F4 01"),
       {"01 18 00 00 06 00 00 00 00 04 00 00 00 E8 03 00 00"},
       {"processCommandMessage(): received SKERROW_MESSAGE_INTERVAL ",
        "processCommandMessage(): ERROR Set request without its argument."}},
      {"image count with action 3",
       request(9, 3),
       {},
       {"processCommandMessage(): received SKERROW_MESSAGE_IMAGECOUNT "}},
      {"image count",
       request(9, 1),
       {"01 18 00 00 09 00 00 00 00 04 00 00 00 00 00 00 00"},
       {"processCommandMessage(): received SKERROW_MESSAGE_IMAGECOUNT "}},
      {"trigger count",
       request(10, 0),
       {"01 18 00 00 0A 00 00 00 00 04 00 00 00 00 00 00 00"},
       {"processCommandMessage(): received SKERROW_MESSAGE_TRIGGERCOUNT "}},
      {"type 12",
       request(12, 1),
       {"01 18 00 02 03 00 00 00 00 00 00 00 00"},
       {"processCommandMessage(): received UNKNOWN MESSAGE "}},
      {"type 8 with action 7",
       request(8, 7),
       {"01 18 00 02 03 00 00 00 00 00 00 00 00"},
       {"processCommandMessage(): received UNKNOWN MESSAGE "}},
      {"swapped signature",
       fromHex("18 01 00 00 06 00 00 00 00 00 00 00 00"),
       {},
       {"processCommandMessage(): ERROR, Malformed message received."}},
      {"one byte",
       fromHex("01"),
       {},
       {"processCommandMessage(): ERROR, Malformed message received."}},
  };
  for (const Case& c : cases) {
    // A fresh state and log for each case.
    TearDown();
    SetUp();
    EXPECT_EQ(c.replies, run(c.bytes)) << c.name;
    EXPECT_EQ(c.log, logEntries()) << c.name;
  }
}

TEST_F(CommandTest, ConnectWhileConnectedDoesNotCallTheHandler) {
  serverStatus.cameraConnected = true;  // cameraHandler is null: a call would crash
  EXPECT_EQ(std::vector<std::string>{"01 18 00 00 02 00 00 00 00 04 00 00 00 01 00 00 00"},
            run(request(2, 1, int32(1))));
}

TEST_F(CommandTest, ConnectWithoutACameraFails) {
  EXPECT_EQ(std::vector<std::string>{"01 18 00 00 02 00 00 00 00 04 00 00 00 00 00 00 00"},
            run(request(2, 1, int32(1))));
  const std::vector<std::string> expected = {
      "processCommandMessage(): received SKERROW_MESSAGE_CONNECT",
      "processCommandMessage(): ERROR Camera failed to connect."};
  EXPECT_EQ(expected, logEntries());
}

TEST_F(CommandTest, TextRepliesCarryTheirWholeFields) {
  std::vector<std::string> replies = run(request(7, 0));
  ASSERT_EQ(1u, replies.size());
  Bytes expected = fromHex("01 18 00 00 07 00 00 00 00 01 01 00 00 41 55 56 5F");
  expected.resize(13 + 257, 0);
  EXPECT_EQ(toHex(expected), replies[0]);

  replies = run(request(13, 0));
  ASSERT_EQ(1u, replies.size());
  const Bytes port = fromHex(replies[0]);
  ASSERT_EQ(13u + 265u, port.size());
  EXPECT_EQ(Bytes({0x09, 0x01, 0, 0}), Bytes(port.begin() + 9, port.begin() + 13));
  EXPECT_EQ("COM1", std::string(reinterpret_cast<const char*>(port.data() + 13)));
  EXPECT_EQ(Bytes({0xB0, 0x04, 0, 0, 0x08, 0x00, 'N', 0x01, 0x00}),
            Bytes(port.begin() + 13 + 256, port.end()));
}

TEST_F(CommandTest, PrefixIsTakenOnlyWhenTerminatedInsideTheMessageAndShortEnough) {
  auto prefixRequest = [](const std::string& text, bool terminated) {
    Bytes payload(text.begin(), text.end());
    if (terminated) payload.push_back(0);
    return request(7, 1, payload);
  };
  run(prefixRequest("IMG_", true));
  EXPECT_STREQ("IMG_", serverStatus.cameraFilePrefix);
  EXPECT_EQ("processCommandMessage(): Set File prefix to: IMG_", logEntries().back());

  const struct {
    std::string text;
    bool terminated;
  } refused[] = {{"NOZERO", false}, {std::string(128, 'p'), true}};
  for (const auto& r : refused) {
    const std::vector<std::string> replies = run(prefixRequest(r.text, r.terminated));
    EXPECT_STREQ("IMG_", serverStatus.cameraFilePrefix);
    EXPECT_EQ("processCommandMessage(): ERROR Prefix too long or not terminated.",
              logEntries().back());
    ASSERT_EQ(1u, replies.size()) << "answered with the unchanged prefix";
    EXPECT_EQ(0u, replies[0].find("01 18 00 00 07 00 00 00 00 01 01 00 00 49 4D 47 5F 00"));
  }
  run(prefixRequest(std::string(127, 'q'), true));
  EXPECT_EQ(std::string(127, 'q'), serverStatus.cameraFilePrefix);
}

TEST_F(CommandTest, IntervalReplyKeepsTheLastReadValueWhenTheMutexIsHeld) {
  serverStatus.cameraInterval = 250;
  run(request(6, 0));
  std::vector<std::string> replies;
  whileStatusMutexHeldElsewhere(
      [](void* out) {
        const Bytes get = request(6, 0);
        processCommandMessage(get.data(), static_cast<std::uint32_t>(get.size()), 1);
        unsigned char bytes[kMaxMessage];
        std::uint32_t count = 0;
        SessionId session = kNoSession;
        auto* list = static_cast<std::vector<std::string>*>(out);
        while (messageQueue->popReply(bytes, &count, &session))
          list->push_back(toHex(Bytes(bytes, bytes + count)));
      },
      &replies);
  serverStatus.cameraInterval = 999;
  ASSERT_EQ(1u, replies.size());
  EXPECT_EQ("01 18 00 00 06 00 00 00 00 04 00 00 00 FA 00 00 00", replies[0]);
}

// With an image root, a prefix whose folder lies outside it is refused with
// its reason and answered with the prefix unchanged; without one, anything
// goes as before.
TEST_F(CommandTest, PrefixOutsideTheImageRootIsRefused) {
  const std::filesystem::path root = dir_.path() / "root";
  std::filesystem::create_directories(root);
  std::filesystem::create_directories(dir_.path() / "other");
  ASSERT_LT(root.string().size(), sizeof serverSettings.cameraImageRoot);
  std::strcpy(serverSettings.cameraImageRoot, root.string().c_str());
  const std::string inside = root.string() + "/IMG_";
  struct PrefixCase {
    std::string prefix;
    bool taken;
  };
  std::vector<PrefixCase> cases = {
      {inside, true},
      {root.string() + "/../IMG_", false},
      {dir_.file("other/IMG_"), false},
      {"IMG_", false},  // the working folder
  };
  // Windows grants symbolic links only with a privilege: tested where it can.
  std::error_code error;
  std::filesystem::create_directory_symlink(dir_.path() / "other", root / "out", error);
  if (!error) cases.push_back({(root / "out").string() + "/IMG_", false});
  for (const PrefixCase& c : cases) {
    std::strcpy(serverStatus.cameraFilePrefix, "AUV_");
    const Bytes text(c.prefix.begin(), c.prefix.end() + 1);
    const std::vector<std::string> replies = run(request(7, 1, text));
    const std::string now = c.taken ? c.prefix : "AUV_";
    EXPECT_EQ(now, serverStatus.cameraFilePrefix) << c.prefix;
    EXPECT_EQ(c.taken ? "processCommandMessage(): Set File prefix to: " + c.prefix
                      : "processCommandMessage(): ERROR Prefix " + c.prefix +
                            " refused, its folder lies outside the image root.",
              logEntries().back());
    ASSERT_EQ(1u, replies.size()) << c.prefix;
    EXPECT_EQ(now, std::string(reinterpret_cast<const char*>(fromHex(replies[0]).data() + 13)));
  }
  serverSettings.cameraImageRoot[0] = '\0';
  const std::string anywhere = "../../x";
  run(request(7, 1, Bytes(anywhere.begin(), anywhere.end() + 1)));
  EXPECT_EQ(anywhere, serverStatus.cameraFilePrefix);
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "channel/message_queue.h"
#include "channel/command_message.h"
#include "channel/wire.h"
#include "core/server_state.h"
#include "platform/clock.h"
#include "support/listener_fixture.h"
#include "support/message_bytes.h"
#include "tools/skerrowctl/ctl_client.h"
#include "tools/skerrowctl/ctl_request.h"

namespace {

using testing_support::Bytes;

Bytes wireOf(const CtlRequest& request) {
  CommandMessage message;
  message.setMessage(request.type, request.action,
                     request.payload.empty() ? nullptr : request.payload.data(),
                     static_cast<std::uint32_t>(request.payload.size()));
  return Bytes(message.bytes(), message.bytes() + message.size());
}

struct RequestCase {
  std::vector<std::string> words;
  const char* wire;  // nullptr: refused
};

TEST(CtlRequestTest, CommandLinesBecomeTheirRequests) {
  const RequestCase cases[] = {
      {{"interval"}, "01 18 00 00 06 00 00 00 00 00 00 00 00"},
      {{"interval", "250"}, "01 18 00 01 06 00 00 00 00 04 00 00 00 FA 00 00 00"},
      {{"interval", "-5"}, "01 18 00 01 06 00 00 00 00 04 00 00 00 FB FF FF FF"},
      {{"connect", "1"}, "01 18 00 01 02 00 00 00 00 04 00 00 00 01 00 00 00"},
      {{"lasers", "0"}, "01 18 00 01 05 00 00 00 00 04 00 00 00 00 00 00 00"},
      {{"acquire"}, "01 18 00 00 04 00 00 00 00 00 00 00 00"},
      {{"pretrigger", "1"}, "01 18 00 01 03 00 00 00 00 04 00 00 00 01 00 00 00"},
      {{"prefix", "D7_"}, "01 18 00 01 07 00 00 00 00 04 00 00 00 44 37 5F 00"},
      {{"images"}, "01 18 00 00 09 00 00 00 00 00 00 00 00"},
      {{"triggers"}, "01 18 00 00 0A 00 00 00 00 00 00 00 00"},
      {{"inifile"}, "01 18 00 00 0B 00 00 00 00 00 00 00 00"},
      {{"triggerport"}, "01 18 00 00 0D 00 00 00 00 00 00 00 00"},
      {{"none"}, "01 18 00 00 00 00 00 00 00 00 00 00 00"},
      {{"echo"}, "01 18 00 00 01 00 00 00 00 00 00 00 00"},
      {{"raw", "8", "1"}, "01 18 00 01 08 00 00 00 00 00 00 00 00"},
      {{"raw", "6", "7", "16"}, "01 18 00 07 06 00 00 00 00 04 00 00 00 10 00 00 00"},
      {{"connect", "2"}, nullptr},
      {{"interval", "fast"}, nullptr},
      {{"interval", "99999999999"}, nullptr},
      {{"images", "3"}, nullptr},
      {{"interval", "1", "2"}, nullptr},
      {{"raw", "70000", "0"}, nullptr},
      {{"raw", "6"}, nullptr},
      {{"shutter"}, nullptr},
      {{}, nullptr},
  };
  for (const RequestCase& c : cases) {
    std::string label;
    for (const std::string& word : c.words) label += word + " ";
    CtlRequest request;
    std::string error;
    const bool built = buildCtlRequest(c.words, &request, &error);
    if (c.wire == nullptr) {
      EXPECT_FALSE(built) << label;
      EXPECT_FALSE(error.empty()) << label;
      continue;
    }
    ASSERT_TRUE(built) << label << error;
    const Bytes wire = wireOf(request);
    EXPECT_EQ(c.wire, hexBytes(wire.data(), wire.size())) << label;
  }
}

Bytes replyWith(std::uint16_t type, const Bytes& payload, std::uint8_t action = 0) {
  return testing_support::messageBytes(type, action, payload);
}

Bytes int32(std::int32_t value) { return testing_support::int32Bytes(value); }

TEST(CtlReplyTest, RepliesReadAsOneLine) {
  Bytes prefix(kTextField, 0);
  prefix[0] = 'A';
  prefix[1] = '_';
  Bytes port(kTriggerPortPayload, 0);
  const std::string name = "/dev/ttyUSB0";
  std::copy(name.begin(), name.end(), port.begin());
  wire::writeU32(port.data() + 256, 1200);
  wire::writeU16(port.data() + 260, 8);
  port[262] = 'N';
  wire::writeU16(port.data() + 263, 1);
  const struct {
    Bytes reply;
    const char* line;
    bool unknown;
  } cases[] = {
      {replyWith(SKERROW_MESSAGE_INTERVAL, int32(1000)), "interval: 1000 ms", false},
      {replyWith(SKERROW_MESSAGE_CONNECT, int32(1)), "connect: 1", false},
      {replyWith(SKERROW_MESSAGE_IMAGECOUNT, int32(-1)), "images: 4294967295", false},
      {replyWith(SKERROW_MESSAGE_FILEPREFIX, prefix), "prefix: A_", false},
      {replyWith(SKERROW_MESSAGE_TRIGGERPORT, port),
       "triggerport: /dev/ttyUSB0 1200 baud, 8 data bits, parity N, 1 stop bits", false},
      {replyWith(SKERROW_MESSAGE_ECHO, {}), "echo: ok", false},
      {replyWith(SKERROW_UNKNOWN_TYPE_REPLY, {}, SKERROW_ACTION_UNKNOWN_TYPE),
       "unknown type: the server does not know the requested type", true},
      {replyWith(SKERROW_MESSAGE_INTERVAL, {}), "interval: reply without the expected payload",
       false},
      {Bytes{0x18, 0x01, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0}, "malformed reply", false},
  };
  for (const auto& c : cases) {
    bool unknown = !c.unknown;
    EXPECT_EQ(c.line, describeCtlReply(c.reply.data(), c.reply.size(), &unknown));
    EXPECT_EQ(c.unknown, unknown) << c.line;
  }
}

// A reply is shown only as the answer to its own request.
TEST(CtlReplyTest, OnlyAReplyOfTheRequestsTypeAnswersIt) {
  const auto ask = [](const char* command) {
    CtlRequest request;
    std::string error;
    EXPECT_TRUE(buildCtlRequest({command}, &request, &error)) << command;
    return request;
  };
  const struct {
    const char* command;
    Bytes reply;
    const char* error;  // nullptr: answers
  } cases[] = {
      {"interval", replyWith(SKERROW_MESSAGE_INTERVAL, int32(1000)), nullptr},
      {"images", replyWith(SKERROW_MESSAGE_INTERVAL, int32(1000)),
       "the reply is of type 6, not 9 as asked (interval: 1000 ms)"},
      {"images", replyWith(SKERROW_UNKNOWN_TYPE_REPLY, {}, SKERROW_ACTION_UNKNOWN_TYPE), nullptr},
      {"lasers", replyWith(SKERROW_MESSAGE_LASERPOWER, int32(1)), nullptr},
      {"lasers", replyWith(SKERROW_MESSAGE_INIFILE, Bytes(kTextField, 0)), nullptr},
      {"inifile", replyWith(SKERROW_MESSAGE_LASERPOWER, int32(1)),
       "the reply is of type 5, not 11 as asked (lasers: 1)"},
      {"interval", Bytes{0x18, 0x01, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0}, "malformed reply"},
  };
  for (const auto& c : cases) {
    std::string error;
    const bool answers = ctlReplyAnswers(ask(c.command), c.reply.data(), c.reply.size(), &error);
    EXPECT_EQ(c.error == nullptr, answers) << c.command << ": " << error;
    if (c.error != nullptr) {
      EXPECT_EQ(c.error, error);
    }
  }
}

// The server's listener with a stand-in for command processing: the test
// moves each request from the received queue to the reply queue.
class CtlServerTest : public ListenerTest {
 protected:
  void startAnswering() {
    answerer_ = std::thread([this] {
      while (!stop_) {
        unsigned char request[kMaxMessage];
        std::uint32_t count = 0;
        SessionId session = kNoSession;
        bool got = false;
        {
          platform::MutexHold hold(messageMutex, kMutexTimeoutMs);
          got = hold.obtained() && messageQueue->popReceived(request, &count, &session);
        }
        if (!got) {
          platform::sleepMs(1);
          continue;
        }
        CommandMessage in;
        in.takeReceived(request, count);
        const Bytes reply = in.type() == SKERROW_MESSAGE_INTERVAL
                                ? replyWith(SKERROW_MESSAGE_INTERVAL, int32(1000))
                                : replyWith(SKERROW_UNKNOWN_TYPE_REPLY, {}, 2);
        platform::MutexHold hold(messageMutex, kMutexTimeoutMs);
        messageQueue->pushReply(session, reply.data(), static_cast<std::uint32_t>(reply.size()));
      }
    });
  }
  void TearDown() override {
    stop_ = true;
    if (answerer_.joinable()) answerer_.join();
    ListenerTest::TearDown();
  }
  std::atomic<bool> stop_{false};
  std::thread answerer_;
};

TEST_F(CtlServerTest, IntervalIsAskedAndAnswered) {
  startServer();
  startAnswering();
  CtlConnection connection;
  std::string error;
  ASSERT_TRUE(connection.open("127.0.0.1", port_, 20000, &error)) << error;
  CtlRequest request;
  ASSERT_TRUE(buildCtlRequest({"interval"}, &request, &error));
  Bytes sent;
  Bytes reply;
  ASSERT_TRUE(connection.exchange(request, 20000, &sent, &reply, &error)) << error;
  bool unknown = true;
  EXPECT_EQ("interval: 1000 ms", describeCtlReply(reply.data(), reply.size(), &unknown));
  EXPECT_FALSE(unknown);
  ASSERT_TRUE(buildCtlRequest({"raw", "8", "0"}, &request, &error));
  ASSERT_TRUE(connection.exchange(request, 20000, &sent, &reply, &error)) << error;
  describeCtlReply(reply.data(), reply.size(), &unknown);
  EXPECT_TRUE(unknown);
}

TEST_F(CtlServerTest, SilentServerIsATimeout) {
  startServer();  // nobody answers
  CtlConnection connection;
  std::string error;
  ASSERT_TRUE(connection.open("127.0.0.1", port_, 20000, &error)) << error;
  CtlRequest request;
  ASSERT_TRUE(buildCtlRequest({"images"}, &request, &error));
  Bytes sent;
  Bytes reply;
  EXPECT_FALSE(connection.exchange(request, 200, &sent, &reply, &error));
  EXPECT_EQ("no reply within the time-out", error);
}

TEST_F(CtlServerTest, RefusedConnectionIsReported) {
  startServer();
  const int port = port_;
  stopServer();  // the port is free again and nobody listens
  CtlConnection connection;
  std::string error;
  EXPECT_FALSE(connection.open("127.0.0.1", port, 20000, &error));
  EXPECT_NE(std::string::npos, error.find("cannot connect to 127.0.0.1:")) << error;
}

}  // namespace

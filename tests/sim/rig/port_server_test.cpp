// The rig's remote serial port server against the project's own client
// line and trigger driver, and against raw bytes for what the client never
// sends.
#include "rig/port_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/rfc2217_codec.h"
#include "platform/rfc2217_line.h"
#include "platform/socket.h"
#include "sim/rig/rig_wait.h"
#include "trigger/trigger_serial_port.h"

namespace {

namespace tn = platform::rfc2217;

class PortServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::socketStartup());
    server_ = std::make_unique<rig::PortServer>(
        rig::PortServer::Handlers{[this](const std::uint8_t* data, std::size_t size) {
                                    std::lock_guard<std::mutex> lock(mutex_);
                                    data_.insert(data_.end(), data, data + size);
                                  },
                                  [this](bool on) {
                                    std::lock_guard<std::mutex> lock(mutex_);
                                    rts_.push_back(on);
                                  }});
    ASSERT_TRUE(server_->start(0));
  }
  void TearDown() override {
    server_.reset();
    platform::socketCleanup();
  }

  std::vector<std::uint8_t> data() {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
  }
  std::vector<bool> rts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rts_;
  }

  // A raw connection: sends bytes and collects what comes back.
  struct Raw {
    platform::SocketHandle socket = platform::kNoSocket;
    ~Raw() {
      if (socket != platform::kNoSocket) platform::socketClose(socket);
    }
    bool send(const tn::Bytes& bytes) {
      return platform::socketSend(socket, bytes.data(), static_cast<int>(bytes.size())) ==
             static_cast<int>(bytes.size());
    }
    // Reads until events holds what done wants, or the deadline.
    bool readUntil(std::vector<tn::Event>* events,
                   const std::function<bool(const std::vector<tn::Event>&)>& done) {
      return rigtest::waitFor([&] {
        platform::SocketSet set;
        set.add(socket);
        if (platform::socketSelect(&set, nullptr, 1000) > 0) {
          std::uint8_t buffer[512];
          int received = 0;
          if (platform::socketReceive(socket, buffer, sizeof buffer, &received) ==
              platform::SocketResult::kOk) {
            parser.feed(buffer, static_cast<std::size_t>(received), events);
          }
        }
        return done(*events);
      });
    }
    tn::Parser parser;
  };

  void connectRaw(Raw* raw) {
    raw->socket = platform::socketOpenTcp();
    ASSERT_NE(raw->socket, platform::kNoSocket);
    ASSERT_TRUE(platform::socketConnect(raw->socket, "127.0.0.1", server_->port()));
  }

  std::unique_ptr<rig::PortServer> server_;
  std::mutex mutex_;
  std::vector<std::uint8_t> data_;
  std::vector<bool> rts_;
};

bool hasNegotiation(const std::vector<tn::Event>& events, std::uint8_t verb, std::uint8_t option) {
  for (const tn::Event& event : events) {
    if (event.kind == tn::Event::Kind::kNegotiation && event.verb == verb &&
        event.option == option) {
      return true;
    }
  }
  return false;
}

bool hasReply(const std::vector<tn::Event>& events, const tn::Bytes& payload) {
  for (const tn::Event& event : events) {
    if (event.kind == tn::Event::Kind::kSubnegotiation && event.option == tn::OPTION_COM_PORT &&
        event.payload == payload) {
      return true;
    }
  }
  return false;
}

TEST_F(PortServerTest, DriverOpensAppliesSettingsAndMovesRts) {
  triggerSerialPort port(server_->portName().c_str());
  ASSERT_TRUE(port.isOpen);
  ASSERT_TRUE(port.changePortSettings(9600, 7, 'E', 2));
  const rig::PortSettings applied = server_->settings();
  EXPECT_EQ(applied.baudRate, 9600u);
  EXPECT_EQ(applied.dataSize, 7);
  EXPECT_EQ(applied.parity, tn::PARITY_EVEN);
  EXPECT_EQ(applied.stopSize, tn::STOPSIZE_TWO);

  ASSERT_TRUE(port.setRTS(true));
  ASSERT_TRUE(port.setRTS(false));
  // The driver's open holds RTS inactive first, so the sequence ends with
  // the two changes asked for here.
  ASSERT_TRUE(rigtest::waitFor([&] {
    const auto seen = rts();
    return seen.size() >= 2 && seen[seen.size() - 2] && !seen.back();
  }));
  port.closeSerialPort();
}

TEST_F(PortServerTest, DataBytesArriveUnescaped) {
  auto line = platform::createRfc2217SerialLine(server_->portName().c_str());
  ASSERT_TRUE(line->open());
  ASSERT_TRUE(line->transmitByte(0));
  ASSERT_TRUE(line->transmitByte(0xFF));
  ASSERT_TRUE(line->transmitByte(0));
  ASSERT_TRUE(rigtest::waitFor([&] { return data().size() >= 3; }));
  EXPECT_EQ(data(), (std::vector<std::uint8_t>{0, 0xFF, 0}));
  line->close();
}

TEST_F(PortServerTest, AClientMayComeBackAfterLeaving) {
  for (int round = 0; round < 2; ++round) {
    auto line = platform::createRfc2217SerialLine(server_->portName().c_str());
    ASSERT_TRUE(line->open()) << round;
    ASSERT_TRUE(line->transmitByte(0));
    ASSERT_TRUE(line->close());
  }
  ASSERT_TRUE(rigtest::waitFor([&] { return data().size() == 2; }));
}

TEST_F(PortServerTest, UnsupportedOptionsAreDeclinedAndSupportedOnesAgreedOnce) {
  Raw raw;
  connectRaw(&raw);
  tn::Bytes offer;
  tn::appendNegotiation(tn::WILL, tn::OPTION_COM_PORT, &offer);
  tn::appendNegotiation(tn::WILL, tn::OPTION_COM_PORT, &offer);  // repeated: no second answer
  tn::appendNegotiation(tn::WILL, 24, &offer);                   // terminal type
  tn::appendNegotiation(tn::DO, 1, &offer);                      // echo
  tn::appendNegotiation(tn::DO, tn::OPTION_SUPPRESS_GO_AHEAD, &offer);
  ASSERT_TRUE(raw.send(offer));
  std::vector<tn::Event> events;
  ASSERT_TRUE(raw.readUntil(&events, [](const std::vector<tn::Event>& seen) {
    return hasNegotiation(seen, tn::DO, tn::OPTION_COM_PORT) &&
           hasNegotiation(seen, tn::DONT, 24) && hasNegotiation(seen, tn::WONT, 1) &&
           hasNegotiation(seen, tn::WILL, tn::OPTION_SUPPRESS_GO_AHEAD);
  }));
  int comPortAnswers = 0;
  for (const tn::Event& event : events) {
    if (event.kind == tn::Event::Kind::kNegotiation && event.option == tn::OPTION_COM_PORT) {
      ++comPortAnswers;
    }
  }
  EXPECT_EQ(comPortAnswers, 1);
}

TEST_F(PortServerTest, QuestionsAndRefusedValuesAreAnsweredWithWhatIsInForce) {
  Raw raw;
  connectRaw(&raw);
  tn::Bytes request;
  tn::appendNegotiation(tn::WILL, tn::OPTION_COM_PORT, &request);
  const std::uint8_t askRate[4] = {0, 0, 0, 0};
  tn::appendComPortCommand(tn::SET_BAUDRATE, askRate, 4, &request);
  const std::uint8_t badSize = 9;
  tn::appendComPortCommand(tn::SET_DATASIZE, &badSize, 1, &request);
  const std::uint8_t askRts = 10;
  tn::appendComPortCommand(tn::SET_CONTROL, &askRts, 1, &request);
  // A command with a value of the wrong length is skipped, not answered.
  const std::uint8_t shortRate[2] = {0, 1};
  tn::appendComPortCommand(tn::SET_BAUDRATE, shortRate, 2, &request);
  const std::uint8_t rtsOn = tn::CONTROL_RTS_ON;
  tn::appendComPortCommand(tn::SET_CONTROL, &rtsOn, 1, &request);
  ASSERT_TRUE(raw.send(request));
  std::vector<tn::Event> events;
  ASSERT_TRUE(raw.readUntil(&events, [](const std::vector<tn::Event>& seen) {
    return hasReply(seen, {101, 0, 0, 0x25, 0x80}) && hasReply(seen, {102, 8}) &&
           hasReply(seen, {105, 12}) && hasReply(seen, {105, 11});
  }));
  EXPECT_EQ(rts(), std::vector<bool>{true});
}

TEST_F(PortServerTest, SecondClientIsTurnedAwayWhileOneIsServed) {
  auto first = platform::createRfc2217SerialLine(server_->portName().c_str());
  ASSERT_TRUE(first->open());
  platform::Rfc2217Timing quick;
  quick.negotiationMs = 300;
  auto second = platform::createRfc2217SerialLine(server_->portName().c_str(), quick);
  EXPECT_FALSE(second->open());
  EXPECT_TRUE(first->transmitByte(0));
  ASSERT_TRUE(rigtest::waitFor([&] { return data().size() == 1; }));
}

TEST_F(PortServerTest, StopEndsTheThreadWhileAClientIsConnected) {
  auto line = platform::createRfc2217SerialLine(server_->portName().c_str());
  ASSERT_TRUE(line->open());
  server_->stop();
  // The server closed the connection: the next call sees it.
  EXPECT_TRUE(rigtest::waitFor([&] { return !line->transmitByte(0); }));
}

}  // namespace

// The remote serial line against a small server on loopback, directly and
// under the trigger driver.
#include "platform/rfc2217_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/rfc2217/test_port_server.h"
#include "platform/socket.h"
#include "trigger/trigger_serial_port.h"

namespace {

namespace tn = platform::rfc2217;
using testing_support::TestPortServer;
using Record = TestPortServer::Record;

// Short waits for silent servers; they bound the test, nothing measures them.
platform::Rfc2217Timing quickTiming() {
  platform::Rfc2217Timing timing;
  timing.negotiationMs = 300;
  timing.confirmationMs = 300;
  return timing;
}

TestPortServer::Options serverOptions(
    TestPortServer::Negotiation negotiation,
    TestPortServer::Confirmation confirmation = TestPortServer::Confirmation::kEcho) {
  TestPortServer::Options options;
  options.negotiation = negotiation;
  options.confirmation = confirmation;
  return options;
}

bool hasCommand(const Record& record, const tn::Bytes& payload) {
  for (const tn::Bytes& command : record.commands) {
    if (command == payload) return true;
  }
  return false;
}

bool hasNegotiation(const Record& record, std::uint8_t verb, std::uint8_t option) {
  for (const auto& negotiation : record.negotiations) {
    if (negotiation.first == verb && negotiation.second == option) return true;
  }
  return false;
}

platform::SerialDcb settings(std::uint32_t rate, std::uint8_t size, std::uint8_t parity,
                             std::uint8_t stop) {
  platform::SerialDcb dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = rate;
  dcb.fRtsControl = platform::kSerialRtsControlEnable;
  dcb.ByteSize = size;
  dcb.Parity = parity;
  dcb.StopBits = stop;
  return dcb;
}

class Rfc2217LineTest : public testing::Test {
 protected:
  std::unique_ptr<platform::SerialLine> openLine(TestPortServer* server) {
    EXPECT_TRUE(server->listening());
    auto line = platform::createRfc2217SerialLine(server->portName().c_str(), quickTiming());
    EXPECT_TRUE(line->open()) << "error " << line->lastError();
    return line;
  }

  // The driver over a line with short waits; its messages land in *printed.
  std::unique_ptr<triggerSerialPort> openPort(TestPortServer* server, std::string* printed) {
    const std::string name = server->portName();
    testing::internal::CaptureStderr();
    auto port = std::make_unique<triggerSerialPort>(
        name.c_str(), platform::createRfc2217SerialLine(name.c_str(), quickTiming()));
    *printed = testing::internal::GetCapturedStderr();
    return port;
  }
};

TEST(Rfc2217PortName, PrefixSelectsTheRemoteLine) {
  EXPECT_TRUE(platform::isRfc2217PortName("rfc2217://host:1"));
  EXPECT_TRUE(platform::isRfc2217PortName("rfc2217://"));
  EXPECT_FALSE(platform::isRfc2217PortName("rfc2217:/host:1"));
  EXPECT_FALSE(platform::isRfc2217PortName("COM1"));
  EXPECT_FALSE(platform::isRfc2217PortName("/dev/ttyUSB0"));
  EXPECT_FALSE(platform::isRfc2217PortName(""));
  EXPECT_FALSE(platform::isRfc2217PortName(nullptr));
}

TEST(Rfc2217PortName, MalformedAddressIsNoSuchPort) {
  const char* const names[] = {
      "rfc2217://",         "rfc2217://host",       "rfc2217://host:",    "rfc2217://:4000",
      "rfc2217://host:0",   "rfc2217://host:65536", "rfc2217://host:12x", "rfc2217://host:-1",
      "rfc2217://host: 80", "rfc2217://host:+80",
  };
  for (const char* name : names) {
    auto line = platform::createRfc2217SerialLine(name, quickTiming());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(line->open()) << name;
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(platform::kSerialNoSuchPort, line->lastError()) << name;
    EXPECT_NE(std::string::npos, printed.find("is not rfc2217://HOST:PORT")) << printed;
  }
}

TEST_F(Rfc2217LineTest, FactoryDispatchesByPrefix) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept));
  auto line = platform::createSerialLine(server.portName().c_str());
  ASSERT_NE(nullptr, line);
  EXPECT_TRUE(line->open()) << line->lastError();
  EXPECT_TRUE(server.waitUntil(
      [](const Record& r) { return hasNegotiation(r, tn::WILL, tn::OPTION_COM_PORT); }));
}

TEST_F(Rfc2217LineTest, AcceptedOfferOpensAndUnsupportedRequestsAreDeclined) {
  TestPortServer::Options options = serverOptions(TestPortServer::Negotiation::kAccept);
  options.chatter = true;  // DO 24, WILL 1, a NOP, a notification and data
  TestPortServer server(options);
  auto line = openLine(&server);
  // The answers come when the line next reads; any call makes it read.
  EXPECT_TRUE(line->transmitByte(0x00));
  EXPECT_TRUE(server.waitUntil([](const Record& r) {
    return hasNegotiation(r, tn::WONT, 24) && hasNegotiation(r, tn::DONT, 1) && !r.data.empty();
  }));
  const Record record = server.snapshot();
  EXPECT_FALSE(hasNegotiation(record, tn::WILL, 24));
  EXPECT_FALSE(hasNegotiation(record, tn::DO, 1));
  EXPECT_TRUE(hasNegotiation(record, tn::WILL, tn::OPTION_TRANSMIT_BINARY));
  EXPECT_EQ(tn::Bytes{0x00}, record.data);
}

TEST_F(Rfc2217LineTest, PortInputIsSkippedWhateverItsAmount) {
  TestPortServer::Options options = serverOptions(TestPortServer::Negotiation::kAccept);
  options.floodBytes = 300000;  // more than one call reads, with 0xFF among it
  TestPortServer server(options);
  auto line = platform::createRfc2217SerialLine(server.portName().c_str());  // default waits
  ASSERT_TRUE(line->open()) << line->lastError();
  // The confirmations queue behind all that input.
  EXPECT_TRUE(
      line->setState(settings(2400, 8, platform::kSerialNoParity, platform::kSerialOneStopBit)))
      << line->lastError();
  EXPECT_TRUE(line->transmitByte(0x00));
  EXPECT_TRUE(server.waitUntil([](const Record& r) { return r.data.size() == 1; }));
}

TEST_F(Rfc2217LineTest, RefusedOptionIsAnOpenFailure) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kRefuse));
  std::string printed;
  auto port = openPort(&server, &printed);
  EXPECT_FALSE(port->isOpen);
  EXPECT_NE(std::string::npos, printed.find("refused the COM port option")) << printed;
  EXPECT_NE(std::string::npos,
            printed.find("triggerSerialPort::openSerialPort(): ERROR: Unknown Error " +
                         std::to_string(platform::kRfc2217Refused) + "\n"))
      << printed;
  EXPECT_NE(std::string::npos, printed.find("triggerSerialPort(): ERROR Cannot open serial port `" +
                                            server.portName() + "'\n"))
      << printed;
  EXPECT_FALSE(port->sendTrigger());
}

TEST_F(Rfc2217LineTest, SilentServerIsAnOpenFailure) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kSilent));
  std::string printed;
  auto port = openPort(&server, &printed);
  EXPECT_FALSE(port->isOpen);
  EXPECT_NE(std::string::npos, printed.find("did not answer the COM port option offer")) << printed;
  EXPECT_NE(std::string::npos,
            printed.find("Unknown Error " + std::to_string(platform::kRfc2217NoAnswer)))
      << printed;
}

TEST_F(Rfc2217LineTest, NoListenerIsAnOpenFailureWithTheSocketError) {
  platform::socketStartup();
  // A port that was just free: bind, note it, close.
  const platform::SocketHandle probe = platform::socketOpenTcp();
  ASSERT_NE(platform::kNoSocket, probe);
  ASSERT_TRUE(platform::socketBind(probe, "127.0.0.1", 0));
  const int port = platform::socketLocalPort(probe);
  platform::socketClose(probe);
  const std::string name = "rfc2217://127.0.0.1:" + std::to_string(port);
  auto line = platform::createRfc2217SerialLine(name.c_str(), quickTiming());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(line->open());
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(0u, line->lastError());
  EXPECT_NE(platform::kSerialNoSuchPort, line->lastError());
  EXPECT_NE(std::string::npos, printed.find("Cannot connect to 127.0.0.1:")) << printed;
  platform::socketCleanup();
}

TEST_F(Rfc2217LineTest, DriverOpensWithRtsLowAnd4800ThenAppliesSettings) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept));
  std::string printed;
  auto port = openPort(&server, &printed);
  ASSERT_TRUE(port->isOpen) << printed;
  EXPECT_EQ("", printed);
  EXPECT_EQ(4800u, port->dcb.BaudRate);
  EXPECT_EQ(platform::kSerialRtsControlDisable, port->dcb.fRtsControl);
  Record record = server.snapshot();
  EXPECT_TRUE(hasCommand(record, {tn::SET_BAUDRATE, 0x00, 0x00, 0x12, 0xC0}));
  EXPECT_TRUE(hasCommand(record, {tn::SET_DATASIZE, 8}));
  EXPECT_TRUE(hasCommand(record, {tn::SET_PARITY, tn::PARITY_NONE}));
  EXPECT_TRUE(hasCommand(record, {tn::SET_STOPSIZE, tn::STOPSIZE_ONE}));
  EXPECT_EQ(std::vector<std::uint8_t>{tn::CONTROL_RTS_OFF}, record.controls);

  ASSERT_TRUE(port->changePortSettings(1200, 7, 'E', 2));
  record = server.snapshot();
  EXPECT_TRUE(hasCommand(record, {tn::SET_BAUDRATE, 0x00, 0x00, 0x04, 0xB0}));
  EXPECT_TRUE(hasCommand(record, {tn::SET_DATASIZE, 7}));
  EXPECT_TRUE(hasCommand(record, {tn::SET_PARITY, tn::PARITY_EVEN}));
  EXPECT_TRUE(hasCommand(record, {tn::SET_STOPSIZE, tn::STOPSIZE_TWO}));
  // RTS control did not change, so RTS was not moved again.
  EXPECT_EQ(1u, record.controls.size());
}

TEST_F(Rfc2217LineTest, GetStateReturnsWhatWasLastApplied) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept));
  auto line = openLine(&server);
  const platform::SerialDcb wanted =
      settings(57600, 6, platform::kSerialMarkParity, platform::kSerialOne5StopBits);
  ASSERT_TRUE(line->setState(wanted)) << line->lastError();
  platform::SerialDcb read{};
  ASSERT_TRUE(line->getState(&read));
  EXPECT_EQ(57600u, read.BaudRate);
  EXPECT_EQ(6, read.ByteSize);
  EXPECT_EQ(platform::kSerialMarkParity, read.Parity);
  EXPECT_EQ(platform::kSerialOne5StopBits, read.StopBits);
  const Record record = server.snapshot();
  EXPECT_TRUE(hasCommand(record, {tn::SET_PARITY, tn::PARITY_MARK}));
  EXPECT_TRUE(hasCommand(record, {tn::SET_STOPSIZE, tn::STOPSIZE_ONE5}));
}

TEST_F(Rfc2217LineTest, ConfirmationsInSmallPiecesAreRead) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept,
                                      TestPortServer::Confirmation::kEchoSplit));
  auto line = platform::createRfc2217SerialLine(server.portName().c_str());  // default waits
  ASSERT_TRUE(line->open()) << line->lastError();
  EXPECT_TRUE(line->setState(settings(0x00FFFF01u, 8, platform::kSerialNoParity,
                                      platform::kSerialOneStopBit)))
      << line->lastError();  // a rate with 0xFF bytes, doubled both ways
}

TEST_F(Rfc2217LineTest, RefusedValueFailsSetState) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept,
                                      TestPortServer::Confirmation::kRefuseBaud));
  auto line = openLine(&server);
  platform::SerialDcb before{};
  ASSERT_TRUE(line->getState(&before));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(
      line->setState(settings(4800, 8, platform::kSerialNoParity, platform::kSerialOneStopBit)));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(platform::kRfc2217BadValue, line->lastError());
  platform::SerialDcb after{};
  ASSERT_TRUE(line->getState(&after));
  EXPECT_EQ(before.BaudRate, after.BaudRate);
  // The rate the server does take still works.
  EXPECT_TRUE(
      line->setState(settings(9600, 8, platform::kSerialNoParity, platform::kSerialOneStopBit)));
}

TEST_F(Rfc2217LineTest, RefusedValueFailsTheDriversOpen) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept,
                                      TestPortServer::Confirmation::kRefuseBaud));
  std::string printed;
  auto port = openPort(&server, &printed);
  EXPECT_FALSE(port->isOpen);
  EXPECT_NE(std::string::npos, printed.find("ERROR: Cannot set comm port state. ERRNO " +
                                            std::to_string(platform::kRfc2217BadValue) + "\n"))
      << printed;
}

TEST_F(Rfc2217LineTest, MissingConfirmationFailsSetState) {
  TestPortServer server(
      serverOptions(TestPortServer::Negotiation::kAccept, TestPortServer::Confirmation::kNone));
  auto line = openLine(&server);
  EXPECT_FALSE(
      line->setState(settings(4800, 8, platform::kSerialNoParity, platform::kSerialOneStopBit)));
  EXPECT_EQ(platform::kRfc2217NoAnswer, line->lastError());
}

TEST_F(Rfc2217LineTest, ValuesTheProtocolCannotCarryAreRefusedUnsent) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept));
  auto line = openLine(&server);
  platform::SerialDcb nine =
      settings(4800, 9, platform::kSerialNoParity, platform::kSerialOneStopBit);
  platform::SerialDcb handshake =
      settings(4800, 8, platform::kSerialNoParity, platform::kSerialOneStopBit);
  handshake.fRtsControl = platform::kSerialRtsControlHandshake;
  const platform::SerialDcb badParity = settings(4800, 8, 9, platform::kSerialOneStopBit);
  const platform::SerialDcb zeroRate =
      settings(0, 8, platform::kSerialNoParity, platform::kSerialOneStopBit);
  for (const platform::SerialDcb& dcb : {nine, handshake, badParity, zeroRate}) {
    EXPECT_FALSE(line->setState(dcb));
    EXPECT_EQ(platform::kRfc2217BadValue, line->lastError());
  }
  EXPECT_TRUE(server.snapshot().commands.empty());
}

TEST_F(Rfc2217LineTest, RtsOnAndOffAreSetControl11And12) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept));
  auto line = openLine(&server);
  EXPECT_TRUE(line->setRts(true));
  EXPECT_TRUE(line->setRts(false));
  EXPECT_TRUE(line->setRts(true));
  EXPECT_TRUE(server.waitUntil([](const Record& r) { return r.controls.size() >= 3; }));
  EXPECT_EQ(
      (std::vector<std::uint8_t>{tn::CONTROL_RTS_ON, tn::CONTROL_RTS_OFF, tn::CONTROL_RTS_ON}),
      server.snapshot().controls);
}

TEST_F(Rfc2217LineTest, TriggerIsOneZeroDataByte) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept));
  std::string printed;
  auto port = openPort(&server, &printed);
  ASSERT_TRUE(port->isOpen) << printed;
  const std::size_t rawBefore = server.snapshot().raw.size();
  ASSERT_TRUE(port->sendTrigger());
  EXPECT_TRUE(server.waitUntil([&](const Record& r) { return r.raw.size() > rawBefore; }));
  const Record record = server.snapshot();
  EXPECT_EQ(tn::Bytes{0x00}, record.data);
  EXPECT_EQ(rawBefore + 1, record.raw.size());
}

TEST_F(Rfc2217LineTest, DataByte255IsDoubled) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept));
  auto line = openLine(&server);
  const std::size_t rawBefore = server.snapshot().raw.size();
  ASSERT_TRUE(line->transmitByte(0xFF));
  ASSERT_TRUE(line->transmitByte(0x00));
  EXPECT_TRUE(server.waitUntil([](const Record& r) { return r.data.size() >= 2; }));
  const Record record = server.snapshot();
  EXPECT_EQ((tn::Bytes{0xFF, 0x00}), record.data);
  EXPECT_EQ(
      (tn::Bytes{0xFF, 0xFF, 0x00}),
      tn::Bytes(record.raw.begin() + static_cast<std::ptrdiff_t>(rawBefore), record.raw.end()));
}

TEST_F(Rfc2217LineTest, ClosedConnectionFailsTheNextCallAndAllAfter) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept));
  auto line = openLine(&server);
  ASSERT_TRUE(server.closeConnection());
  EXPECT_FALSE(line->transmitByte(0x00));
  const unsigned long error = line->lastError();
  EXPECT_NE(0u, error);
  EXPECT_FALSE(line->setRts(true));
  platform::SerialDcb dcb{};
  EXPECT_FALSE(line->getState(&dcb));
  EXPECT_FALSE(
      line->setState(settings(4800, 8, platform::kSerialNoParity, platform::kSerialOneStopBit)));
  EXPECT_EQ(error, line->lastError());
  EXPECT_TRUE(line->close());
}

TEST_F(Rfc2217LineTest, ClosedConnectionFailsTheDriversTrigger) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept));
  std::string printed;
  auto port = openPort(&server, &printed);
  ASSERT_TRUE(port->isOpen) << printed;
  ASSERT_TRUE(port->sendTrigger());
  ASSERT_TRUE(server.closeConnection());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(port->sendTrigger());
  EXPECT_FALSE(port->sendTrigger());
  printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos,
            printed.find("triggerSerialPort::sendTrigger(): ERROR: Cannot send zero byte. ERRNO "))
      << printed;
  EXPECT_FALSE(port->isOpen);
}

TEST_F(Rfc2217LineTest, CallsOnALineNeverOpenedFail) {
  auto line = platform::createRfc2217SerialLine("rfc2217://127.0.0.1:1", quickTiming());
  platform::SerialDcb dcb{};
  EXPECT_FALSE(line->getState(&dcb));
  EXPECT_FALSE(line->transmitByte(0));
  EXPECT_FALSE(line->setRts(true));
  EXPECT_EQ(platform::kRfc2217NotOpen, line->lastError());
}

TEST_F(Rfc2217LineTest, ClientLeavingIsSeenByTheServer) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept));
  auto line = openLine(&server);
  EXPECT_TRUE(line->close());
  EXPECT_TRUE(server.waitUntil([](const Record& r) { return r.clientLeft; }));
}

// A server that vanished without closing takes every byte and answers none:
// after a quiet spell the line asks for the RTS state, and gives the
// connection up when no answer comes. One that answers keeps it.
TEST_F(Rfc2217LineTest, VanishedServerIsNoticedByItsSilence) {
  TestPortServer server(serverOptions(TestPortServer::Negotiation::kAccept));
  platform::Rfc2217Timing timing = quickTiming();
  timing.quietMs = 50;
  timing.answerMs = 200;
  auto line = platform::createRfc2217SerialLine(server.portName().c_str(), timing);
  ASSERT_TRUE(line->open()) << line->lastError();
  const auto questions = [](const Record& r) {
    return std::count(r.controls.begin(), r.controls.end(), std::uint8_t{10});
  };
  // Answered questions keep the line.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (questions(server.snapshot()) < 3 && std::chrono::steady_clock::now() < deadline) {
    ASSERT_TRUE(line->check()) << line->lastError();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  server.fallSilent();
  testing::internal::CaptureStderr();
  bool alive = true;
  while (alive && std::chrono::steady_clock::now() < deadline) {
    alive = line->check();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(alive);
  EXPECT_EQ(platform::kRfc2217NoAnswer, line->lastError());
  EXPECT_NE(std::string::npos, printed.find("connection taken as lost")) << printed;
  EXPECT_FALSE(line->transmitByte(0));
}

}  // namespace

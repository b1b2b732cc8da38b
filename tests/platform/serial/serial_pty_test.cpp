// The POSIX serial line and the driver on a real pseudo-terminal pair: the
// driver opens the terminal side, the test reads the other.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/serial.h"
#include "trigger/trigger_serial_port.h"

namespace {

class PseudoTerminalTest : public testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(0, grantpt(master_));
    ASSERT_EQ(0, unlockpt(master_));
    const char* name = ptsname(master_);
    ASSERT_NE(nullptr, name);
    path_ = name;
  }
  void TearDown() override {
    if (master_ >= 0) close(master_);
  }

  std::unique_ptr<triggerSerialPort> openPort(std::string* messages = nullptr) {
    testing::internal::CaptureStderr();
    auto port = std::make_unique<triggerSerialPort>(path_.c_str());
    const std::string printed = testing::internal::GetCapturedStderr();
    if (messages != nullptr) *messages = printed;
    return port;
  }

  int master_ = -1;
  std::string path_;
};

// A pseudo-terminal keeps eight data bits and no parity whatever it is asked.
TEST_F(PseudoTerminalTest, OpensAndTakesTheLineSettings) {
  struct Case {
    std::int32_t baud;
    std::uint8_t bits;
    char parity;
    std::uint8_t stop;
    std::uint8_t dcbParity;
    std::uint8_t dcbStop;
  };
  const Case cases[] = {
      {1200, 8, 'N', 1, platform::kSerialNoParity, platform::kSerialOneStopBit},
      {9600, 8, 'N', 2, platform::kSerialNoParity, platform::kSerialTwoStopBits},
      {115200, 8, 'N', 1, platform::kSerialNoParity, platform::kSerialOneStopBit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baud);
    std::unique_ptr<platform::SerialLine> line = platform::createSerialLine(path_.c_str());
    ASSERT_TRUE(line->open()) << line->lastError();
    platform::SerialDcb dcb{};
    ASSERT_TRUE(line->getState(&dcb));
    dcb.BaudRate = static_cast<std::uint32_t>(c.baud);
    dcb.ByteSize = c.bits;
    dcb.Parity = c.dcbParity;
    dcb.StopBits = c.dcbStop;
    ASSERT_TRUE(line->setState(dcb)) << line->lastError();
    platform::SerialDcb read{};
    ASSERT_TRUE(line->getState(&read));
    EXPECT_EQ(dcb.BaudRate, read.BaudRate);
    EXPECT_EQ(c.bits, read.ByteSize);
    EXPECT_EQ(c.dcbParity, read.Parity);
    EXPECT_EQ(c.dcbStop, read.StopBits);
    EXPECT_TRUE(line->close());
  }
}

TEST_F(PseudoTerminalTest, DriverConfigures1200N81AndTheZeroByteArrives) {
  std::string messages;
  std::unique_ptr<triggerSerialPort> port = openPort(&messages);
  ASSERT_TRUE(port->isOpen) << messages;
  EXPECT_EQ(4800u, port->dcb.BaudRate);
  ASSERT_TRUE(port->changePortSettings(1200, 8, 'N', 1));
  EXPECT_EQ(1200u, port->dcb.BaudRate);

  ASSERT_TRUE(port->sendTrigger());
  pollfd ready{master_, POLLIN, 0};
  ASSERT_EQ(1, poll(&ready, 1, 20000));
  unsigned char bytes[8];
  ASSERT_EQ(1, read(master_, bytes, sizeof bytes));  // one byte, untranslated
  EXPECT_EQ(0, bytes[0]);
}

TEST_F(PseudoTerminalTest, RtsFailsCleanlyWithTheSystemCode) {
  // A pseudo-terminal has no modem-control lines.
  std::unique_ptr<platform::SerialLine> line = platform::createSerialLine(path_.c_str());
  ASSERT_TRUE(line->open());
  EXPECT_FALSE(line->setRts(true));
  EXPECT_NE(0u, line->lastError());
  EXPECT_FALSE(line->setRts(false));

  std::unique_ptr<triggerSerialPort> port;
  line.reset();
  port = openPort();
  ASSERT_TRUE(port->isOpen);
  EXPECT_FALSE(port->setRTS(true));
  EXPECT_TRUE(port->isOpen);  // the port stays usable
  EXPECT_TRUE(port->sendTrigger());
}

TEST_F(PseudoTerminalTest, ASecondOpenIsRefused) {
  std::unique_ptr<triggerSerialPort> first = openPort();
  ASSERT_TRUE(first->isOpen);
  std::string messages;
  std::unique_ptr<triggerSerialPort> second = openPort(&messages);
  EXPECT_FALSE(second->isOpen);
  EXPECT_EQ(0u, messages.find("triggerSerialPort::openSerialPort(): ERROR: Unknown Error "))
      << messages;
  EXPECT_NE(std::string::npos,
            messages.find("triggerSerialPort(): ERROR Cannot open serial port `" + path_ + "'\n"));

  // Free again once the first is closed.
  first->closeSerialPort();
  std::unique_ptr<triggerSerialPort> third = openPort();
  EXPECT_TRUE(third->isOpen);
}

TEST_F(PseudoTerminalTest, AMissingPathIsAnInvalidPort) {
  path_ = "/nonexistent/skerrow-serial";
  std::string messages;
  std::unique_ptr<triggerSerialPort> port = openPort(&messages);
  EXPECT_FALSE(port->isOpen);
  EXPECT_EQ(
      "triggerSerialPort::openSerialPort(): ERROR: Invalid COM Port\n"
      "triggerSerialPort(): ERROR Cannot open serial port `/nonexistent/skerrow-serial'\n",
      messages);
}

// A rate, size or parity that passes the driver's check but that termios or
// the device cannot take fails the set-state step and closes the port: a
// pseudo-terminal forces eight data bits and no parity.
TEST_F(PseudoTerminalTest, SettingsTheDeviceRefusesCloseThePort) {
  struct Case {
    std::int32_t baud;
    std::uint8_t bits;
    char parity;
  };
  for (const Case c :
       {Case{14400, 8, 'N'}, Case{1200, 9, 'N'}, Case{1200, 7, 'N'}, Case{1200, 8, 'E'}}) {
    std::unique_ptr<triggerSerialPort> port = openPort();
    ASSERT_TRUE(port->isOpen);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(port->changePortSettings(c.baud, c.bits, c.parity, 1));
    EXPECT_EQ(
        "triggerSerialPort::changePortSettings(): ERROR: Cannot set comm port state. ERRNO 22\n",
        testing::internal::GetCapturedStderr());
    EXPECT_FALSE(port->isOpen);
  }
}

TEST_F(PseudoTerminalTest, ANonTerminalIsRefused) {
  path_ = "/dev/null";
  std::string messages;
  std::unique_ptr<triggerSerialPort> port = openPort(&messages);
  EXPECT_FALSE(port->isOpen);
  EXPECT_EQ(0u, messages.find("triggerSerialPort::openSerialPort(): ERROR: Unknown Error 25\n"))
      << messages;
}

// A device left at a speed the line's table does not name (another program
// set it, or a custom divisor) opens and takes the configured rate.
TEST_F(PseudoTerminalTest, ADeviceAtAnOddSpeedOpensAndTakesTheConfiguredRate) {
  for (const speed_t odd : {speed_t{B500000}, speed_t{B4000000}}) {
    SCOPED_TRACE(odd);
    const int other = open(path_.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    termios tio{};
    ASSERT_EQ(0, tcgetattr(other, &tio));
    ASSERT_EQ(0, cfsetospeed(&tio, odd));
    ASSERT_EQ(0, cfsetispeed(&tio, odd));
    ASSERT_EQ(0, tcsetattr(other, TCSANOW, &tio));
    std::string messages;
    std::unique_ptr<triggerSerialPort> port = openPort(&messages);
    close(other);
    ASSERT_TRUE(port->isOpen) << messages;
    ASSERT_TRUE(port->changePortSettings(1200, 8, 'N', 1));
    platform::SerialDcb dcb{};
    std::unique_ptr<platform::SerialLine> probe = platform::createSerialLine(path_.c_str());
    port->closeSerialPort();
    ASSERT_TRUE(probe->open());
    ASSERT_TRUE(probe->getState(&dcb));
    EXPECT_EQ(1200u, dcb.BaudRate);
  }
}

// The other side going away hangs the terminal up: the check fails, and
// the driver closes the port.
TEST_F(PseudoTerminalTest, CheckFailsOnceTheDeviceIsGone) {
  std::unique_ptr<triggerSerialPort> port = openPort();
  ASSERT_TRUE(port->isOpen);
  EXPECT_TRUE(port->checkLine());
  close(master_);
  master_ = -1;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(port->checkLine());
  EXPECT_EQ("triggerSerialPort::checkLine(): ERROR: Port `" + path_ + "' is gone. ERRNO 5\n",
            testing::internal::GetCapturedStderr());
  EXPECT_FALSE(port->isOpen);
  EXPECT_FALSE(port->sendTrigger());
}

}  // namespace

// The serial port driver on a fake line: its states, checks and every
// message it prints on standard error.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/fake/fake_serial_line.h"
#include "trigger/trigger_serial_port.h"

namespace {

using platform::FakeSerialLine;

struct Port {
  std::unique_ptr<triggerSerialPort> port;
  FakeSerialLine* line;  // owned by port
  std::string messages;  // what the constructor printed
};

Port makePort(const std::function<void(FakeSerialLine&)>& prepare = {}, const char* name = "COM7") {
  auto line = std::make_unique<FakeSerialLine>(name);
  FakeSerialLine* raw = line.get();
  if (prepare) prepare(*raw);
  testing::internal::CaptureStderr();
  auto port = std::make_unique<triggerSerialPort>(name, std::move(line));
  return Port{std::move(port), raw, testing::internal::GetCapturedStderr()};
}

TEST(TriggerSerialPortTest, OpensWithRtsDisabledAt4800AndReadsBack) {
  Port p = makePort();
  EXPECT_TRUE(p.port->isOpen);
  EXPECT_EQ("", p.messages);
  EXPECT_STREQ("COM7", p.port->portName);
  EXPECT_EQ(4800u, p.line->state().BaudRate);
  EXPECT_EQ(platform::kSerialRtsControlDisable, p.line->state().fRtsControl);
  EXPECT_EQ(4800u, p.port->dcb.BaudRate);
  EXPECT_EQ(2, p.line->calls(FakeSerialLine::kGetState));  // read, then read back
}

struct ConstructorFailure {
  const char* name;
  FakeSerialLine::Call call;
  unsigned long code;
  bool closeFails;
  const char* messages;
};

class ConstructorFailureTest : public testing::TestWithParam<ConstructorFailure> {};

TEST_P(ConstructorFailureTest, PrintsAndStaysClosed) {
  const ConstructorFailure& c = GetParam();
  Port p = makePort([&](FakeSerialLine& line) {
    line.failCalls(c.call, c.code);
    if (c.closeFails) line.failCalls(FakeSerialLine::kClose, 6);
  });
  EXPECT_EQ(c.messages, p.messages);
  EXPECT_FALSE(p.port->isOpen);
  EXPECT_FALSE(p.line->isOpen());

  // A closed port refuses everything at once and prints nothing.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(p.port->changePortSettings(1200, 8, 'N', 1));
  EXPECT_FALSE(p.port->sendTrigger());
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_EQ(0, p.line->calls(FakeSerialLine::kTransmit));
}

INSTANTIATE_TEST_SUITE_P(
    All, ConstructorFailureTest,
    testing::Values(
        ConstructorFailure{"MissingPort", FakeSerialLine::kOpen, 2, false,
                           "triggerSerialPort::openSerialPort(): ERROR: Invalid COM Port\n"
                           "triggerSerialPort(): ERROR Cannot open serial port `COM7'\n"},
        ConstructorFailure{"PortInUse", FakeSerialLine::kOpen, 5, false,
                           "triggerSerialPort::openSerialPort(): ERROR: Unknown Error 5\n"
                           "triggerSerialPort(): ERROR Cannot open serial port `COM7'\n"},
        ConstructorFailure{"GetState", FakeSerialLine::kGetState, 31, false,
                           "triggerSerialPort(): ERROR: Cannot retrieve comm port state. ERRNO "
                           "31\n"},
        ConstructorFailure{"GetStateAndClose", FakeSerialLine::kGetState, 31, true,
                           "triggerSerialPort(): ERROR: Cannot retrieve comm port state. ERRNO "
                           "31\n"
                           "triggerSerialPort(): ERROR: Cannot close serial port. ERRNO 6\n"},
        ConstructorFailure{"SetState", FakeSerialLine::kSetState, 87, false,
                           "ERROR: Cannot set comm port state. ERRNO 87\n"},
        ConstructorFailure{"SetStateAndClose", FakeSerialLine::kSetState, 87, true,
                           "ERROR: Cannot set comm port state. ERRNO 87\n"
                           "ERROR: Cannot close serial port. ERRNO 6\n"}),
    [](const testing::TestParamInfo<ConstructorFailure>& param) { return param.param.name; });

struct Settings {
  const char* name;
  std::int32_t baud;
  std::uint8_t bits;
  char parity;
  std::uint8_t stop;
  const char* messages;  // empty: accepted
  std::uint8_t dcbParity;
  std::uint8_t dcbStop;
};

class ChangePortSettingsTest : public testing::TestWithParam<Settings> {};

TEST_P(ChangePortSettingsTest, ChecksAllFourThenApplies) {
  const Settings& s = GetParam();
  Port p = makePort();
  const platform::SerialDcb before = p.port->dcb;
  const int setsBefore = p.line->calls(FakeSerialLine::kSetState);
  testing::internal::CaptureStderr();
  const bool applied = p.port->changePortSettings(s.baud, s.bits, s.parity, s.stop);
  EXPECT_EQ(s.messages, testing::internal::GetCapturedStderr());
  if (s.messages[0] != '\0') {
    EXPECT_FALSE(applied);
    EXPECT_EQ(setsBefore, p.line->calls(FakeSerialLine::kSetState));
    EXPECT_EQ(before.BaudRate, p.port->dcb.BaudRate);
    EXPECT_EQ(before.ByteSize, p.port->dcb.ByteSize);
    EXPECT_EQ(before.Parity, p.port->dcb.Parity);
    EXPECT_EQ(before.StopBits, p.port->dcb.StopBits);
    EXPECT_TRUE(p.port->isOpen);
    return;
  }
  EXPECT_TRUE(applied);
  const platform::SerialDcb written = p.line->state();
  EXPECT_EQ(static_cast<std::uint32_t>(s.baud), written.BaudRate);
  EXPECT_EQ(s.bits, written.ByteSize);
  EXPECT_EQ(s.dcbParity, written.Parity);
  EXPECT_EQ(s.dcbStop, written.StopBits);
  EXPECT_EQ(platform::kSerialRtsControlDisable, written.fRtsControl);
}

INSTANTIATE_TEST_SUITE_P(
    All, ChangePortSettingsTest,
    testing::Values(
        Settings{"Default8N1", 1200, 8, 'N', 1, "", platform::kSerialNoParity,
                 platform::kSerialOneStopBit},
        Settings{"Even7Two", 14400, 7, 'E', 2, "", platform::kSerialEvenParity,
                 platform::kSerialTwoStopBits},
        Settings{"Odd5", 256000, 5, 'O', 1, "", platform::kSerialOddParity,
                 platform::kSerialOneStopBit},
        Settings{"NineBitsPassTheCheck", 110, 9, 'N', 1, "", platform::kSerialNoParity,
                 platform::kSerialOneStopBit},
        Settings{"FourBadValues", 1000, 4, 'M', 3,
                 "triggerSerialPort::changePortSettings(): ERROR: Invalid baud rate [1000]\n"
                 "triggerSerialPort::changePortSettings(): ERROR: Invalid byte size [4]\n"
                 "triggerSerialPort::changePortSettings(): ERROR: Invalid parity [int:77]\n"
                 "triggerSerialPort::changePortSettings(): ERROR: Invalid stop bits [int:3]\n",
                 0, 0},
        Settings{"LowerCaseN", 1200, 8, 'n', 1,
                 "triggerSerialPort::changePortSettings(): ERROR: Invalid parity [int:110]\n", 0,
                 0},
        Settings{"ParityAsSigned", 1200, 8, '\xe9', 1,
                 "triggerSerialPort::changePortSettings(): ERROR: Invalid parity [int:-23]\n", 0,
                 0},
        Settings{"TenBitsAndZeroStop", 9600, 10, 'N', 0,
                 "triggerSerialPort::changePortSettings(): ERROR: Invalid byte size [10]\n"
                 "triggerSerialPort::changePortSettings(): ERROR: Invalid stop bits [int:0]\n",
                 0, 0},
        Settings{"NegativeRate", -1200, 8, 'N', 1,
                 "triggerSerialPort::changePortSettings(): ERROR: Invalid baud rate [-1200]\n", 0,
                 0}),
    [](const testing::TestParamInfo<Settings>& param) { return param.param.name; });

TEST(TriggerSerialPortTest, RefusedSettingsCloseThePortForGood) {
  for (const bool closeFails : {false, true}) {
    Port p = makePort();
    p.line->failCalls(FakeSerialLine::kSetState, 87);
    if (closeFails) p.line->failCalls(FakeSerialLine::kClose, 6);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(p.port->changePortSettings(1200, 9, 'N', 1));
    std::string expected =
        "triggerSerialPort::changePortSettings(): ERROR: Cannot set comm port state. ERRNO 87\n";
    if (closeFails) {
      expected +=
          "triggerSerialPort::changePortSettings(): ERROR: Cannot close serial port. ERRNO 6\n";
    }
    EXPECT_EQ(expected, testing::internal::GetCapturedStderr());
    EXPECT_FALSE(p.port->isOpen);
    EXPECT_TRUE(p.line->wasClosed());
  }
}

TEST(TriggerSerialPortTest, SendsOneZeroByte) {
  Port p = makePort();
  EXPECT_TRUE(p.port->sendTrigger());
  ASSERT_EQ(1u, p.line->bytes().size());
  EXPECT_EQ(0, p.line->bytes()[0].value);
}

TEST(TriggerSerialPortTest, FailedSendClosesAndLaterSendsFailSilently) {
  Port p = makePort();
  p.line->failCalls(FakeSerialLine::kTransmit, 1167);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(p.port->sendTrigger());
  EXPECT_EQ("triggerSerialPort::sendTrigger(): ERROR: Cannot send zero byte. ERRNO 1167\n",
            testing::internal::GetCapturedStderr());
  EXPECT_FALSE(p.port->isOpen);
  EXPECT_TRUE(p.line->wasClosed());

  p.line->failCalls(FakeSerialLine::kTransmit, 0);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(p.port->sendTrigger());
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_EQ(1, p.line->calls(FakeSerialLine::kTransmit));  // the port was not touched again
  EXPECT_TRUE(p.line->bytes().empty());
}

TEST(TriggerSerialPortTest, FailedSendWithFailedClosePrintsBoth) {
  Port p = makePort();
  p.line->failCalls(FakeSerialLine::kTransmit, 1167);
  p.line->failCalls(FakeSerialLine::kClose, 6);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(p.port->sendTrigger());
  EXPECT_EQ(
      "triggerSerialPort::sendTrigger(): ERROR: Cannot send zero byte. ERRNO 1167\n"
      "triggerSerialPort::sendTrigger(): ERROR: Cannot close serial port. ERRNO 6\n",
      testing::internal::GetCapturedStderr());
  EXPECT_FALSE(p.port->isOpen);
}

TEST(TriggerSerialPortTest, SetRtsReportsTheCallSilently) {
  Port p = makePort();
  testing::internal::CaptureStderr();
  EXPECT_TRUE(p.port->setRTS(true));
  EXPECT_TRUE(p.port->setRTS(false));
  p.line->failCalls(FakeSerialLine::kSetRts, 1);
  EXPECT_FALSE(p.port->setRTS(true));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  const auto changes = p.line->rtsChanges();
  ASSERT_EQ(2u, changes.size());
  EXPECT_TRUE(changes[0].on);
  EXPECT_FALSE(changes[1].on);
  EXPECT_TRUE(p.port->isOpen);  // a failed RTS change does not close the port
}

TEST(TriggerSerialPortTest, PortNamesUpTo254CharactersOpenLongerAreRefused) {
  const std::string longest(254, 'p');
  Port fits = makePort({}, longest.c_str());
  EXPECT_TRUE(fits.port->isOpen);
  EXPECT_EQ(longest, fits.port->portName);

  const std::string tooLong(255, 'p');
  Port refused = makePort({}, tooLong.c_str());
  EXPECT_FALSE(refused.port->isOpen);
  EXPECT_EQ(0, refused.line->calls(FakeSerialLine::kOpen));
  EXPECT_EQ(
      "triggerSerialPort::openSerialPort(): ERROR: Port name too long\n"
      "triggerSerialPort(): ERROR Cannot open serial port `" +
          longest + "'\n",
      refused.messages);
}

}  // namespace

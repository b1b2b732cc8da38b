// The remote serial line against an independent server: the RFC 2217 port
// server of Debian's python3-serial, on a loop port, in a child process.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/rfc2217_line.h"
#include "support/temp_dir.h"

namespace {

// The first Python that has the module, or "" when none has it.
std::string pythonWithSerial() {
  for (const char* python : {"python3", "/usr/bin/python3"}) {
    const std::string probe = std::string(python) + " -c 'import serial.rfc2217' >/dev/null 2>&1";
    if (std::system(probe.c_str()) == 0) return python;
  }
  return "";
}

// Polls a file until check accepts its text or a generous deadline passes;
// returns the last text read.
template <typename Check>
std::string waitForFile(const std::string& path, Check check) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::string text;
  while (std::chrono::steady_clock::now() < deadline) {
    text = testing_support::readFile(path);
    if (check(text)) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Everything the port received as data, in hex, and the other lines.
void splitLog(const std::string& log, std::string* data, std::vector<std::string>* settings) {
  for (const std::string& line : lines(log)) {
    if (line.compare(0, 5, "data ") == 0) {
      *data += line.substr(5);
    } else {
      settings->push_back(line);
    }
  }
}

TEST(Rfc2217PythonPeer, NegotiatesSetsStateMovesRtsAndSendsData) {
  const std::string python = pythonWithSerial();
  if (python.empty()) {
    GTEST_SKIP() << "python3-serial is not installed (Debian package python3-serial)";
  }
  testing_support::TempDir dir;
  const std::string folder = dir.path().string();
  const std::string command =
      python + " '" RFC2217_PEER_SCRIPT "' '" + folder + "' >'" + folder + "/out' 2>&1 &";
  ASSERT_EQ(0, std::system(command.c_str()));
  const std::string portText =
      waitForFile(dir.file("port"), [](const std::string& t) { return !t.empty(); });
  ASSERT_FALSE(portText.empty()) << testing_support::readFile(dir.file("out"));

  const std::string name = "rfc2217://127.0.0.1:" + portText;
  auto line = platform::createRfc2217SerialLine(name.c_str());
  ASSERT_TRUE(line->open()) << "error " << line->lastError();
  platform::SerialDcb dcb{};
  ASSERT_TRUE(line->getState(&dcb));
  dcb.BaudRate = 4800;
  dcb.ByteSize = 7;
  dcb.Parity = platform::kSerialEvenParity;
  dcb.StopBits = platform::kSerialTwoStopBits;
  dcb.fRtsControl = platform::kSerialRtsControlDisable;
  ASSERT_TRUE(line->setState(dcb)) << "error " << line->lastError();
  EXPECT_TRUE(line->setRts(true));
  EXPECT_TRUE(line->transmitByte(0x00));
  EXPECT_TRUE(line->transmitByte(0xFF));
  EXPECT_TRUE(line->transmitByte(0x41));
  EXPECT_TRUE(line->setRts(false));
  // The loop port echoes the data back; the line must skip it and go on.
  dcb.BaudRate = 1200;
  ASSERT_TRUE(line->setState(dcb)) << "error " << line->lastError();
  EXPECT_TRUE(line->close());

  const std::string log = waitForFile(dir.file("log"), [](const std::string& t) {
    return t.find("closed\n") != std::string::npos;
  });
  std::string data;
  std::vector<std::string> settings;
  splitLog(log, &data, &settings);
  EXPECT_EQ("00ff41", data) << log;
  const std::vector<std::string> expected = {"baudrate 4800", "bytesize 7",   "parity E",
                                             "stopbits 2",    "rts False",    "rts True",
                                             "rts False",     "baudrate 1200"};
  // The server may note more (its own queries); the wanted ones come in order.
  std::size_t next = 0;
  for (const std::string& setting : settings) {
    if (next < expected.size() && setting == expected[next]) ++next;
  }
  EXPECT_EQ(expected.size(), next) << log;
}

}  // namespace

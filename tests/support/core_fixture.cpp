#include "support/core_fixture.h"

#include <atomic>
#include <regex>
#include <sstream>
#include <thread>

#include "core/log.h"
#include "core/server_state.h"
#include "platform/mutex.h"

void CoreTest::SetUp() {
  if (statusMutex == nullptr) statusMutex = platform::createTimedMutex().release();
  if (messageMutex == nullptr) messageMutex = platform::createTimedMutex().release();
  serverStatus = ServerStatus{};
  serverSettings = ServerSettings{};
  logPath_ = dir_.file("server.log");
  currentLogStream = std::fopen(logPath_.c_str(), "w");
  ASSERT_NE(nullptr, currentLogStream.load());
}

void CoreTest::TearDown() {
  if (currentLogStream != stdout) std::fclose(currentLogStream);
  currentLogStream = stdout;
}

std::string CoreTest::logText() {
  std::fflush(currentLogStream);
  return testing_support::readTextFile(logPath_);
}

std::vector<std::string> CoreTest::logEntries() {
  static const std::regex prefix(R"(^\[\d{8} \d\d:\d\d:\d\d\] )");
  std::vector<std::string> entries;
  std::istringstream lines(logText());
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch match;
    if (std::regex_search(line, match, prefix)) {
      entries.push_back(line.substr(match.length(0)));
    } else {
      entries.push_back("BAD PREFIX: " + line);
    }
  }
  return entries;
}

void whileStatusMutexHeldElsewhere(void (*body)(void*), void* context) {
  std::atomic<bool> ready{false};
  std::atomic<bool> done{false};
  bool held = false;
  std::thread holder([&] {
    held = statusMutex.load()->lock(kMutexTimeoutMs);
    ready = true;
    while (!done) std::this_thread::yield();
    statusMutex.load()->unlock();
  });
  while (!ready) std::this_thread::yield();
  EXPECT_TRUE(held);
  body(context);
  done = true;
  holder.join();
}

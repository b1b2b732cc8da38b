#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <system_error>
#include <regex>
#include <string>

#include "support/core_fixture.h"
#include "core/log.h"
#include "core/server_state.h"

namespace {

class ImageLogTest : public CoreTest {
 protected:
  void setPrefix(const std::string& prefix) {
    ASSERT_LT(prefix.size(), sizeof serverStatus.cameraFilePrefix);
    std::strcpy(serverStatus.cameraFilePrefix, prefix.c_str());
  }
  void setSaved(const char* name) { std::strcpy(savedFileName, name); }
  std::string imageLog(const std::string& prefix) {
    return testing_support::readTextFile(prefix + "FileLog.log");
  }
};

struct CountCase {
  std::uint32_t triggers;
  std::uint32_t images;
  const char* counts;
};

TEST_F(ImageLogTest, CountsArePaddedToSixDigitsThenWritten) {
  const CountCase cases[] = {
      {5, 5, "000005 000005"},
      {7, 1, "000007 000001"},
      {1234567, 999999, "1234567 999999"},
      {4294967295u, 1000000, "4294967295 1000000"},
  };
  const std::string prefix = dir_.file("AUV_");
  setPrefix(prefix);
  std::string expected;
  for (const CountCase& c : cases) {
    serverStatus.triggerCount = c.triggers;
    serverStatus.imageCount = c.images;
    setSaved("AUV_VARNO_20140203_090507_042.jpg");
    WriteFileToLog();
    expected += std::string(R"(\d{4} \d\d \d\d \d\d \d\d \d\d \d{3} )") + c.counts +
                R"( AUV_VARNO_20140203_090507_042\.jpg\n)";
  }
  const std::string text = imageLog(prefix);
  EXPECT_TRUE(std::regex_match(text, std::regex(expected))) << text;
}

TEST_F(ImageLogTest, LinesGoToTheLogOfTheCurrentPrefixAndAreAppended) {
  const std::string first = dir_.file("A_");
  const std::string second = dir_.file("B_");
  dir_.write("A_FileLog.log", "earlier run\n");
  setPrefix(first);
  serverStatus.imageCount = 1;
  setSaved("one.jpg");
  WriteFileToLog();
  setPrefix(second);
  serverStatus.imageCount = 2;
  setSaved("two.jpg");
  WriteFileToLog();
  const std::string a = imageLog(first);
  const std::string b = imageLog(second);
  EXPECT_EQ(0u, a.find("earlier run\n")) << a;
  EXPECT_NE(std::string::npos, a.find(" 000001 one.jpg\n")) << a;
  EXPECT_EQ(std::string::npos, a.find("two.jpg"));
  EXPECT_NE(std::string::npos, b.find(" 000002 two.jpg\n")) << b;
  EXPECT_EQ("", logText());
}

TEST_F(ImageLogTest, LongestPrefixStillNamesTheLogInFull) {
  const std::string folder = dir_.path().string() + "/";
  const std::string prefix = folder + std::string(127 - folder.size(), 'p');
  setPrefix(prefix);
  setSaved("x.jpg");
  WriteFileToLog();
  EXPECT_NE(std::string::npos, imageLog(prefix).find(" x.jpg\n"));
}

TEST_F(ImageLogTest, UnopenableLogIsReportedInTheServerLog) {
  setPrefix(dir_.file("no-such-folder/AUV_"));
  WriteFileToLog();
  EXPECT_EQ(std::vector<std::string>{"WriteFileToLog(): ERROR cannot open image log file for "
                                     "writing."},
            logEntries());
}

// A full disk: the line is accepted into the stream but cannot be written.
TEST_F(ImageLogTest, LineThatCannotBeWrittenIsReportedInTheServerLog) {
  std::error_code failure;
  std::filesystem::create_symlink("/dev/full", dir_.file("F_FileLog.log"), failure);
  if (failure || !std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  setPrefix(dir_.file("F_"));
  setSaved("full.jpg");
  WriteFileToLog();
  EXPECT_EQ(std::vector<std::string>{"WriteFileToLog(): ERROR cannot write image log line for "
                                     "[full.jpg]."},
            logEntries());
}

TEST_F(ImageLogTest, LineIsDroppedWhenTheStatusMutexIsHeldElsewhere) {
  const std::string prefix = dir_.file("AUV_");
  setPrefix(prefix);
  std::string console;
  whileStatusMutexHeldElsewhere(
      [](void* out) {
        testing::internal::CaptureStdout();
        WriteFileToLog();
        *static_cast<std::string*>(out) = testing::internal::GetCapturedStdout();
      },
      &console);
  // The image log's own error entry is itself dropped, since the server log
  // needs the same mutex.
  EXPECT_EQ("logprintf():: Error getting status mutex\n", console);
  EXPECT_EQ("", imageLog(prefix));
}

}  // namespace

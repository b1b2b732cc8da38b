// Start-up without a usable configuration, and the configuration path taken
// from the command line.
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/process.h"
#include "e2e/rig_folder.h"
#include "e2e/server_log.h"
#include "skerrow_version.h"
#include "support/temp_dir.h"

namespace e2e {
namespace {

using testing_support::TempDir;

// A path of exactly `length` characters that names Skerrow.ini in the
// working directory, so that its length alone decides whether it is read.
std::string pathOfLength(std::size_t length) {
  const std::string name = "Skerrow.ini";
  const std::size_t padding = length - name.size();
  std::string path;
  for (std::size_t i = 0; i < padding / 2; ++i) path += "./";
  if (padding % 2 == 1) path += "/";
  return path + name;
}

TEST(e2eStartUp, NoArgumentAndNoIniFileShutsDownInOrderAndEndsByItself) {
  TempDir dir;
  const std::time_t before = std::time(nullptr);
  // A zone far from UTC shows whether the timestamps are taken in UTC.
  ServerProcess server(dir.path(), {}, {"TZ=NPT-5:45"});
  ASSERT_TRUE(server.started()) << server.startError();
  ExitStatus status;
  ASSERT_TRUE(server.waitForExit(&status))
      << "the server did not end by itself with standard input not a console; it wrote:\n"
      << server.out().text();
  const std::time_t after = std::time(nullptr);

  EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
  EXPECT_EQ(status.code, 0);
  std::vector<std::string> expected{
      stamped("Skerrow:main(): No INI file given, using defaults."),
      stamped("importIniSettings(): ERROR reading file (0x2)."),
  };
  append(&expected, printoutLines(emptyPrintout()));
  append(&expected, {
                        stamped("Skerrow:main(): ERROR importing INI settings, exiting..."),
                        stamped(kInterruptLine),
                        stamped(kEndLine),
                    });
  append(&expected, promptLines());
  const std::string out = server.out().text();
  const std::vector<LogLine> lines = parseLog(out);
  EXPECT_EQ(describe(lines), expected);
  EXPECT_TRUE(!out.empty() && out.back() == '\n');
  for (const LogLine& line : lines) {
    if (!line.stamped) continue;
    EXPECT_GE(line.stamp, before) << line.text;
    EXPECT_LE(line.stamp, after) << line.text;
  }
  EXPECT_EQ(server.err().text(), "");
}

TEST(e2eStartUp, ConfigPathOfTheFullFieldLengthIsReadUncut) {
  TempDir dir;
  // Port 0 lets the system pick a free port, should the server listen.
  dir.write("Skerrow.ini", "[server]\nport=0\nmaxclients=7\n");
  const std::string path = pathOfLength(255);
  ServerProcess server(dir.path(), {path});
  ASSERT_TRUE(server.started()) << server.startError();
  ASSERT_TRUE(server.out().waitUntil(holdsPrintout)) << server.out().text();

  std::vector<std::string> expected{stamped("Skerrow:main(): Loading INI File (" + path + ")...")};
  Printout values;
  values.serverPort = "0";
  values.serverMaxUsers = "7";
  append(&expected, printoutLines(values));
  EXPECT_TRUE(framedBy(describe(parseLog(server.out().text())), expected, {}));
}

// A file named like the option holds a configuration that names a log
// file: a server that took the option for its configuration path would read
// it and leave that file, or at least print its start-up log.
TEST(e2eStartUp, VersionIsOneLineAndStartsNothing) {
  TempDir dir;
  dir.write("--version", "[server]\nport=0\nlogfilename=server.log\n");
  ServerProcess server(dir.path(), {"--version"});
  ASSERT_TRUE(server.started()) << server.startError();
  ExitStatus status;
  ASSERT_TRUE(server.waitForExit(&status)) << server.out().text();

  EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
  EXPECT_EQ(status.code, 0);
  ASSERT_TRUE(server.out().waitForEnd());
  EXPECT_EQ(server.out().text(),
            std::string("skerrow ") + SKERROW_VERSION + " (" + SKERROW_BUILD + ")\n");
  EXPECT_NE(std::string(SKERROW_VERSION), "");
  EXPECT_EQ(server.err().text(), "");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "server.log"));
}

class OverlongConfigPathTest : public testing::TestWithParam<std::size_t> {};

// The refused path names a file that exists and is valid, so a server that
// cut the path or read it anyway would print settings and keep running.
TEST_P(OverlongConfigPathTest, IsRefusedAndTheServerShutsDown) {
  TempDir dir;
  dir.write("Skerrow.ini", "[server]\nport=0\n");
  ServerProcess server(dir.path(), {pathOfLength(GetParam())});
  ASSERT_TRUE(server.started()) << server.startError();
  ExitStatus status;
  ASSERT_TRUE(server.waitForExit(&status)) << server.out().text();

  EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
  EXPECT_EQ(status.code, 0);
  std::vector<std::string> expected{
      stamped("Skerrow:main(): ERROR INI file path is longer than 255 characters."),
      stamped(kInterruptLine),
      stamped(kEndLine),
  };
  append(&expected, promptLines());
  EXPECT_EQ(describe(parseLog(server.out().text())), expected);
  EXPECT_EQ(server.err().text(), "");
}

INSTANTIATE_TEST_SUITE_P(e2e, OverlongConfigPathTest, testing::Values(256, 300, 5000),
                         [](const testing::TestParamInfo<std::size_t>& param) {
                           return "Length" + std::to_string(param.param);
                         });

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// On POSIX "COM1" is a path that does not exist, so a server left on the
// default ports stops itself, in order, without any Ctrl-C. The camera is
// there, so that only the ports fail.
TEST(e2eStartUp, TriggerPortThatWillNotOpenStopsTheServer) {
  TempDir dir;
  RigFolder rig(dir);
  ASSERT_TRUE(rig.ok()) << rig.error();
  dir.write("Skerrow.ini", "[server]\nport=0\n");
  ServerProcess server(dir.path(), {"Skerrow.ini"}, rig.environment());
  ASSERT_TRUE(server.started()) << server.startError();
  ExitStatus status;
  ASSERT_TRUE(server.waitForExit(&status)) << server.out().text();
  EXPECT_TRUE(status.exited);
  EXPECT_EQ(0, status.code);
  const std::vector<LogLine> lines = parseLog(server.out().text());
  // Both the trigger and the laser line default to COM1.
  EXPECT_EQ(2, countText(lines, "TriggerWorkerThread(): ERROR Cannot open serial port COM1"));
  EXPECT_EQ(1, countText(lines, kInterruptLine));
  EXPECT_EQ(1, countText(lines, kEndLine));
  EXPECT_EQ(1, countText(lines, kCameraEndLine));
  EXPECT_EQ(1, countText(lines, kTriggerEndLine));
  EXPECT_TRUE(framedBy(describe(lines), {},
                       {stamped(kEndLine), plain(""), plain("Press any key to exit...")}));
}

}  // namespace
}  // namespace e2e

// Start-up without a usable configuration, and the configuration path taken
// from the command line.
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/process.h"
#include "e2e/rig_folder.h"
#include "e2e/server_log.h"
#include "skerrow_version.h"
#include "support/loopback_listener.h"
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
  EXPECT_EQ(status.code, 1) << "a failed start-up must not look like an orderly stop";
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
  EXPECT_EQ(status.code, 1);
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

// Start-ups that fail end in order, but with status 1, so that a service
// manager's restart-on-failure fires. The camera is there in every case.
struct FailedStart {
  const char* name;
  const char* ini;        // the configuration's [server] section; nullptr: no file
  bool rigLines;          // the rig's serial lines configured (else both are COM1)
  bool portInUse;         // the configured port is held by another listener
  const char* errorLine;  // the line that says why
  int times;
};

void PrintTo(const FailedStart& c, std::ostream* os) { *os << c.name; }

class FailedStartTest : public testing::TestWithParam<FailedStart> {};

TEST_P(FailedStartTest, EndsInOrderWithStatusOne) {
  const FailedStart& c = GetParam();
  TempDir dir;
  RigFolder rig(dir);
  ASSERT_TRUE(rig.ok()) << rig.error();
  testing_support::LoopbackListener held;
  ASSERT_NE(held.port(), 0);
  std::string ini = c.ini == nullptr ? "" : c.ini;
  if (c.portInUse) ini += "port=" + std::to_string(held.port()) + "\n";
  if (c.ini != nullptr) dir.write("Skerrow.ini", (c.rigLines ? rig.iniSections() : "") + ini);
  ServerProcess server(dir.path(), {"Skerrow.ini"}, rig.environment());
  ASSERT_TRUE(server.started()) << server.startError();
  ExitStatus status;
  ASSERT_TRUE(server.waitForExit(&status)) << server.out().text();

  EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
  EXPECT_EQ(status.code, 1);
  const std::vector<LogLine> lines = parseLog(server.out().text());
  EXPECT_EQ(countText(lines, c.errorLine), c.times) << server.out().text();
  EXPECT_EQ(countText(lines, kInterruptLine), 1);
  EXPECT_TRUE(framedBy(describe(lines), {},
                       {stamped(kEndLine), plain(""), plain("Press any key to exit...")}));
}

INSTANTIATE_TEST_SUITE_P(
    e2e, FailedStartTest,
    testing::Values(FailedStart{"MissingConfigFile", nullptr, true, false,
                                "Skerrow:main(): ERROR importing INI settings, exiting...", 1},
                    FailedStart{"PortInUse", "[server]\n", true, true,
                                "Skerrow:main() ERROR Failed to initialize socket.", 1},
                    // On POSIX "COM1" is a path that does not exist; both lines default
                    // to it. The port fails on the trigger thread, after start-up.
                    FailedStart{"TriggerLineWillNotOpen", "[server]\nport=0\n", false, false,
                                "TriggerWorkerThread(): ERROR Cannot open serial port COM1", 2}),
    [](const testing::TestParamInfo<FailedStart>& param) { return std::string(param.param.name); });

// --help answers and starts nothing: no log, no configuration read.
TEST(e2eStartUp, HelpPrintsUsageAndStartsNothing) {
  for (const char* option : {"--help", "-h", "/?"}) {
    SCOPED_TRACE(option);
    TempDir dir;
    ServerProcess server(dir.path(), {option});
    ASSERT_TRUE(server.started()) << server.startError();
    ExitStatus status;
    ASSERT_TRUE(server.waitForExit(&status)) << server.out().text();
    EXPECT_TRUE(status.exited && status.code == 0) << status.code << " " << status.signal;
    ASSERT_TRUE(server.out().waitForEnd());
    EXPECT_EQ(server.out().text(),
              "Usage: skerrow [CONFIG_FILE]\n"
              "       skerrow --version | --help\n"
              "\n"
              "Runs the acquisition server with the settings in CONFIG_FILE (default "
              "./Skerrow.ini).\n"
              "Ctrl-C or a stop signal ends it in order.\n"
              "\n"
              "  --version       print the version and exit\n"
              "  --help, -h, /?  print this help and exit\n"
              "\n"
              "Exit status: 0 after a stop on request, 1 when start-up fails or a fault\n"
              "ends the run.\n");
    EXPECT_EQ(server.err().text(), "");
  }
}

}  // namespace
}  // namespace e2e

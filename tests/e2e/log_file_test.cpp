// Where the server log goes: to a file named in the configuration, or on
// the console when the name keeps it there or the file cannot be opened.
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/process.h"
#include "e2e/rig_folder.h"
#include "e2e/server_log.h"
#include "support/temp_dir.h"

namespace e2e {
namespace {

using testing_support::readFile;
using testing_support::TempDir;

std::vector<std::string> filesIn(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(e2eLogFile, EntriesAfterTheSwitchAreAppendedToTheFile) {
  TempDir dir;
  RigFolder rig(dir);
  ASSERT_TRUE(rig.ok()) << rig.error();
  // Port 0 lets the system pick a free port, so that servers of tests run
  // at the same time never compete for one.
  dir.write("Skerrow.ini", rig.iniSections() + "[server]\nport=0\nlogfilename=server.log\n");
  dir.write("server.log", "line of an earlier run\n");
  // No argument: the configuration comes from the working directory.
  ServerProcess server(dir.path(), {}, rig.environment());
  ASSERT_TRUE(server.started()) << server.startError();
  ASSERT_TRUE(server.out().waitFor("Now Writing to Server Log. [server.log]\n"))
      << server.out().text();
  // The run is under way once the camera's connection is in the file (the
  // camera thread sleeps between polls while it connects); a server that
  // then sleeps waits in its loop.
  ASSERT_TRUE(waitUntil([&] {
    return readFile(dir.file("server.log")).find(std::string(kCameraConnectedLine) + "\n") !=
           std::string::npos;
  })) << readFile(dir.file("server.log"));
  ASSERT_TRUE(server.waitUntilAsleep());
  ASSERT_TRUE(server.sendSignal(SIGINT));
  ExitStatus status;
  ASSERT_TRUE(server.waitForExit(&status)) << server.out().text();

  EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
  EXPECT_EQ(status.code, 0);
  Printout values;
  values.triggerPortName = rig.serialLines().triggerPath();
  values.serverPort = "0";
  values.logfilename = "server.log";
  // Nothing after the switch reaches the console.
  std::vector<std::string> console{stamped("Skerrow:main(): No INI file given, using defaults.")};
  append(&console, printoutLines(values));
  append(&console, {stamped("Skerrow:main(): Now Writing to Server Log. [server.log]")});
  append(&console, promptLines());
  EXPECT_EQ(describe(parseLog(server.out().text())), console);

  std::vector<std::string> head{plain("line of an earlier run"),
                                stamped("Skerrow:main(): Start of Server Log. [server.log]")};
  append(&head, printoutLines(values));
  const std::string written = readFile(dir.file("server.log"));
  const std::vector<LogLine> lines = parseLog(written);
  std::vector<std::string> middle;
  EXPECT_TRUE(framedByShutdown(describe(lines), head, {}, &middle));
  EXPECT_EQ(countText(lines, kInterruptLine), 1);
  // The threads' start reaches the file too, and the camera was found.
  EXPECT_EQ(countText(lines, kCameraStartLine), 1);
  EXPECT_EQ(countText(lines, kCameraConnectedLine), 1);
  EXPECT_EQ(errorEntries(middle), std::vector<std::string>{});
  EXPECT_TRUE(!written.empty() && written.back() == '\n');
  EXPECT_EQ(server.err().text(), "");
}

struct ConsoleCase {
  const char* name;
  std::string logfilename;  // as written in the configuration
  std::string shown;        // as the printout shows it
  std::vector<std::string> beforePrintout;
  std::vector<std::string> afterPrintout;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ConsoleCase& c, std::ostream* os) { *os << c.name; }

std::vector<ConsoleCase> consoleCases() {
  const std::string longName = std::string(200, 'n') + ".log";
  return {
      // Only the first six characters are compared with "stdout".
      {"NameBeginningWithStdout", "stdout.txt", "stdout.txt", {}, {}},
      {"FileThatCannotBeOpened",
       "no-such-dir/server.log",
       "no-such-dir/server.log",
       {},
       {stamped("Skerrow:main(): Failed to open log for writing. [no-such-dir/server.log]")}},
      {"OverlongName",
       longName,
       "stdout",
       {stamped("importIniSettings(): ERROR [server] logfilename is longer than 127 characters, "
                "using the default (stdout).")},
       {}},
  };
}

class ConsoleLogTest : public testing::TestWithParam<ConsoleCase> {};

TEST_P(ConsoleLogTest, EveryEntryStaysOnTheConsole) {
  const ConsoleCase& c = GetParam();
  TempDir dir;
  RigFolder rig(dir);
  ASSERT_TRUE(rig.ok()) << rig.error();
  dir.write("Skerrow.ini",
            rig.iniSections() + "[server]\nport=0\nlogfilename=" + c.logfilename + "\n");
  ServerProcess server(dir.path(), {"Skerrow.ini"}, rig.environment());
  ASSERT_TRUE(server.started()) << server.startError();
  std::vector<std::string> expected{stamped("Skerrow:main(): Loading INI File (Skerrow.ini)...")};
  append(&expected, c.beforePrintout);
  Printout values;
  values.triggerPortName = rig.serialLines().triggerPath();
  values.serverPort = "0";
  values.logfilename = c.shown;
  append(&expected, printoutLines(values));
  append(&expected, c.afterPrintout);
  ASSERT_TRUE(server.out().waitUntil(holdsRunningServer)) << server.out().text();
  ASSERT_TRUE(server.sendSignal(SIGINT));
  ExitStatus status;
  ASSERT_TRUE(server.waitForExit(&status)) << server.out().text();

  EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
  EXPECT_EQ(status.code, 0);
  const std::vector<LogLine> lines = parseLog(server.out().text());
  std::vector<std::string> middle;
  EXPECT_TRUE(framedByShutdown(describe(lines), expected, promptLines(), &middle));
  EXPECT_EQ(countText(lines, kInterruptLine), 1);
  EXPECT_EQ(errorEntries(middle), std::vector<std::string>{});
  // No log file was made: only the rig is there.
  EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"Skerrow.ini", "Type0001.md3", "card"}));
  EXPECT_EQ(server.err().text(), "");
}

INSTANTIATE_TEST_SUITE_P(e2e, ConsoleLogTest, testing::ValuesIn(consoleCases()),
                         [](const testing::TestParamInfo<ConsoleCase>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace e2e

// Stopping a running server from outside: Ctrl-C (SIGINT), a service
// manager's stop (SIGTERM) and a closed terminal (SIGHUP), during the run and
// during start-up.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

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

using testing_support::TempDir;

// Port 0 lets the system pick a free port, so that servers of tests run at
// the same time never compete for one.
const char* const kIni = "[server]\nport=0\n";

Printout shownForIni(const RigFolder& rig) {
  Printout values;
  values.serverPort = "0";
  values.triggerPortName = rig.serialLines().triggerPath();
  return values;
}

// A second signal during shutdown ends the process at once; that case has a
// test of its own, with a shutdown that hangs.
struct StopCase {
  const char* name;
  int signal;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopSignalTest : public testing::TestWithParam<StopCase> {};

TEST_P(StopSignalTest, InterruptIsLoggedOnceAndShutdownIsOrderly) {
  const StopCase& c = GetParam();
  TempDir dir;
  RigFolder rig(dir);
  ASSERT_TRUE(rig.ok()) << rig.error();
  dir.write("Skerrow.ini", rig.iniSections() + kIni);
  ServerProcess server(dir.path(), {"Skerrow.ini"}, rig.environment());
  ASSERT_TRUE(server.started()) << server.startError();
  // The signal comes in the run, not during start-up.
  ASSERT_TRUE(server.out().waitUntil(holdsRunningServer)) << server.out().text();

  ASSERT_TRUE(server.sendSignal(c.signal));
  ExitStatus status;
  ASSERT_TRUE(server.waitForExit(&status)) << "the server did not stop; it wrote:\n"
                                           << server.out().text();

  EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
  EXPECT_EQ(status.code, 0);
  std::vector<std::string> head{stamped("Skerrow:main(): Loading INI File (Skerrow.ini)...")};
  append(&head, printoutLines(shownForIni(rig)));
  const std::vector<LogLine> lines = parseLog(server.out().text());
  std::vector<std::string> middle;
  EXPECT_TRUE(framedByShutdown(describe(lines), head, promptLines(), &middle));
  EXPECT_EQ(countText(lines, kInterruptLine), 1);
  EXPECT_EQ(countText(lines, kCameraConnectedLine), 1);
  EXPECT_EQ(errorEntries(middle), std::vector<std::string>{});
  EXPECT_EQ(server.err().text(), "");
}

INSTANTIATE_TEST_SUITE_P(e2e, StopSignalTest,
                         testing::Values(StopCase{"Sigint", SIGINT}, StopCase{"Sigterm", SIGTERM},
                                         StopCase{"Sighup", SIGHUP}),
                         [](const testing::TestParamInfo<StopCase>& param) {
                           return std::string(param.param.name);
                         });

// A stop request that arrives while start-up is still under way must still
// stop the server: the routine that handles it runs only once, so a run flag
// set true afterwards could never be cleared again. The log file is a FIFO,
// so that start-up waits inside the opening of its log until the signal has
// been handled.
TEST(e2eStartUpInterrupt, SignalDuringStartUpStillStopsTheServer) {
  TempDir dir;
  RigFolder rig(dir);
  ASSERT_TRUE(rig.ok()) << rig.error();
  dir.write("Skerrow.ini", rig.iniSections() + kIni + "logfilename=server.fifo\n");
  ASSERT_EQ(::mkfifo(dir.file("server.fifo").c_str(), 0600), 0);
  ServerProcess server(dir.path(), {"Skerrow.ini"}, rig.environment());
  ASSERT_TRUE(server.started()) << server.startError();
  ASSERT_TRUE(server.out().waitUntil(holdsPrintout)) << server.out().text();

  ASSERT_TRUE(server.sendSignal(SIGINT));
  ASSERT_TRUE(server.out().waitFor(kInterruptLine)) << server.out().text();
  // Asleep again, the server has finished handling the signal.
  ASSERT_TRUE(server.waitUntilAsleep());
  // Opening the reading end lets the server's open of its log return.
  const int fifo = ::open(dir.file("server.fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fifo, 0);
  OutputReader log(fifo);
  ExitStatus status;
  ASSERT_TRUE(server.waitForExit(&status)) << "the server ran on after the interrupt; console:\n"
                                           << server.out().text() << "log:\n"
                                           << log.text();

  EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
  EXPECT_EQ(status.code, 0);
  log.waitForEnd();
  const std::vector<LogLine> console = parseLog(server.out().text());
  const std::vector<LogLine> file = parseLog(log.text());
  EXPECT_EQ(countText(console, kInterruptLine) + countText(file, kInterruptLine), 1);
  EXPECT_EQ(countText(console, kEndLine) + countText(file, kEndLine), 1);
}

}  // namespace
}  // namespace e2e

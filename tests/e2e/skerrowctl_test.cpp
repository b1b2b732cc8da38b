// The skerrowctl program as an operator runs it: against a running server
// and with bad command lines.
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e/ctl_run.h"
#include "e2e/process.h"
#include "e2e/rig_folder.h"
#include "e2e/server_log.h"
#include "skerrow_version.h"
#include "support/loopback_listener.h"
#include "support/temp_dir.h"

namespace e2e {
namespace {

using testing_support::TempDir;

TEST(e2eSkerrowctl, BadCommandLinesExitOneWithAReason) {
  TempDir dir;
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"shutter"}, "skerrowctl: unknown command 'shutter'\n"},
      {{"connect", "yes"}, "skerrowctl: connect takes 0 or 1, not 'yes'\n"},
      {{"--port", "70000", "images"}, "skerrowctl: --port takes 1-65535, not '70000'\n"},
      {{"watch", "2"}, "skerrowctl: watch takes no argument\n"},
  };
  for (const auto& c : cases) {
    const CtlRun run = runCtl(dir, c.args);
    EXPECT_TRUE(run.status.exited);
    EXPECT_EQ(1, run.status.code) << c.reason;
    EXPECT_EQ(c.reason, run.err);
    EXPECT_EQ("", run.out);
    // The check alone finds the same fault, with the same words.
    std::vector<std::string> checked = {"--check-args"};
    checked.insert(checked.end(), c.args.begin(), c.args.end());
    const CtlRun check = runCtl(dir, checked);
    EXPECT_EQ(1, check.status.code) << c.reason;
    EXPECT_EQ(c.reason, check.err);
  }
}

TEST(e2eSkerrowctl, CheckArgsPassesAGoodLineWithoutConnecting) {
  TempDir dir;
  // Port 9: nobody listens, so any connection attempt would fail.
  const CtlRun run =
      runCtl(dir, {"--check-args", "--port", "9", "--timeout", "500", "prefix", "dive/D_"});
  EXPECT_TRUE(run.status.exited);
  EXPECT_EQ(0, run.status.code);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("", run.err);
}

TEST(e2eSkerrowctl, UnansweredConnectEndsWithTheTimeout) {
  // A listener whose accept queue is full drops every further handshake,
  // as a host that is switched off does.
  const testing_support::LoopbackListener listener(true);
  ASSERT_NE(0, listener.port());
  const std::string port = std::to_string(listener.port());

  TempDir dir;
  // runCtl fails the test when the run does not end within its deadline.
  const CtlRun run = runCtl(dir, {"--port", port, "--timeout", "300", "images"});
  EXPECT_TRUE(run.status.exited);
  EXPECT_EQ(1, run.status.code);
  EXPECT_EQ("skerrowctl: no connection to 127.0.0.1:" + port + " within the time-out (300 ms)\n",
            run.err);
  EXPECT_EQ("", run.out);
}

TEST(e2eSkerrowctl, VersionIsOneLineAndAsksNoServer) {
  TempDir dir;
  // No server runs: any connection attempt would end in an error.
  const CtlRun run = runCtl(dir, {"--port", "9", "--version"});
  EXPECT_TRUE(run.status.exited);
  EXPECT_EQ(0, run.status.code);
  EXPECT_EQ(std::string("skerrowctl ") + SKERROW_VERSION + " (" + SKERROW_BUILD + ")\n", run.out);
  EXPECT_EQ("", run.err);
}

TEST(e2eSkerrowctl, RunningServerAnswersAndRefusedConnectionExitsOne) {
  TempDir dir;
  // Nobody listens on the port the server is not started on.
  const CtlRun refused = runCtl(dir, {"--port", "9", "images"});
  EXPECT_EQ(1, refused.status.code);
  EXPECT_TRUE(std::regex_search(refused.err, std::regex("cannot connect to 127\\.0\\.0\\.1:9 ")))
      << refused.err;
  EXPECT_EQ("", refused.out);

  const int port = freePort();
  ASSERT_GT(port, 0);
  RigFolder rig(dir);
  ASSERT_TRUE(rig.ok()) << rig.error();
  dir.write("Skerrow.ini", rig.iniSections() + "[server]\nport=" + std::to_string(port) + "\n");
  ServerProcess server(dir.path(), {"Skerrow.ini"}, rig.environment());
  ASSERT_TRUE(server.started()) << server.startError();
  ASSERT_TRUE(server.out().waitUntil(holdsRunningServer)) << server.out().text();

  const CtlRun interval = runCtl(dir, {"--port", std::to_string(port), "interval"});
  EXPECT_TRUE(interval.status.exited);
  EXPECT_EQ(0, interval.status.code);
  EXPECT_EQ("interval: 1000 ms\n", interval.out);
  EXPECT_EQ("", interval.err);

  // Type 8 is no command of the server's: answered, but as unknown.
  const CtlRun unknown = runCtl(dir, {"--port", std::to_string(port), "raw", "8", "0"});
  EXPECT_TRUE(unknown.status.exited);
  EXPECT_EQ(2, unknown.status.code);
  EXPECT_EQ("unknown type: the server does not know the requested type\n", unknown.out);
  EXPECT_EQ("", unknown.err);

  EXPECT_TRUE(
      server.out().waitFor("] processCommandMessage(): received SKERROW_MESSAGE_INTERVAL \n"));
  EXPECT_TRUE(server.out().waitFor("] processCommandMessage(): received UNKNOWN MESSAGE \n"))
      << server.out().text();
}

}  // namespace
}  // namespace e2e

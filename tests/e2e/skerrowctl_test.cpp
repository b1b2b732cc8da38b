// The skerrowctl program as an operator runs it: against a running server
// (which does not process commands yet, so requests go unanswered) and
// with bad command lines.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e/process.h"
#include "e2e/serial_lines.h"
#include "e2e/server_log.h"
#include "platform/socket.h"
#include "support/temp_dir.h"

namespace e2e {
namespace {

using testing_support::TempDir;

struct CtlRun {
  ExitStatus status;
  std::string out;
  std::string err;
};

// A port nobody uses right now: the system's pick for a socket bound to
// port 0, given back at once.
int freePort() {
  const platform::SocketHandle probe = platform::socketOpenTcp();
  if (!platform::socketBind(probe, "127.0.0.1", 0)) return -1;
  const int port = platform::socketLocalPort(probe);
  platform::socketClose(probe);
  return port;
}

CtlRun runCtl(const TempDir& dir, const std::vector<std::string>& args) {
  ServerProcess ctl(SKERROWCTL_BIN, dir.path(), args, {});
  CtlRun run;
  EXPECT_TRUE(ctl.started()) << ctl.startError();
  EXPECT_TRUE(ctl.waitForExit(&run.status));
  ctl.out().waitForEnd();
  ctl.err().waitForEnd();
  run.out = ctl.out().text();
  run.err = ctl.err().text();
  return run;
}

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
  }
}

TEST(e2eSkerrowctl, RefusedConnectionAndSilentServerExitOne) {
  TempDir dir;
  // Nobody listens on the port the server is not started on.
  const CtlRun refused = runCtl(dir, {"--port", "9", "images"});
  EXPECT_EQ(1, refused.status.code);
  EXPECT_TRUE(std::regex_search(refused.err, std::regex("cannot connect to 127\\.0\\.0\\.1:9 ")))
      << refused.err;

  const int port = freePort();
  ASSERT_GT(port, 0);
  SerialLines serialLines;
  ASSERT_TRUE(serialLines.ok());
  dir.write("Skerrow.ini",
            serialLines.iniSections() + "[server]\nport=" + std::to_string(port) + "\n");
  ServerProcess server(dir.path(), {"Skerrow.ini"});
  ASSERT_TRUE(server.started()) << server.startError();
  ASSERT_TRUE(server.out().waitFor("listen() successful.")) << server.out().text();
  const CtlRun silent =
      runCtl(dir, {"--port", std::to_string(port), "--timeout", "300", "interval"});
  EXPECT_EQ(1, silent.status.code);
  EXPECT_EQ("skerrowctl: no reply within the time-out\n", silent.err);
  EXPECT_TRUE(server.out().waitFor("AcceptConnections(): Client connected from: 127.0.0.1"));
}

}  // namespace
}  // namespace e2e

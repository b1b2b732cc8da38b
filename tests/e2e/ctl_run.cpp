#include "e2e/ctl_run.h"

#include <gtest/gtest.h>

#include "platform/socket.h"

namespace e2e {

CtlRun runCtl(const testing_support::TempDir& dir, const std::vector<std::string>& args) {
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

int freePort() {
  const platform::SocketHandle probe = platform::socketOpenTcp();
  if (probe == platform::kNoSocket) return -1;
  if (!platform::socketBind(probe, "127.0.0.1", 0)) {
    platform::socketClose(probe);
    return -1;
  }
  const int port = platform::socketLocalPort(probe);
  platform::socketClose(probe);
  return port;
}

}  // namespace e2e

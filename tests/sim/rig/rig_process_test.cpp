// The skerrow-rig program: it says where its lines are, and stops cleanly
// on SIGTERM and SIGINT, taking its links and control FIFO away.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/process.h"
#include "sim/rig/rig_wait.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;

void runAndStop(int signal) {
  TempDir dir;
  const std::string ports = dir.file("ports");
  e2e::ServerProcess rig(
      SKERROW_RIG_BIN, dir.path(),
      {"--trigger-link", "trigger", "--ports-file", ports, "--control", "control"}, {});
  ASSERT_TRUE(rig.started()) << rig.startError();
  ASSERT_TRUE(rigtest::waitFor([&] { return std::filesystem::exists(ports); }));
  const std::string text = testing_support::readFile(ports);
  EXPECT_EQ(text.rfind("trigger=trigger\nlaser=rfc2217://127.0.0.1:", 0), 0u) << text;
  ASSERT_TRUE(rig.out().waitFor("skerrow-rig: laser rfc2217://127.0.0.1:"));
  EXPECT_TRUE(std::filesystem::is_fifo(dir.file("control")));
  ASSERT_TRUE(rig.sendSignal(signal));
  e2e::ExitStatus status;
  ASSERT_TRUE(rig.waitForExit(&status));
  EXPECT_TRUE(status.exited);
  EXPECT_EQ(status.code, 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.file("trigger"))));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.file("control"))));
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("card")));
}

TEST(RigProcess, StopsCleanlyOnSigterm) { runAndStop(SIGTERM); }

TEST(RigProcess, StopsCleanlyOnSigint) { runAndStop(SIGINT); }

TEST(RigProcess, BadOptionIsRefusedWithStatus2) {
  TempDir dir;
  e2e::ServerProcess rig(SKERROW_RIG_BIN, dir.path(), {"--lag-ms", "soon"}, {});
  ASSERT_TRUE(rig.started()) << rig.startError();
  e2e::ExitStatus status;
  ASSERT_TRUE(rig.waitForExit(&status));
  EXPECT_EQ(status.code, 2);
  EXPECT_TRUE(rig.err().waitFor("--lag-ms"));
}

}  // namespace

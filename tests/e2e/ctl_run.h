// Running skerrowctl as an operator does, and finding a port for a server.
#pragma once

#include <string>
#include <vector>

#include "e2e/process.h"
#include "support/temp_dir.h"

namespace e2e {

struct CtlRun {
  ExitStatus status;
  std::string out;
  std::string err;
};

// Runs skerrowctl with args in dir and waits for its end (a failure of the
// calling test when it does not end within the deadline).
CtlRun runCtl(const testing_support::TempDir& dir, const std::vector<std::string>& args);

// A port nobody uses right now: the system's pick for a socket bound to
// port 0, given back at once. -1 when none could be had.
int freePort();

}  // namespace e2e

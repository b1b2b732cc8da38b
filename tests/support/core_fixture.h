// Shared set-up for the core tests: the shared mutexes exist, the status
// and settings start zero-filled as in a new process, and the server log
// goes to a file of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/temp_dir.h"

class CoreTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Everything written to the server log so far.
  std::string logText();
  // The server log's lines with their "[YYYYMMDD HH:MM:SS] " prefix removed;
  // a line without a well-formed prefix is kept whole, marked "BAD PREFIX: ".
  std::vector<std::string> logEntries();

  testing_support::TempDir dir_;
  std::string logPath_;
};

// Runs body while another thread holds statusMutex, and keeps holding it
// until body has returned.
void whileStatusMutexHeldElsewhere(void (*body)(void*), void* context);

// A rig of the test's own in a fresh folder: its card, its log and a link to
// its trigger terminal there, a short lag, and the socket layer started.
// Tests set further options before start().
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "platform/socket.h"
#include "rig/rig.h"
#include "support/temp_dir.h"

namespace rigtest {

class RigFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::socketStartup());
    options_.cardDir = dir_.file("card");
    options_.logPath = dir_.file("rig.csv");
    options_.triggerLink = dir_.file("trigger");
    options_.lagMs = 20;
  }
  void TearDown() override {
    rig_.reset();
    platform::socketCleanup();
  }

  void start() {
    rig_ = std::make_unique<rig::Rig>(options_);
    ASSERT_TRUE(rig_->start());
  }

  testing_support::TempDir dir_;
  rig::RigOptions options_;
  std::unique_ptr<rig::Rig> rig_;
};

}  // namespace rigtest

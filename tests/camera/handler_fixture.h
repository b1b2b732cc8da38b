// A working folder holding a copy of a module file as Type0001.md3, made the
// working directory for the test (where the handler looks for the module),
// with a camera card folder and a call trace beside it. Restores every
// process-wide value the camera code uses.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_handler.h"
#include "support/temp_dir.h"

class HandlerFixture : public testing::Test {
 protected:
  // The built module file copied into the folder; nullptr for none.
  virtual const char* moduleFile() const = 0;

  void SetUp() override;
  void TearDown() override;

  // A shot written whole under a temporary name, then renamed into place;
  // ageSeconds back-dates it, since the module lists the oldest first.
  void writeShot(const std::string& name, const std::string& bytes, int ageSeconds = 0);
  std::vector<std::string> cardFiles() const;

  // The "call" lines of the module's trace after the mark, without the
  // processing calls unless withPolls.
  std::vector<std::string> traceCalls(bool withPolls = false) const;
  void markTrace();
  std::string traceText() const;

  testing_support::TempDir dir_;
  std::filesystem::path work_, card_, trace_;
  std::unique_ptr<CameraHandler> handler_;

 private:
  std::filesystem::path previousDirectory_;
  std::size_t traceMark_ = 0;
};

// Joins lines with "\n" for readable failure messages.
std::string joined(const std::vector<std::string>& lines);

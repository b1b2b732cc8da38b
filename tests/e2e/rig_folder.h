// A working directory laid out as on the survey machine: the camera module
// beside the configuration, a camera card folder that the stand-in module
// reads, and pseudo-terminals for the trigger and laser-power lines.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/serial_lines.h"
#include "support/temp_dir.h"

namespace e2e {

class RigFolder {
 public:
  // Copies the stand-in module into dir and makes the card folder dir/card.
  explicit RigFolder(const testing_support::TempDir& dir);
  RigFolder(const RigFolder&) = delete;
  RigFolder& operator=(const RigFolder&) = delete;

  // False, with the reason in error(), when any part could not be made.
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  const SerialLines& serialLines() const { return serialLines_; }
  // The "[trigger]" and "[laserpower]" sections naming the two lines.
  std::string iniSections() const { return serialLines_.iniSections(); }
  const std::filesystem::path& card() const { return card_; }

  // The server's extra environment: the card folder and the module's
  // asynchronous mode, as moduleEnvironment() gives them.
  std::vector<std::string> environment(const std::vector<std::string>& more = {}) const;

  // Puts a shot on the card as a camera does: written under a name the
  // module skips (name.tmp), then renamed into place in one step.
  bool dropShot(const std::string& name, const std::string& bytes) const;
  // The names of the files on the card, sorted.
  std::vector<std::string> shotsOnCard() const;

 private:
  SerialLines serialLines_;
  std::filesystem::path card_;
  std::string error_;
};

// Copies the stand-in camera module into dir, where the server looks for
// the vendor's module. False, with the reason in *error, when it fails.
bool copyStandInModule(const std::filesystem::path& dir, std::string* error);

// The stand-in module's environment for a card folder: SKERROW_CAM_CARD and
// SKERROW_CAM_ASYNC=1 (a real module completes on later processing calls),
// each replaced by an entry of more for the same variable, then the rest of
// more.
std::vector<std::string> moduleEnvironment(const std::string& card,
                                           const std::vector<std::string>& more);

// True once a server log shows the run under way: the camera connected,
// both serial lines open and the listener listening.
bool holdsRunningServer(const std::string& log);

// Shot contents that are not a JPEG, so the server saves them byte for
// byte; zero bytes included, so that no text handling can pass them. Each
// seed gives other bytes.
std::string shotBytes(int seed, std::size_t size);

}  // namespace e2e

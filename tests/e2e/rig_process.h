// skerrow-rig as a child process beside the server, in the test's folder:
// the trigger line (a pseudo-terminal linked as ./trigger-line), the laser
// line (a remote serial port on loopback), the card folder ./card, the
// rig's log ./rig-log.csv and its control FIFO ./rig-control. The stand-in
// camera module is copied beside them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "e2e/process.h"
#include "support/temp_dir.h"

namespace e2e {

// One line of the rig's log, split at its commas.
struct RigRow {
  std::string utc;  // host clock, 2024-05-01T12:00:00.123456Z
  // trigger, miss, spurious, shot, rts, error, stall, resume, control,
  // refused, unplug, replug, undeliverable, card-gone, card-back
  std::string event;
  // trigger, spurious, shot, error, undeliverable: the card frame, from 1;
  // empty for a missed trigger and its miss row
  std::string frame;
  // trigger, shot, error, undeliverable: the name on the card; control and
  // refused: the command; unplug and replug: the line, trigger or laser
  std::string cardName;
  std::string cameraTime;  // trigger, miss, spurious, shot: 2024:05:01 12:00:00.123
  std::string rts;         // rts: on or off
};

class RigProcess {
 public:
  // Starts the rig with the extra options given and waits until it is
  // ready.
  RigProcess(const testing_support::TempDir& dir, const std::vector<std::string>& options = {});
  RigProcess(const RigProcess&) = delete;
  RigProcess& operator=(const RigProcess&) = delete;

  // False, with the reason in error(), when the rig is not up.
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // "[trigger]" and "[laserpower]" sections naming the rig's two lines.
  std::string iniSections() const;
  // The server's extra environment for the stand-in module, as
  // moduleEnvironment() gives it: an entry of more replaces the default of
  // the same variable, e.g. "SKERROW_CAM_ASYNC=0".
  std::vector<std::string> environment(const std::vector<std::string>& more = {}) const;

  // The rig's log lines of one kind of event, in the order written.
  std::vector<RigRow> rows(const std::string& event) const;
  // The unplug and replug rows of one line, "trigger" or "laser", in order.
  std::vector<RigRow> lineRows(const std::string& line) const;

  // A stalled camera takes triggers but writes no shot until resumed.
  bool stall();
  bool resume();

  // Gives the rig one control command line through its FIFO, e.g.
  // "unplug-trigger 5", "unplug-laser 5", "undeliverable", "stall". True
  // when the whole line was written; the rig's control or refused row tells
  // how it was taken.
  bool control(const std::string& line);

  // Unplugs the camera's USB link: the card folder is renamed away, so the
  // stand-in module loses the camera while the rig holds its shots. plug()
  // renames it back. False when the rename fails.
  bool unplugCamera();
  bool plugCamera();

  // Stops the rig with SIGINT; true when it ended with status 0.
  bool stop();

 private:
  std::vector<RigRow> allRows() const;

  const testing_support::TempDir& dir_;
  std::unique_ptr<ServerProcess> process_;
  std::string triggerName_;
  std::string laserName_;
  std::string error_;
};

}  // namespace e2e

// The whole rig: trigger line, laser line, shutter and card, and the log.
// Threads: the trigger reader (pseudo-terminal) or the trigger port server,
// the laser port server, the camera thread that writes shots once their lag
// has passed, and the reader of the control FIFO when there is one.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rig/camera_faults.h"
#include "rig/control_fifo.h"
#include "rig/port_server.h"
#include "rig/pty_line.h"
#include "rig/replay_folder.h"
#include "rig/rig_log.h"
#include "rig/rig_options.h"

namespace rig {

class Rig {
 public:
  explicit Rig(RigOptions options);
  ~Rig();  // stops
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // Makes the card folder, opens the log and the replay folder, creates the
  // lines and starts the threads; writes the ports file last, so that its
  // presence means the rig is ready. False, after one line on standard
  // error, when any of it fails; stop() then cleans up.
  bool start();
  // Stops every thread (shots not yet due are dropped) and closes the lines.
  // Safe to call twice.
  void stop();

  // The trigger line's port name: the pseudo-terminal's slave path (or the
  // link, when one was made), or rfc2217://127.0.0.1:PORT.
  std::string triggerName() const;
  std::string laserName() const;
  // Shots written whole to the card so far.
  std::uint64_t shotsWritten() const;

  // A stalled camera still takes every trigger (and logs it) but writes
  // nothing to the card; once it is no longer stalled, the shots held back
  // are written in frame order, each as soon as its lag has passed. Logged
  // as a stall or resume line when the state changes.
  void setStalled(bool stalled);

  // Carries out one control command line (see parseControlCommand): logged
  // as a control row, then done. A line that is no command is logged as a
  // refused row, with one line on standard error, and false is returned.
  // Called by the control reader; public so that tests can give commands
  // without the FIFO.
  bool control(const std::string& line);

  // A zero byte in data releases the shutter once per zero byte; other bytes
  // are line noise. A trigger the camera misses on request is logged with a
  // miss row and makes no shot. Called by the trigger reader; public so that
  // tests can release the shutter without a line.
  void onTriggerBytes(const std::uint8_t* data, std::size_t size);

 private:
  struct PendingShot {
    std::uint64_t frame;
    std::chrono::steady_clock::time_point due;
    CameraTime camera;
    std::string baseName;  // card name without the extension
    bool tried = false;    // a write was begun; the fields below hold
    bool undeliverable = false;
    std::string cardName;
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
  };
  enum class WriteResult { kWritten, kFailed, kCardGone };

  void TriggerReaderThread();
  void CameraThread();
  void ControlThread();
  // Makes the shot's file (once) and writes it to the card.
  WriteResult writeShot(PendingShot* shot);
  bool makeShot(PendingShot* shot);
  bool cardPresent() const;
  // A new shot with the next card frame number; requires the lock.
  PendingShot nextShot(std::chrono::steady_clock::time_point due, const CameraTime& camera);
  // The name the log gives a shot not yet made: a replayed file's extension
  // is known only once the file is read.
  std::string loggedName(const PendingShot& shot) const;
  // Takes the shot the camera makes on its own, once its time has come;
  // requires the lock.
  void takeSpuriousShot();
  // Closes the trigger terminal until the time away has passed, then makes
  // a new one under the same link. Called by the trigger reader with the
  // lock held; false when the rig is stopping.
  bool keepTriggerAway(std::unique_lock<std::mutex>* lock);
  bool writePortsFile();

  RigOptions options_;
  RigLog log_;
  ReplayFolder replay_;
  PtyLine pty_;
  ControlFifo controlFifo_;
  std::unique_ptr<PortServer> triggerServer_;
  std::unique_ptr<PortServer> laserServer_;

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  bool stopping_ = false;
  bool stalled_ = false;
  CameraFaults faults_;
  std::uint64_t triggers_ = 0;  // zero bytes taken: the trigger ordinal
  std::uint64_t frames_ = 0;    // card frame numbers given
  std::uint64_t written_ = 0;
  std::deque<PendingShot> pending_;
  std::string ptyName_;            // the trigger terminal's slave path; changes on a replug
  bool triggerUnplugged_ = false;  // the trigger reader is to unplug the terminal
  std::chrono::steady_clock::time_point triggerAwayUntil_;
  int undeliverable_ = 0;  // shots still to be written as undeliverable
  bool cardGone_ = false;  // a due shot found the card folder missing
  // The latest exposure (trigger, missed or not, or a shot of the camera's
  // own) as host time: the next one is kept later when exposures are kept
  // apart.
  bool exposed_ = false;
  SystemTime lastExposure_;
  // When the latest trigger arrived, for the spacing of the next two.
  bool triggered_ = false;
  std::chrono::steady_clock::time_point lastArrival_;
  // A shot of the camera's own still to be taken, and when.
  bool spuriousPending_ = false;
  std::chrono::steady_clock::time_point spuriousAt_;

  std::thread triggerReader_;
  std::thread camera_;
  std::thread controlReader_;
};

}  // namespace rig

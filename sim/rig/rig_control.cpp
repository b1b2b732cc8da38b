// The rig's control commands: stalls, unplugged lines and shots the camera
// cannot deliver, given through the control FIFO or by tests directly.
#include <cstdio>

#include "rig/control_command.h"
#include "rig/rig.h"

namespace rig {
namespace {

// How long the control reader waits for a line, so that stop() is seen
// promptly.
constexpr int kControlPollMs = 50;

}  // namespace

void Rig::ControlThread() {
  std::string line;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
    }
    if (controlFifo_.readLine(&line, kControlPollMs)) control(line);
  }
}

bool Rig::control(const std::string& line) {
  const auto now = std::chrono::system_clock::now();
  // A blank line (an echo with nothing) is no command and not worth a row.
  if (line.find_first_not_of(" \t\r") == std::string::npos) return true;
  ControlCommand command;
  if (!parseControlCommand(line, &command)) {
    const std::string text = printableCommand(line);
    log_.refused(now, text);
    std::fprintf(stderr, "skerrow-rig: unknown control command '%s'\n", text.c_str());
    return false;
  }
  log_.control(now, command.text);
  const std::chrono::seconds away(command.seconds);
  switch (command.kind) {
    case ControlCommand::Kind::kStall:
    case ControlCommand::Kind::kResume:
      setStalled(command.kind == ControlCommand::Kind::kStall);
      break;
    case ControlCommand::Kind::kUnplugTrigger:
      if (triggerServer_) {
        triggerServer_->unplug(away);
      } else {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          triggerUnplugged_ = true;
          triggerAwayUntil_ = std::chrono::steady_clock::now() + away;
        }
        changed_.notify_all();
      }
      break;
    case ControlCommand::Kind::kUnplugLaser:
      if (laserServer_) laserServer_->unplug(away);
      break;
    case ControlCommand::Kind::kUndeliverable: {
      std::lock_guard<std::mutex> lock(mutex_);
      ++undeliverable_;
      break;
    }
  }
  return true;
}

bool Rig::keepTriggerAway(std::unique_lock<std::mutex>* lock) {
  lock->unlock();
  pty_.close();
  log_.unplug(std::chrono::system_clock::now(), "trigger", true);
  lock->lock();
  while (!stopping_) {
    // Unplugs that come while away only move the time of return.
    triggerUnplugged_ = false;
    const auto until = triggerAwayUntil_;
    if (std::chrono::steady_clock::now() >= until) break;
    changed_.wait_until(*lock, until);
  }
  if (stopping_) return false;
  lock->unlock();
  const bool opened = pty_.open(options_.triggerLink);
  lock->lock();
  // A terminal that cannot be made again (said on standard error) leaves
  // the line away for good.
  if (opened) {
    ptyName_ = pty_.slavePath();
    log_.unplug(std::chrono::system_clock::now(), "trigger", false);
  }
  return true;
}

}  // namespace rig

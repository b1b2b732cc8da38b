// The commands a test or an operator gives the running rig, one per line.
#pragma once

#include <string>

namespace rig {

struct ControlCommand {
  enum class Kind { kStall, kResume, kUnplugTrigger, kUnplugLaser, kUndeliverable };
  Kind kind = Kind::kStall;
  int seconds = 0;   // unplug-trigger and unplug-laser: how long the line stays away
  std::string text;  // the command as the log shows it, e.g. "unplug-laser 5"
};

// The longest time a line can be unplugged for: an hour.
constexpr int kMaxUnplugSeconds = 3600;

// Reads one line (without its line end; a trailing carriage return and
// blanks around the words are ignored): "stall", "resume", "unplug-trigger S",
// "unplug-laser S" (S whole seconds, 1 to 3600) or "undeliverable". False,
// with *command unchanged, for anything else.
bool parseControlCommand(const std::string& line, ControlCommand* command);

// The line made fit for one field of the CSV log and one line of text:
// commas and control characters become '?', and it is cut to 64 characters.
std::string printableCommand(const std::string& line);

}  // namespace rig

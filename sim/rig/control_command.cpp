#include "rig/control_command.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace rig {

bool parseControlCommand(const std::string& line, ControlCommand* command) {
  std::istringstream split(line);
  std::vector<std::string> words;
  for (std::string word; split >> word;) words.push_back(word);
  if (words.size() == 1) {
    ControlCommand parsed;
    if (words[0] == "stall") {
      parsed.kind = ControlCommand::Kind::kStall;
    } else if (words[0] == "resume") {
      parsed.kind = ControlCommand::Kind::kResume;
    } else if (words[0] == "undeliverable") {
      parsed.kind = ControlCommand::Kind::kUndeliverable;
    } else {
      return false;
    }
    parsed.text = words[0];
    *command = parsed;
    return true;
  }
  if (words.size() != 2) return false;
  ControlCommand parsed;
  if (words[0] == "unplug-trigger") {
    parsed.kind = ControlCommand::Kind::kUnplugTrigger;
  } else if (words[0] == "unplug-laser") {
    parsed.kind = ControlCommand::Kind::kUnplugLaser;
  } else {
    return false;
  }
  const std::string& number = words[1];
  const auto result = std::from_chars(number.data(), number.data() + number.size(), parsed.seconds);
  if (result.ec != std::errc() || result.ptr != number.data() + number.size() ||
      parsed.seconds < 1 || parsed.seconds > kMaxUnplugSeconds) {
    return false;
  }
  parsed.text = words[0] + " " + std::to_string(parsed.seconds);
  *command = parsed;
  return true;
}

std::string printableCommand(const std::string& line) {
  std::string text = line.substr(0, 64);
  for (char& c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == ',') c = '?';
  }
  return text;
}

}  // namespace rig

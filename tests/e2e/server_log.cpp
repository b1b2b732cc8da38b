#include "e2e/server_log.h"

#include <algorithm>
#include <regex>

namespace e2e {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

namespace {

// Reads "[YYYYMMDD HH:MM:SS] " at the start of line into *stamp.
bool readStamp(const std::string& line, std::time_t* stamp) {
  static const std::regex prefix(R"(^\[(\d{4})(\d{2})(\d{2}) (\d{2}):(\d{2}):(\d{2})\] )");
  std::smatch match;
  if (!std::regex_search(line, match, prefix)) return false;
  std::tm parts{};
  parts.tm_year = std::stoi(match[1]) - 1900;
  parts.tm_mon = std::stoi(match[2]) - 1;
  parts.tm_mday = std::stoi(match[3]);
  parts.tm_hour = std::stoi(match[4]);
  parts.tm_min = std::stoi(match[5]);
  parts.tm_sec = std::stoi(match[6]);
  const std::tm asRead = parts;
  *stamp = timegm(&parts);
  // timegm folds impossible fields into the next unit; a changed field
  // means the prefix named a moment that does not exist.
  return parts.tm_year == asRead.tm_year && parts.tm_mon == asRead.tm_mon &&
         parts.tm_mday == asRead.tm_mday && parts.tm_hour == asRead.tm_hour &&
         parts.tm_min == asRead.tm_min && parts.tm_sec == asRead.tm_sec;
}

constexpr std::size_t kPrefixLength = sizeof "[20240101 00:00:00] " - 1;
const char* const kRule = "-----------------------------";

}  // namespace

std::vector<LogLine> parseLog(const std::string& text) {
  std::vector<LogLine> result;
  for (const std::string& line : splitLines(text)) {
    LogLine entry;
    entry.stamped = readStamp(line, &entry.stamp);
    entry.text = entry.stamped ? line.substr(kPrefixLength) : line;
    result.push_back(entry);
  }
  return result;
}

std::string stamped(const std::string& text) { return "[stamped] " + text; }

std::string plain(const std::string& text) { return "[plain] " + text; }

std::vector<std::string> describe(const std::vector<LogLine>& lines) {
  std::vector<std::string> result;
  for (const LogLine& line : lines)
    result.push_back(line.stamped ? stamped(line.text) : plain(line.text));
  return result;
}

int countText(const std::vector<LogLine>& lines, const std::string& text) {
  int count = 0;
  for (const LogLine& line : lines) count += line.text == text ? 1 : 0;
  return count;
}

Printout emptyPrintout() {
  Printout values;
  values.serverPort = "0";
  values.serverMaxUsers = "0";
  values.logfilename = "";
  values.cameraPreTrigger = "0";
  values.cameraFilePrefix = "";
  values.cameraInterval = "0";
  values.triggerPortName = "";
  values.triggerBaudRate = "0";
  values.triggerBits = "0";
  values.triggerParity = "";
  values.triggerStop = "0";
  return values;
}

std::vector<std::string> printoutLines(const Printout& values) {
  return {
      stamped("SKERROW SETTINGS"),
      stamped(kRule),
      stamped("| serverPort:        " + values.serverPort),
      stamped("| serverMaxUsers:    " + values.serverMaxUsers),
      // The one line padded with two tabs and two blanks.
      stamped("| logfilename:\t\t  " + values.logfilename),
      stamped("| cameraPreTrigger:  " + values.cameraPreTrigger),
      stamped("| cameraFilePrefix:  " + values.cameraFilePrefix),
      stamped("| cameraInterval:    " + values.cameraInterval),
      stamped("| triggerPortName:   " + values.triggerPortName),
      stamped("| triggerBaudRate:   " + values.triggerBaudRate),
      stamped("| triggerBits:       " + values.triggerBits),
      stamped("| triggerParity:     " + values.triggerParity),
      stamped("| triggerStop:       " + values.triggerStop),
      stamped(kRule),
  };
}

bool holdsPrintout(const std::string& text) {
  const std::string rule = std::string("] ") + kRule + "\n";
  const std::size_t first = text.find(rule);
  return first != std::string::npos && text.find(rule, first + 1) != std::string::npos;
}

std::vector<std::string> promptLines() { return {plain(""), plain("Press any key to exit...")}; }

testing::AssertionResult framedBy(const std::vector<std::string>& lines,
                                  const std::vector<std::string>& head,
                                  const std::vector<std::string>& tail,
                                  std::vector<std::string>* middle) {
  const bool fits = lines.size() >= head.size() + tail.size();
  const bool headMatches = fits && std::equal(head.begin(), head.end(), lines.begin());
  const bool tailMatches = fits && std::equal(tail.rbegin(), tail.rend(), lines.rbegin());
  if (headMatches && tailMatches) {
    if (middle != nullptr)
      middle->assign(lines.begin() + static_cast<std::ptrdiff_t>(head.size()),
                     lines.end() - static_cast<std::ptrdiff_t>(tail.size()));
    return testing::AssertionSuccess();
  }
  testing::AssertionResult failure = testing::AssertionFailure();
  failure << (headMatches ? "" : "the first lines differ; ")
          << (tailMatches ? "" : "the last lines differ; ") << "expected first:\n";
  for (const std::string& line : head) failure << "  " << line << "\n";
  failure << "expected last:\n";
  for (const std::string& line : tail) failure << "  " << line << "\n";
  failure << "got:\n";
  for (const std::string& line : lines) failure << "  " << line << "\n";
  return failure;
}

testing::AssertionResult framedByShutdown(const std::vector<std::string>& lines,
                                          const std::vector<std::string>& head,
                                          const std::vector<std::string>& after,
                                          std::vector<std::string>* middle) {
  const auto tail = [&](const char* firstEnd, const char* secondEnd) {
    std::vector<std::string> result{stamped(kInterruptLine), stamped(firstEnd), stamped(secondEnd),
                                    stamped(kEndLine)};
    append(&result, after);
    return result;
  };
  const std::vector<std::string> cameraFirst = tail(kCameraEndLine, kTriggerEndLine);
  if (framedBy(lines, head, cameraFirst)) return framedBy(lines, head, cameraFirst, middle);
  return framedBy(lines, head, tail(kTriggerEndLine, kCameraEndLine), middle)
         << "(the two thread-end lines may also come the other way round)";
}

std::string withoutProgressMarks(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  std::size_t lineStart = 0;
  while (lineStart < text.size()) {
    std::size_t end = text.find('\n', lineStart);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(lineStart, end - lineStart);
    const std::size_t marks = line.find_first_not_of("oc");
    // Only marks directly before a timestamp are taken off: text of the
    // server's own that begins with these letters stays.
    const bool beforeStamp = marks != std::string::npos && marks > 0 && line[marks] == '[';
    result += beforeStamp ? line.substr(marks) : line;
    lineStart = end;
  }
  return result;
}

std::vector<std::string> errorEntries(const std::vector<std::string>& lines) {
  std::vector<std::string> errors;
  for (const std::string& line : lines) {
    if (line.find("ERROR") != std::string::npos || line.find("Error") != std::string::npos)
      errors.push_back(line);
  }
  return errors;
}

void append(std::vector<std::string>* lines, const std::vector<std::string>& more) {
  lines->insert(lines->end(), more.begin(), more.end());
}

}  // namespace e2e

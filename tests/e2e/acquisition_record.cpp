#include "e2e/acquisition_record.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "support/temp_dir.h"

namespace e2e {
namespace {

const char* const kSending = "TriggerWorkerThread(): Sending Trigger after ";
const char* const kNextFile = "TriggerWorkerThread(): Next File: ";
const char* const kQueueFull =
    "TriggerWorkerThread(): ERROR Cannot Enqueue filename. Queue is full.";
const char* const kGotFile = "CameraWorkerThread(): GOT FILE [";

bool startsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::vector<TriggerPass> triggerPasses(const std::vector<LogLine>& log) {
  std::vector<TriggerPass> passes;
  for (std::size_t i = 0; i < log.size(); ++i) {
    const std::string& text = log[i].text;
    if (startsWith(text, kSending)) {
      TriggerPass pass;
      pass.line = i;
      pass.spacingMs = std::atof(text.c_str() + std::string(kSending).size());
      passes.push_back(pass);
    } else if (startsWith(text, kNextFile) && !passes.empty()) {
      std::string name = text.substr(std::string(kNextFile).size());
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0)
        name.resize(name.size() - 4);
      passes.back().name = name;
      passes.back().queued = true;
    } else if (text == kQueueFull && !passes.empty()) {
      passes.back().queued = false;
    }
  }
  return passes;
}

std::vector<std::string> savedNames(const std::vector<LogLine>& log) {
  std::vector<std::string> names;
  for (const LogLine& line : log) {
    if (startsWith(line.text, kGotFile) && line.text.back() == ']')
      names.push_back(line.text.substr(std::string(kGotFile).size(),
                                       line.text.size() - std::string(kGotFile).size() - 1));
  }
  return names;
}

std::size_t entryIndex(const std::vector<LogLine>& log, const std::string& text) {
  for (std::size_t i = 0; i < log.size(); ++i)
    if (log[i].text == text) return i;
  return log.size();
}

std::string triggerTimeOfName(const std::string& name) {
  const std::size_t at = name.rfind("VARNO_");
  if (at == std::string::npos) return "";
  int y, mo, d, h, mi, s, ms;
  char tail = 0;
  const int read = std::sscanf(name.c_str() + at, "VARNO_%4d%2d%2d_%2d.%2d.%2d.%3d%c", &y, &mo, &d,
                               &h, &mi, &s, &ms, &tail);
  if (read < 7 || (read == 8 && tail != '.')) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
  return text;
}

bool readExifTimes(const std::vector<std::string>& paths, const std::string& scratchDir,
                   std::map<std::string, ExifTimes>* times, std::string* error) {
  if (std::system("exiftool -ver >/dev/null 2>&1") != 0) {
    *error = "exiftool is not installed";
    return false;
  }
  const std::string report = scratchDir + "/exif-times.txt";
  // -T: one tab-separated line per file, in the order given, "-" for a
  // missing tag. CreateDate is exiftool's name for DateTimeDigitized.
  std::string command =
      "exiftool -q -T -FilePath -DateTimeOriginal -SubSecTimeOriginal -CreateDate "
      "-SubSecTimeDigitized";
  for (const std::string& path : paths) command += " " + shellQuoted(path);
  command += " >" + shellQuoted(report) + " 2>&1";
  if (std::system(command.c_str()) != 0) {
    *error = "exiftool failed: " + testing_support::readFile(report);
    return false;
  }
  std::istringstream lines(testing_support::readFile(report));
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    if (fields.size() != 5) continue;
    (*times)[fields[0]] = {fields[1] + "." + fields[2], fields[3] + "." + fields[4]};
  }
  return true;
}

std::vector<ImageLogEntry> readImageLog(const std::string& path) {
  std::vector<ImageLogEntry> entries;
  for (const std::string& line : splitLines(testing_support::readFile(path))) {
    ImageLogEntry entry;
    int y, mo, d, h, mi, s, ms, consumed = 0;
    if (std::sscanf(line.c_str(), "%4d %2d %2d %2d %2d %2d %3d %6d %6d %n", &y, &mo, &d, &h, &mi,
                    &s, &ms, &entry.triggers, &entry.images, &consumed) == 9 &&
        consumed > 0) {
      entry.name = line.substr(static_cast<std::size_t>(consumed));
    } else {
      entry.triggers = -1;
      entry.name = line;
    }
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace e2e

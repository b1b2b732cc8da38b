// What a whole acquisition left behind, read back for the checks: the
// trigger thread's and camera thread's lines in the server log, the image
// logs, and the saved files' Exif times as an independent reader
// (exiftool) sees them.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "e2e/server_log.h"

namespace e2e {

// One pass of the trigger thread that got as far as a name.
struct TriggerPass {
  std::size_t line = 0;  // index of its "Sending Trigger after" entry in the log
  double spacingMs = 0;  // the spacing that entry reports
  std::string name;      // the base name of its "Next File" entry
  bool queued = false;   // false when no Next File entry followed: no trigger sent
};

std::vector<TriggerPass> triggerPasses(const std::vector<LogLine>& log);

// The names of the camera thread's "GOT FILE" entries, in order.
std::vector<std::string> savedNames(const std::vector<LogLine>& log);

// Index of the first entry whose text is text, or the log's size.
std::size_t entryIndex(const std::vector<LogLine>& log, const std::string& text);

// "YYYY:MM:DD hh:mm:ss.mmm" read from a name that ends in
// VARNO_YYYYMMDD_hh.mm.ss.mmm (an extension may follow); empty otherwise.
std::string triggerTimeOfName(const std::string& name);

struct ExifTimes {
  std::string original;   // DateTimeOriginal.SubSecTimeOriginal
  std::string digitized;  // DateTimeDigitized.SubSecTimeDigitized
};

// The Exif times of the files, by path, as exiftool reads them (one run for
// all). False, with the reason in *error, when exiftool cannot be run.
bool readExifTimes(const std::vector<std::string>& paths, const std::string& scratchDir,
                   std::map<std::string, ExifTimes>* times, std::string* error);

// One image-log line: "YYYY MM DD hh mm ss mmm triggers images name".
struct ImageLogEntry {
  int triggers = -1;
  int images = -1;
  std::string name;
};

// The entries of an image log; a line of another form gives triggers -1.
std::vector<ImageLogEntry> readImageLog(const std::string& path);

}  // namespace e2e

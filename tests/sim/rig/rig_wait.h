// Waiting on the rig's files, with a generous deadline and no fixed sleep.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace rigtest {

constexpr std::chrono::seconds kDeadline{20};

// Looks again every few milliseconds until done() holds or the deadline
// passes; returns whether done() holds at the end.
bool waitFor(const std::function<bool()>& done);

// The log's lines after the header, split at commas (six fields each).
std::vector<std::vector<std::string>> logRows(const std::string& path);
// Rows whose event field equals event.
std::vector<std::vector<std::string>> rowsOf(const std::string& path, const std::string& event);

// Names of the card's files, sorted.
std::vector<std::string> cardFiles(const std::string& dir);

// Whether exiftool can be run here.
bool haveExiftool();
// The tags exiftool reads from the file, by name ("-s" names), for the
// options given ("-DateTimeOriginal -SubSecTimeOriginal"); tags the file
// lacks are absent. False when exiftool fails.
bool exiftoolTags(const std::string& path, const std::string& tagOptions,
                  std::map<std::string, std::string>* tags);

}  // namespace rigtest

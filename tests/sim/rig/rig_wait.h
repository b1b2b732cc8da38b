// Waiting on the rig's files, with a generous deadline and no fixed sleep.
#pragma once

#include <chrono>
#include <functional>
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

}  // namespace rigtest

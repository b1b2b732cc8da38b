// The camera card: a folder where shots appear, written whole and then
// renamed into place. Each shot is one item, known by an ID given when it is
// first seen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Shot {
  std::uint32_t id;
  std::string name;  // file name in the folder
  bool announced;    // the program has been told of it, or opened it
  bool delivered;    // its image went out whole; it leaves the card when its item closes
};

class Card {
 public:
  // Whether the folder exists (the camera is attached).
  static bool present(const std::string& folder);

  // Reads the folder again: new shots get the next IDs (oldest first, by
  // modification time, then name); shots gone from the folder are dropped,
  // and the IDs of those the program knew of are kept for removedIds().
  void refresh(const std::string& folder);

  // Shots oldest first.
  std::vector<Shot>& shots() { return shots_; }
  Shot* find(std::uint32_t id);
  // Takes the IDs of announced shots that left the card since the last call.
  std::vector<std::uint32_t> takeRemovedIds();
  // Deletes the shot's file and forgets it. False when it cannot be deleted.
  bool erase(const std::string& folder, std::uint32_t id);
  // Forgets every shot (the camera was detached).
  void clear();

 private:
  std::vector<Shot> shots_;
  std::vector<std::uint32_t> removed_;
  std::uint32_t nextId_ = 1;
};

// Whether a folder entry is a finished shot: names starting with '.' or
// ending in ".tmp" or ".part" are files still being written.
bool isShotName(const std::string& name);

// The name of the file beside a shot that marks it as one the camera cannot
// deliver: ".NAME.undeliverable" (a name isShotName skips).
std::string undeliverableMarker(const std::string& shotName);

}  // namespace sim

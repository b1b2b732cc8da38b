#include "card.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace sim {
namespace fs = std::filesystem;

bool isShotName(const std::string& name) {
  auto endsWith = [&](const char* suffix) {
    const std::string s = suffix;
    return name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
  };
  return !name.empty() && name[0] != '.' && !endsWith(".tmp") && !endsWith(".part");
}

std::string undeliverableMarker(const std::string& shotName) {
  return "." + shotName + ".undeliverable";
}

bool Card::present(const std::string& folder) {
  std::error_code error;
  return !folder.empty() && fs::is_directory(fs::path(folder), error);
}

void Card::refresh(const std::string& folder) {
  struct Found {
    fs::file_time_type time;
    std::string name;
  };
  std::vector<Found> found;
  std::error_code error;
  for (fs::directory_iterator it(fs::path(folder), error), end; !error && it != end;
       it.increment(error)) {
    std::error_code entryError;
    if (!it->is_regular_file(entryError)) continue;
    const std::string name = it->path().filename().string();
    if (!isShotName(name)) continue;
    const auto time = it->last_write_time(entryError);
    if (entryError) continue;
    found.push_back({time, name});
  }
  if (error) return;  // a folder that cannot be read now keeps the last list

  std::vector<Shot> kept;
  for (Shot& shot : shots_) {
    const bool stays = std::any_of(found.begin(), found.end(),
                                   [&](const Found& f) { return f.name == shot.name; });
    if (stays)
      kept.push_back(shot);
    else if (shot.announced)
      removed_.push_back(shot.id);
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.time != b.time ? a.time < b.time : a.name < b.name;
  });
  for (const Found& f : found) {
    const bool known = std::any_of(kept.begin(), kept.end(),
                                   [&](const Shot& shot) { return shot.name == f.name; });
    if (!known) kept.push_back({nextId_++, f.name, false, false});
  }
  shots_ = std::move(kept);
}

Shot* Card::find(std::uint32_t id) {
  for (Shot& shot : shots_)
    if (shot.id == id) return &shot;
  return nullptr;
}

std::vector<std::uint32_t> Card::takeRemovedIds() {
  std::vector<std::uint32_t> ids;
  ids.swap(removed_);
  return ids;
}

bool Card::erase(const std::string& folder, std::uint32_t id) {
  for (auto it = shots_.begin(); it != shots_.end(); ++it) {
    if (it->id != id) continue;
    std::error_code error;
    if (!fs::remove(fs::path(folder) / it->name, error) || error) return false;
    shots_.erase(it);
    return true;
  }
  return false;
}

void Card::clear() {
  // The whole camera goes; its items are not announced one by one.
  shots_.clear();
  removed_.clear();
}

}  // namespace sim

#include "e2e/rig_folder.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace e2e {

bool copyStandInModule(const std::filesystem::path& dir, std::string* error) {
  std::error_code failure;
  std::filesystem::copy_file(STAND_IN_MODULE, dir / "Type0001.md3", failure);
  if (failure) *error = std::string("copying ") + STAND_IN_MODULE + ": " + failure.message();
  return !failure;
}

RigFolder::RigFolder(const testing_support::TempDir& dir) : card_(dir.path() / "card") {
  if (!copyStandInModule(dir.path(), &error_)) return;
  std::error_code failure;
  std::filesystem::create_directory(card_, failure);
  if (failure) {
    error_ = "making " + card_.string() + ": " + failure.message();
    return;
  }
  if (!serialLines_.ok()) error_ = "no pseudo-terminal for the serial lines";
}

std::vector<std::string> moduleEnvironment(const std::string& card,
                                           const std::vector<std::string>& more) {
  std::vector<std::string> result{"SKERROW_CAM_CARD=" + card, "SKERROW_CAM_ASYNC=1"};
  const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  // Replaced in place: a child's getenv takes the first entry of a name.
  for (const std::string& entry : more) {
    const auto same = std::find_if(result.begin(), result.end(), [&](const std::string& known) {
      return nameOf(known) == nameOf(entry);
    });
    if (same != result.end())
      *same = entry;
    else
      result.push_back(entry);
  }
  return result;
}

std::vector<std::string> RigFolder::environment(const std::vector<std::string>& more) const {
  return moduleEnvironment(card_.string(), more);
}

bool RigFolder::dropShot(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path partial = card_ / (name + ".tmp");
  {
    std::ofstream out(partial, std::ios::binary);
    out << bytes;
    if (!out.flush()) return false;
  }
  std::error_code failure;
  std::filesystem::rename(partial, card_ / name, failure);
  return !failure;
}

std::vector<std::string> RigFolder::shotsOnCard() const {
  std::vector<std::string> names;
  std::error_code failure;
  for (const auto& entry : std::filesystem::directory_iterator(card_, failure))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool holdsRunningServer(const std::string& log) {
  for (const char* needle : {"] CameraWorkerThread(): Connected to camera on thread start.\n",
                             "] TriggerWorkerThread(): Laser power serial port configured and open",
                             "] SocketInitialize(): listen() successful.\n"}) {
    if (log.find(needle) == std::string::npos) return false;
  }
  return true;
}

std::string shotBytes(int seed, std::size_t size) {
  std::string bytes(size, '\0');
  unsigned state = static_cast<unsigned>(seed) * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  // Not the JPEG start mark, whatever the seed.
  bytes[0] = 'S';
  return bytes;
}

}  // namespace e2e

#include "handler_fixture.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "camera/data_proc.h"
#include "camera/module_callbacks.h"
#include "camera/module_commands.h"
#include "camera/module_library.h"
#include "camera/object_record.h"
#include "core/image_names.h"
#include "jpeg/exif_timestamp.h"
#include "stand_in_client.h"

namespace fs = std::filesystem;

namespace {

const char* const MODULE_VARIABLES[] = {
    "SKERROW_CAM_CARD",           "SKERROW_CAM_CHUNK",       "SKERROW_CAM_ASYNC",
    "SKERROW_CAM_RATE",           "SKERROW_CAM_DATA_TYPES",  "SKERROW_CAM_RAW_THUMBNAIL",
    "SKERROW_CAM_NO_REMOVE_FLAG", "SKERROW_CAM_REFUSE_OPEN", "SKERROW_CAM_RESTART_ENUM",
    "SKERROW_CAM_UNPLUG_AFTER",   "SKERROW_CAM_FAIL_AFTER",  "SKERROW_CAM_FAIL_TRANSFERS",
    "SKERROW_CAM_UI_REQUEST",     "SKERROW_CAM_TRACE",       "SKERROW_CAM_UNPLUG_FILE",
    "SKERROW_TEST_FORWARD_TO"};

void resetCameraGlobals() {
  std::snprintf(imageBaseName, sizeof imageBaseName, "img");
  std::snprintf(savedFileName, sizeof savedFileName, "img");
  std::memcpy(jpeg::exifDateString, "2001:01:01 00:00:00", 19);
  std::memcpy(jpeg::exifSubSecString, "000", 3);
  removeItemFlag = false;
  clearSavedFileRecord();
  uiRequestInput = nullptr;
  completionIdleLimitMs = DEFAULT_COMPLETION_IDLE_LIMIT_MS;
  lastProgressMark = 0;
}

}  // namespace

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

void HandlerFixture::SetUp() {
  for (const char* name : MODULE_VARIABLES) setModuleEnv(name, "");
  work_ = dir_.path() / "work";
  card_ = dir_.path() / "card";
  trace_ = dir_.path() / "trace.txt";
  fs::create_directories(work_);
  fs::create_directories(card_);
  // Copied before the working directory changes: under Wine the build path
  // is resolved against the current drive.
  if (moduleFile() != nullptr) fs::copy_file(moduleFile(), work_ / "Type0001.md3");
  setModuleEnv("SKERROW_CAM_CARD", card_.string());
  setModuleEnv("SKERROW_CAM_TRACE", trace_.string());
  previousDirectory_ = fs::current_path();
  fs::current_path(work_);
  resetCameraGlobals();
}

void HandlerFixture::TearDown() {
  handler_.reset();
  releaseClosedRecords();
  // A library left loaded by a failed connect would keep its file (and, on
  // Windows, the test folder) in use.
  unloadModule();
  fs::current_path(previousDirectory_);
  for (const char* name : MODULE_VARIABLES) setModuleEnv(name, "");
  resetCameraGlobals();
}

void HandlerFixture::writeShot(const std::string& name, const std::string& bytes, int ageSeconds) {
  const fs::path path = card_ / name;
  {
    std::ofstream out(path.string() + ".tmp", std::ios::binary);
    out << bytes;
  }
  fs::rename(path.string() + ".tmp", path);
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
}

std::vector<std::string> HandlerFixture::cardFiles() const {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(card_))
    names.push_back(entry.path().filename().string());
  return names;
}

std::string HandlerFixture::traceText() const {
  return testing_support::readTextFile(trace_.string());
}

std::vector<std::string> HandlerFixture::traceCalls(bool withPolls) const {
  std::istringstream in(traceText());
  std::vector<std::string> calls;
  std::string line;
  for (std::size_t number = 0; std::getline(in, line); ++number) {
    if (number < traceMark_ || line.rfind("call ", 0) != 0) continue;
    // "call <object> 0 0x0 0" is a processing call.
    const std::size_t command = line.find(' ', 5);
    if (!withPolls && line.compare(command, 8, " 0 0x0 0") == 0) continue;
    calls.push_back(line);
  }
  return calls;
}

void HandlerFixture::markTrace() {
  std::istringstream in(traceText());
  std::string line;
  traceMark_ = 0;
  while (std::getline(in, line)) ++traceMark_;
}

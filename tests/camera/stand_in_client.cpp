#include "stand_in_client.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

const char* const MODULE_VARIABLES[] = {
    "SKERROW_CAM_CARD",           "SKERROW_CAM_CHUNK",       "SKERROW_CAM_ASYNC",
    "SKERROW_CAM_RATE",           "SKERROW_CAM_DATA_TYPES",  "SKERROW_CAM_RAW_THUMBNAIL",
    "SKERROW_CAM_NO_REMOVE_FLAG", "SKERROW_CAM_REFUSE_OPEN", "SKERROW_CAM_RESTART_ENUM",
    "SKERROW_CAM_UNPLUG_AFTER",   "SKERROW_CAM_FAIL_AFTER",  "SKERROW_CAM_FAIL_TRANSFERS",
    "SKERROW_CAM_UI_REQUEST",     "SKERROW_CAM_TRACE",       "SKERROW_CAM_UNPLUG_FILE",
    "SKERROW_CAM_STRICT"};

using Completion = ModuleCompletion;

void completionProc(ModuleObject*, std::uint32_t, std::uint32_t, std::uint32_t, void*,
                    void* reference, std::int32_t result) {
  auto* completion = static_cast<Completion*>(reference);
  ++completion->count;
  completion->result = result;
}

Recorder* activeRecorder = nullptr;

void eventProc(void* reference, std::uint32_t code, std::uint32_t data) {
  activeRecorder->events.push_back({reference, code, data});
}

void progressProc(std::uint32_t, std::uint32_t, void* reference, std::uint32_t done,
                  std::uint32_t total) {
  auto* recorder = static_cast<Recorder*>(reference);
  if (total == 0 && done == 0) ++recorder->progressStarts;
  if (total == 0 && done == 1) ++recorder->progressSteps;
}

std::uint32_t uiRequestProc(void* reference, UIRequestInfo* request) {
  auto* recorder = static_cast<Recorder*>(reference);
  recorder->uiTypes.push_back(request->type);
  return recorder->uiAnswer;
}

std::int32_t dataProc(void* reference, void* info, void* data) {
  auto* recorder = static_cast<Recorder*>(reference);
  const int call = static_cast<int>(recorder->files.size() + recorder->raws.size());
  std::size_t length = 0;
  if ((*static_cast<std::uint32_t*>(info) & MODULE_DATA_FILE) != 0) {
    FileDataInfo file;
    std::memcpy(&file, info, sizeof file);
    recorder->files.push_back(file);
    length = file.length;
  } else {
    ImageDataInfo raw;
    std::memcpy(&raw, info, sizeof raw);
    recorder->raws.push_back(raw);
    length = std::size_t{raw.rectHeight} * raw.rowBytes;
  }
  recorder->bytes.append(static_cast<const char*>(data), length);
  return call == recorder->failDataAtCall ? MODULE_RESULT_CANNOT_SAVE : recorder->dataResult;
}

template <typename Procedure>
ModuleProc generic(Procedure procedure) {
  return reinterpret_cast<ModuleProc>(procedure);
}

}  // namespace

void setModuleEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());  // an empty value removes it
#else
  if (value.empty())
    unsetenv(name);
  else
    setenv(name, value.c_str(), 1);
#endif
}

void StandInModuleTest::SetUp() {
  for (const char* name : MODULE_VARIABLES) setModuleEnv(name, "");
  card_ = (dir_.path() / "card").string();
  std::filesystem::create_directories(card_);
  setModuleEnv("SKERROW_CAM_CARD", card_);
  activeRecorder = &recorder_;
  ASSERT_TRUE(library_.open(STAND_IN_MODULE)) << library_.errorText();
  entry_ = reinterpret_cast<ModuleEntryPoint>(library_.symbol(MODULE_ENTRY_SYMBOL));
  ASSERT_NE(nullptr, entry_) << library_.errorText();
}

void StandInModuleTest::TearDown() {
  if (moduleOpen_) closeModule();
  for (const char* name : MODULE_VARIABLES) setModuleEnv(name, "");
  activeRecorder = nullptr;
}

std::int32_t StandInModuleTest::openModule() {
  if (moduleOpen_) closeModule();
  module_ = ModuleObject{};
  module_.refClient = &moduleTag_;
  const std::int32_t result =
      entry_(nullptr, MODULE_CMD_OPEN, 0, MODULE_DATATYPE_OBJECT, &module_, nullptr, nullptr);
  moduleOpen_ = result == MODULE_RESULT_OK;
  if (moduleOpen_) {
    CallbackRecord event = {generic(eventProc), &moduleTag_};
    CallbackRecord ui = {generic(uiRequestProc), &recorder_};
    EXPECT_EQ(0, waited(&module_, MODULE_CMD_CAP_SET, MODULE_CAP_EVENT_PROC,
                        MODULE_DATATYPE_CALLBACK, &event));
    EXPECT_EQ(0, waited(&module_, MODULE_CMD_CAP_SET, MODULE_CAP_UI_REQUEST_PROC,
                        MODULE_DATATYPE_CALLBACK, &ui));
  }
  return result;
}

void StandInModuleTest::closeModule() {
  EXPECT_EQ(0, call(&module_, MODULE_CMD_CLOSE));
  moduleOpen_ = false;
}

std::int32_t StandInModuleTest::call(ModuleObject* object, std::uint32_t command,
                                     std::uint32_t parameter, std::uint32_t dataType, void* data) {
  return entry_(object, command, parameter, dataType, data, nullptr, nullptr);
}

std::int32_t StandInModuleTest::issue(ModuleObject* object, std::uint32_t command,
                                      std::uint32_t parameter, std::uint32_t dataType, void* data,
                                      ModuleCompletion* completion) {
  return entry_(object, command, parameter, dataType, data, completionProc, completion);
}

std::int32_t StandInModuleTest::waited(ModuleObject* object, std::uint32_t command,
                                       std::uint32_t parameter, std::uint32_t dataType, void* data,
                                       std::int32_t* completed) {
  Completion completion;
  const std::int32_t result =
      entry_(object, command, parameter, dataType, data, completionProc, &completion);
  completionsInsideCall_ = completion.count;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (completion.count == 0 && std::chrono::steady_clock::now() < deadline)
    entry_(object, MODULE_CMD_PROCESS, 0, 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(1, completion.count) << "command " << command;
  if (completed != nullptr) *completed = completion.result;
  return result;
}

std::int32_t StandInModuleTest::openChild(ModuleObject* parent, std::uint32_t id,
                                          ModuleObject* child, void* tag) {
  *child = ModuleObject{};
  child->refClient = tag;
  const std::int32_t result = call(parent, MODULE_CMD_OPEN, id, MODULE_DATATYPE_OBJECT, child);
  if (result != MODULE_RESULT_OK) return result;
  CallbackRecord event = {generic(eventProc), tag};
  CallbackRecord progress = {generic(progressProc), &recorder_};
  EXPECT_EQ(0, waited(child, MODULE_CMD_CAP_SET, MODULE_CAP_EVENT_PROC, MODULE_DATATYPE_CALLBACK,
                      &event));
  EXPECT_EQ(0, waited(child, MODULE_CMD_CAP_SET, MODULE_CAP_PROGRESS_PROC, MODULE_DATATYPE_CALLBACK,
                      &progress));
  if (child->objectType == MODULE_OBJECT_DATA) {
    CallbackRecord data = {generic(dataProc), &recorder_};
    EXPECT_EQ(0, waited(child, MODULE_CMD_CAP_SET, MODULE_CAP_DATA_PROC, MODULE_DATATYPE_CALLBACK,
                        &data));
  }
  return result;
}

std::vector<std::uint32_t> StandInModuleTest::children(ModuleObject* object) {
  CapEnum list = {};
  if (waited(object, MODULE_CMD_CAP_GET, MODULE_CAP_CHILDREN, MODULE_DATATYPE_ENUM, &list) != 0)
    return {};
  EXPECT_EQ(4u, list.elementSize);
  std::vector<std::uint32_t> ids(list.elementCount);
  if (ids.empty()) return ids;
  list.data = ids.data();
  EXPECT_EQ(0, waited(object, MODULE_CMD_CAP_GET_ARRAY, MODULE_CAP_CHILDREN, MODULE_DATATYPE_ENUM,
                      &list));
  ids.resize(list.elementCount);
  return ids;
}

void StandInModuleTest::openDownToData(std::uint32_t dataId) {
  ASSERT_EQ(std::vector<std::uint32_t>{1}, children(&module_));
  ASSERT_EQ(0, openChild(&module_, 1, &source_, &sourceTag_));
  const std::vector<std::uint32_t> items = children(&source_);
  ASSERT_FALSE(items.empty());
  ASSERT_EQ(0, openChild(&source_, items.front(), &item_, &itemTag_));
  ASSERT_EQ(0, openChild(&item_, dataId, &data_, &dataTag_));
}

std::int32_t StandInModuleTest::acquire() {
  std::int32_t completed = 0;
  EXPECT_EQ(0, waited(&data_, MODULE_CMD_CAP_START, MODULE_CAP_ACQUIRE, 0, nullptr, &completed));
  return completed;
}

void StandInModuleTest::writeShot(const std::string& name, const std::string& bytes,
                                  int ageSeconds) {
  // Written under a temporary name, then renamed into place, as a camera does.
  const std::filesystem::path path = std::filesystem::path(card_) / name;
  {
    std::ofstream out(path.string() + ".tmp", std::ios::binary);
    out << bytes;
  }
  std::filesystem::rename(path.string() + ".tmp", path);
  std::filesystem::last_write_time(
      path, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
}

bool StandInModuleTest::onCard(const std::string& name) const {
  return std::filesystem::exists(std::filesystem::path(card_) / name);
}

// Drives the stand-in camera module through ModuleEntryPoint as the program
// does, with procedures that record every call the module makes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "camera/module_api.h"
#include "camera/module_library.h"
#include "platform/module.h"
#include "support/temp_dir.h"

// Everything the module told the test.
struct Recorder {
  struct Event {
    void* reference;
    std::uint32_t code, data;
  };
  std::vector<Event> events;
  std::vector<FileDataInfo> files;
  std::vector<ImageDataInfo> raws;
  std::string bytes;
  std::int32_t dataResult = 0;  // returned by the data procedure
  int failDataAtCall = -1;      // ... or -117 at this call (0-based)
  int progressStarts = 0, progressSteps = 0;
  std::uint32_t uiAnswer = MODULE_ANSWER_OK;
  std::vector<std::uint32_t> uiTypes;
};

// The calls of a command's completion procedure.
struct ModuleCompletion {
  int count = 0;
  std::int32_t result = 0;
};

// Sets (or, with "", removes) an environment variable the module reads.
void setModuleEnv(const char* name, const std::string& value);

class StandInModuleTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Loads a fresh copy of the settings: closes the module object if open,
  // then opens it. Returns the open command's result.
  std::int32_t openModule();
  void closeModule();

  std::int32_t call(ModuleObject* object, std::uint32_t command, std::uint32_t parameter = 0,
                    std::uint32_t dataType = 0, void* data = nullptr);
  // A waited command: the call, then command 0 on the same object until the
  // completion came (generous deadline). *completed gets its result.
  std::int32_t waited(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                      std::uint32_t dataType, void* data, std::int32_t* completed = nullptr);
  // Issues a command with a completion procedure and returns at once; the
  // completion's count and result land in *completion.
  std::int32_t issue(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                     std::uint32_t dataType, void* data, ModuleCompletion* completion);
  // Counts completions of the last waited() call made before polling.
  int completionsInsideCall() const { return completionsInsideCall_; }

  // Opens a child into descriptor and registers the recording procedures
  // (event procedure with reference tag, progress, and data for data objects).
  std::int32_t openChild(ModuleObject* parent, std::uint32_t id, ModuleObject* child, void* tag);
  std::vector<std::uint32_t> children(ModuleObject* object);

  // Opens camera, the oldest item and its image data object.
  void openDownToData(std::uint32_t dataId = MODULE_DATA_IMAGE);
  // Starts the acquisition on data_ and waits for it; returns the completion result.
  std::int32_t acquire();

  void writeShot(const std::string& name, const std::string& bytes, int ageSeconds = 0);
  bool onCard(const std::string& name) const;

  testing_support::TempDir dir_;
  std::string card_;
  platform::LoadableModule library_;
  ModuleEntryPoint entry_ = nullptr;
  ModuleObject module_ = {}, source_ = {}, item_ = {}, data_ = {};
  bool moduleOpen_ = false;
  Recorder recorder_;
  int moduleTag_ = 0, sourceTag_ = 0, itemTag_ = 0, dataTag_ = 0;
  int completionsInsideCall_ = 0;
};

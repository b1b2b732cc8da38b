// Finding and loading the module file, and connectModule's failures, with
// module files copied into the working directory: none, one without
// ModuleEntryPoint, and one forwarding to a scripted module.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "camera/module_library.h"
#include "camera/camera_handler.h"
#include "camera/object_record.h"
#include "fake_module.h"
#include "handler_fixture.h"
#include "platform/paths.h"
#include "stand_in_client.h"

namespace {

class NoModuleFileTest : public HandlerFixture {
 protected:
  const char* moduleFile() const override { return nullptr; }
};

TEST_F(NoModuleFileTest, NothingIsLoaded) {
  std::string path = "untouched";
  EXPECT_FALSE(findModuleFile(&path));
  EXPECT_EQ("untouched", path);
  testing::internal::CaptureStderr();
  handler_ = std::make_unique<CameraHandler>();
  EXPECT_FALSE(handler_->connectCamera());
  EXPECT_EQ(
      "CameraHandler::connectModule() ERROR: \"Type0001 Module\" is not found.\n"
      "CameraHandler::CameraHandler() ERROR: Cannot connect to module.\n"
      "CameraHandler::connectModule() ERROR: \"Type0001 Module\" is not found.\n",
      testing::internal::GetCapturedStderr());
  EXPECT_EQ(nullptr, moduleEntryPoint);
  EXPECT_FALSE(handler_->isCameraConnected());
}

class NoEntryPointTest : public HandlerFixture {
 protected:
  const char* moduleFile() const override { return NO_ENTRY_MODULE; }
};

TEST_F(NoEntryPointTest, LoadFailsWithItsLine) {
  std::string path;
  ASSERT_TRUE(findModuleFile(&path));
  EXPECT_EQ(platform::currentDirectory() + platform::pathSeparator() + "Type0001.md3", path);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(loadModule(path.c_str()));
  EXPECT_EQ("ModuleEntryPoint cannot be found.\n\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(nullptr, moduleEntryPoint);

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  handler_ = std::make_unique<CameraHandler>();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(
      "CameraHandler::connectModule() ERROR: Failed in loading \"Type0001 Module\".\n"
      "CameraHandler::CameraHandler() ERROR: Cannot connect to module.\n",
      testing::internal::GetCapturedStderr());
  EXPECT_EQ(nullptr, handler_->moduleRecord);
  unloadModule();

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(loadModule("no-such-folder/Type0001.md3"));
  EXPECT_EQ("\"no-such-folder/Type0001.md3\" cannot be opened.\n",
            testing::internal::GetCapturedStdout());
  EXPECT_NE("", testing::internal::GetCapturedStderr());  // the loader's own text
}

class ScriptedModuleTest : public HandlerFixture {
 protected:
  const char* moduleFile() const override { return FORWARDING_MODULE; }
  void SetUp() override {
    HandlerFixture::SetUp();
    char address[32];
    std::snprintf(address, sizeof address, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&fake::entry)));
    setModuleEnv("SKERROW_TEST_FORWARD_TO", address);
  }
  // Every close command the module received.
  int closes() const { return m_.count(MODULE_CMD_CLOSE); }

  fake::ScopedModule fake_;
  fake::Module& m_ = fake_.module;
};

TEST_F(ScriptedModuleTest, FailedConnectClosesTheModuleObjectAgain) {
  struct Case {
    const char* name;
    std::uint32_t command, parameter;
    const char* line;
  };
  const Case cases[] = {
      {"capability list", MODULE_CMD_CAP_LIST, 5,
       "CameraHandler::connectModule() ERROR: Failed in enumeration of capabilities."},
      {"procedure", MODULE_CMD_CAP_SET, MODULE_CAP_EVENT_PROC,
       "CameraHandler::connectModule() ERROR: Failed in setting a call back function."},
      {"module mode", MODULE_CMD_CAP_SET, kCapabilityModuleMode,
       "CameraHandler::connectModule() ERROR: Failed in setting kCapabilityModuleMode."},
  };
  handler_ = std::make_unique<CameraHandler>();
  ASSERT_TRUE(handler_->closeModule());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_.calls.clear();
    m_.script = [&c](const fake::Call& call, void*, std::int32_t* result) {
      if (call.command != c.command || call.parameter != c.parameter ||
          (c.command == MODULE_CMD_CAP_SET && call.dataType == MODULE_DATATYPE_NULL))
        return false;
      *result = MODULE_RESULT_INVALID;
      return true;
    };
    testing::internal::CaptureStderr();
    EXPECT_FALSE(handler_->connectModule());
    EXPECT_EQ(c.line, testing::internal::GetCapturedStderr());
    EXPECT_FALSE(handler_->moduleLoaded);
    EXPECT_EQ(nullptr, handler_->moduleRecord);
    EXPECT_EQ(1, closes());
    // Nothing is left behind that a later connect would trip over.
    m_.script = nullptr;
    ASSERT_TRUE(handler_->connectModule());
    ASSERT_TRUE(handler_->closeModule());
  }
}

TEST_F(ScriptedModuleTest, ModuleModeIsSetOnlyWhenSettable) {
  for (bool settable : {true, false}) {
    SCOPED_TRACE(settable);
    auto& list = m_.capabilities[MODULE_OBJECT_MODULE];
    list.back().operations = settable ? MODULE_OP_GET | MODULE_OP_SET : MODULE_OP_GET;
    m_.calls.clear();
    handler_ = std::make_unique<CameraHandler>();
    EXPECT_TRUE(handler_->moduleLoaded);
    int modeSets = 0;
    for (const fake::Call& call : m_.calls)
      if (call.command == MODULE_CMD_CAP_SET && call.parameter == kCapabilityModuleMode) ++modeSets;
    EXPECT_EQ(settable ? 1 : 0, modeSets);
    handler_.reset();
  }
}

}  // namespace

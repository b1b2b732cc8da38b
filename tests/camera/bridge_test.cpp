// The module object bridge and the event procedures against a scripted
// module in the test process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "camera/module_callbacks.h"
#include "camera/module_commands.h"
#include "camera/module_library.h"
#include "camera/object_record.h"
#include "camera/object_select.h"
#include "camera/object_tree.h"
#include "fake_module.h"
#include "platform/clock.h"

namespace {

std::vector<std::uint32_t> idsOf(const ObjectRecord& record) {
  std::vector<std::uint32_t> ids;
  for (const auto& child : record.children) ids.push_back(child->id);
  return ids;
}

// A module record opened on the scripted module, with its capabilities.
class BridgeTest : public testing::Test {
 protected:
  void SetUp() override {
    moduleEntryPoint = fake::entry;
    initModuleRecord(&module_);
    module_.descriptor = std::make_unique<ModuleObject>();
    module_.descriptor->refClient = &module_;
    ASSERT_EQ(0, fake::entry(nullptr, MODULE_CMD_OPEN, 0, MODULE_DATATYPE_OBJECT,
                             module_.descriptor.get(), nullptr, nullptr));
    ASSERT_TRUE(enumCapabilities(module_.descriptor.get(), &module_.capabilities));
    fake_.module.calls.clear();
  }
  void TearDown() override {
    module_.children.clear();
    releaseClosedRecords();
    moduleEntryPoint = nullptr;
    completionIdleLimitMs = DEFAULT_COMPLETION_IDLE_LIMIT_MS;
    completionClock = platform::tickMs;
  }

  // Opens the chain module -> source 1 -> item 5 -> data objects.
  ObjectRecord* openItem(std::uint32_t itemId = 5) {
    EXPECT_TRUE(openChild(&module_, 1));
    ObjectRecord* source = findChild(&module_, 1);
    EXPECT_TRUE(openChild(source, itemId));
    return findChild(source, itemId);
  }

  fake::ScopedModule fake_;
  fake::Module& m_ = fake_.module;
  ObjectRecord module_;
};

// A clock that moves one second on at every reading: three readings pass
// the test's idle limit.
std::uint32_t steppingNow = 0;
std::uint32_t steppingClock() { return steppingNow += 1000; }

TEST_F(BridgeTest, WaitGivesUpWithoutACompletionAndTheLateOneWritesIntoLiveMemory) {
  struct Case {
    const char* name;
    std::int32_t processResult;
    const char* line;
  };
  const Case cases[] = {
      {"never completed", 0,
       "waitForCompletion(): ERROR No completion and no data for 3 s; command given up.\n"},
      {"polling fails", MODULE_RESULT_INVALID,
       "waitForCompletion(): ERROR The module stopped processing; command given up.\n"},
  };
  completionIdleLimitMs = 3000;
  completionClock = steppingClock;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Only the list command hangs: the count before it completes.
    m_.script = [](const fake::Call& call, void*, std::int32_t*) {
      if (call.command == MODULE_CMD_CAP_LIST) fake::active->completing = fake::Completing::NEVER;
      return false;
    };
    m_.completing = fake::Completing::INSIDE_CALL;
    m_.processResult = c.processResult;
    m_.calls.clear();
    std::vector<CapabilityInfo> list(2);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(enumCapabilities(module_.descriptor.get(), &list));
    EXPECT_EQ(c.line, testing::internal::GetCapturedStdout());
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(1u, abandonedCommandCount());
    // The module writes its list late, then completes: into the command's
    // own block, still alive (the address sanitizer would see a freed one).
    ASSERT_EQ(1u, m_.held.size());
    const fake::Completion late = m_.held[0];
    m_.held.clear();
    std::memset(late.data, 0x5A, 5 * sizeof(CapabilityInfo));
    late.procedure(late.object, late.command, late.parameter, late.dataType, late.data,
                   late.reference, 0);
    EXPECT_EQ(0u, abandonedCommandCount());
    // A second completion of the same command is ignored.
    late.procedure(late.object, late.command, late.parameter, late.dataType, late.data,
                   late.reference, 0);
  }
}

TEST_F(BridgeTest, DeliveringKeepsAWaitAliveAndAClosedObjectFreesWhatItWasGiven) {
  completionIdleLimitMs = 3000;
  completionClock = steppingClock;
  ObjectRecord* item = openItem();
  ASSERT_TRUE(openChild(item, MODULE_DATA_IMAGE));
  ObjectRecord* data = findChild(item, MODULE_DATA_IMAGE);
  // Ten polls of data, far past the idle limit, then the completion.
  m_.completing = fake::Completing::NEVER;
  int polls = 0;
  m_.onProcess = [&] {
    if (++polls < 10) {
      noteModuleProgress();
    } else if (!m_.held.empty()) {
      m_.pending.swap(m_.held);
    }
  };
  std::uint32_t mask = 0;
  EXPECT_TRUE(
      capGet(data->descriptor.get(), MODULE_CAP_DATA_TYPES, MODULE_DATATYPE_UNSIGNED_PTR, &mask));
  EXPECT_EQ(9u, mask);
  EXPECT_EQ(10, polls);

  // Without data the same command is given up; closing the object frees
  // what the module was given, and a completion after that is ignored.
  m_.onProcess = nullptr;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(
      capGet(data->descriptor.get(), MODULE_CAP_DATA_TYPES, MODULE_DATATYPE_UNSIGNED_PTR, &mask));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(1u, abandonedCommandCount());
  m_.completing = fake::Completing::INSIDE_CALL;
  ASSERT_TRUE(closeChild(item, MODULE_DATA_IMAGE));
  EXPECT_EQ(0u, abandonedCommandCount());
  for (const fake::Completion& late : m_.held)
    late.procedure(late.object, late.command, late.parameter, late.dataType, late.data,
                   late.reference, 0);
  m_.held.clear();
}

TEST_F(BridgeTest, CapabilityListStartsOverWhenAsked) {
  int listCalls = 0;
  m_.script = [&](const fake::Call& call, void*, std::int32_t* result) {
    if (call.command != MODULE_CMD_CAP_LIST || ++listCalls > 2) return false;
    *result = MODULE_RESULT_RESTART;
    return true;
  };
  std::vector<CapabilityInfo> list;
  ASSERT_TRUE(enumCapabilities(module_.descriptor.get(), &list));
  EXPECT_EQ(5u, list.size());
  EXPECT_EQ(3, m_.count(MODULE_CMD_CAP_COUNT));  // the count is read again each time
  EXPECT_EQ(3, m_.count(MODULE_CMD_CAP_LIST));

  // The count answering 1: success without a list; a failed count: failure.
  for (std::int32_t answer : {MODULE_RESULT_ALSO_OK, MODULE_RESULT_INVALID}) {
    m_.script = [answer](const fake::Call& call, void*, std::int32_t* result) {
      if (call.command != MODULE_CMD_CAP_COUNT) return false;
      *result = answer;
      return true;
    };
    list.assign(3, CapabilityInfo{});
    EXPECT_EQ(answer == MODULE_RESULT_ALSO_OK, enumCapabilities(module_.descriptor.get(), &list));
    EXPECT_TRUE(list.empty());
  }
}

TEST_F(BridgeTest, RefusedOpenLeavesTheParentAsItWas) {
  ASSERT_TRUE(openChild(&module_, 1));
  ASSERT_TRUE(openChild(&module_, 2));
  m_.script = [](const fake::Call& call, void*, std::int32_t* result) {
    if (call.command != MODULE_CMD_OPEN) return false;
    *result = MODULE_RESULT_REFUSED;
    return true;
  };
  testing::internal::CaptureStdout();
  EXPECT_FALSE(openChild(&module_, 3));
  EXPECT_EQ("Failed in Opening an object.\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ((std::vector<std::uint32_t>{1, 2}), idsOf(module_));

  // An add-child event for a refused camera: the same line, and no children
  // are asked for.
  m_.calls.clear();
  testing::internal::CaptureStdout();
  ModEventProc(&module_, MODULE_EVENT_ADD_CHILD, 3);
  EXPECT_EQ("Failed in Opening an object.\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(0, m_.count(MODULE_CMD_ENUM_CHILDREN));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 2}), idsOf(module_));
}

TEST_F(BridgeTest, AddChildForAnOpenIdOpensNothingMore) {
  ModEventProc(&module_, MODULE_EVENT_ADD_CHILD, 1);
  ASSERT_EQ(1u, module_.children.size());
  EXPECT_EQ(1, m_.count(MODULE_CMD_ENUM_CHILDREN));  // the new camera is asked for its items
  ModEventProc(&module_, MODULE_EVENT_ADD_CHILD, 1);
  EXPECT_EQ(1u, module_.children.size());
  EXPECT_EQ(1, m_.count(MODULE_CMD_OPEN));
}

TEST_F(BridgeTest, ClosingStopsAtTheFirstRefusal) {
  ObjectRecord* item = openItem();
  ASSERT_TRUE(openChild(item, MODULE_DATA_IMAGE));
  ASSERT_TRUE(openChild(item, MODULE_DATA_THUMBNAIL));
  ObjectRecord* thumbnail = findChild(item, MODULE_DATA_THUMBNAIL);
  m_.script = [thumbnail](const fake::Call& call, void*, std::int32_t* result) {
    if (call.command != MODULE_CMD_CLOSE || call.object != thumbnail->descriptor.get())
      return false;
    *result = MODULE_RESULT_INVALID;
    return true;
  };
  EXPECT_FALSE(closeModuleTree(&module_));
  // The image object was closed and is gone; the rest stays open and listed.
  EXPECT_EQ((std::vector<std::uint32_t>{MODULE_DATA_THUMBNAIL}), idsOf(*item));
  EXPECT_EQ(1u, module_.children.size());
  EXPECT_NE(nullptr, module_.descriptor);

  m_.script = nullptr;
  EXPECT_TRUE(closeModuleTree(&module_));
  EXPECT_TRUE(module_.children.empty());
  EXPECT_EQ(nullptr, module_.descriptor);
  EXPECT_TRUE(module_.capabilities.empty());
  EXPECT_EQ(MODULE_RECORD_ID, module_.id);
  EXPECT_TRUE(closeModuleTree(&module_));  // nothing open: nothing to do
}

TEST_F(BridgeTest, SelectingChildren) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> children;
    std::uint32_t arrayLeaves;
    std::uint16_t elementSize;
    bool sourceResult;
    std::uint32_t sourceId;  // 0: untouched
    bool itemResult;
    std::uint32_t itemId;
    const char* itemLine;
  };
  const Case cases[] = {
      {"none", {}, 99, 4, false, 0, true, 0, ""},
      {"one", {7}, 99, 4, true, 7, true, 7, ""},
      {"several: the first listed", {4, 2, 9}, 99, 4, true, 4, true, 4, ""},
      {"gone before the array read",
       {4},
       0,
       4,
       true,
       0,
       true,
       0,
       "There is no Item object.\n0. Exit\n>"},
      {"not 32-bit elements", {4}, 99, 2, false, 0, false, 0, ""},
  };
  ASSERT_TRUE(openChild(&module_, 1));
  ObjectRecord* source = findChild(&module_, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_.children = c.children;
    m_.arrayLeaves = c.arrayLeaves;
    m_.elementSize = c.elementSize;
    std::uint32_t id = 0;
    EXPECT_EQ(c.sourceResult, selectSource(&module_, &id));
    EXPECT_EQ(c.sourceId, id);
    id = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.itemResult, selectItem(source, &id));
    EXPECT_EQ(c.itemLine, testing::internal::GetCapturedStdout());
    EXPECT_EQ(c.itemId, id);
  }
  // A module claiming more elements than there was room for is not believed.
  m_.children = {3, 4};
  m_.arrayLeaves = 99;
  m_.elementSize = 4;
  m_.reportedAfterArray = 1000;
  std::uint32_t id = 0;
  EXPECT_TRUE(selectItem(source, &id));
  EXPECT_EQ(3u, id);
  // Without a gettable children enumeration there is nothing to select.
  source->capabilities.clear();
  EXPECT_FALSE(selectItem(source, &id));
}

TEST_F(BridgeTest, SelectingTheDataType) {
  struct Case {
    std::uint32_t mask;
    bool result;
    std::uint32_t type;
    const char* line;
  };
  const Case cases[] = {
      {9, true, MODULE_DATA_IMAGE, ""},
      {1, true, MODULE_DATA_IMAGE, ""},
      {8, true, MODULE_DATA_THUMBNAIL, ""},
      {2, false, 0, "There is no Data object.\n"},
  };
  ObjectRecord* item = openItem();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    m_.dataTypes = c.mask;
    std::uint32_t type = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.result, selectDataType(item, &type));
    EXPECT_EQ(c.line, testing::internal::GetCapturedStdout());
    EXPECT_EQ(c.type, type);
  }
}

TEST_F(BridgeTest, RefusedAcquisitionStillRemovesTheDataProcedure) {
  ObjectRecord* item = openItem();
  ASSERT_TRUE(openChild(item, MODULE_DATA_IMAGE));
  ObjectRecord* data = findChild(item, MODULE_DATA_IMAGE);
  for (fake::Completing completing :
       {fake::Completing::INSIDE_CALL, fake::Completing::ON_PROCESSING}) {
    m_.completing = completing;
    m_.calls.clear();
    m_.script = [](const fake::Call& call, void*, std::int32_t* result) {
      if (call.command != MODULE_CMD_CAP_START) return false;
      *result = MODULE_RESULT_DEVICE_GONE;
      return true;
    };
    // The context made for the acquisition is freed by its completion (the
    // leak checker would see it otherwise).
    EXPECT_FALSE(acquireData(data));
    std::vector<std::uint32_t> dataTypes;
    for (const fake::Call& call : m_.calls)
      if (call.command == MODULE_CMD_CAP_SET && call.parameter == MODULE_CAP_DATA_PROC)
        dataTypes.push_back(call.dataType);
    EXPECT_EQ((std::vector<std::uint32_t>{MODULE_DATATYPE_CALLBACK, MODULE_DATATYPE_NULL}),
              dataTypes);
  }
  // Without a settable data procedure nothing is started.
  data->capabilities.clear();
  m_.calls.clear();
  EXPECT_FALSE(acquireData(data));
  EXPECT_TRUE(m_.calls.empty());
}

// What each event procedure prints, and which module calls it makes.
TEST_F(BridgeTest, EventTable) {
  ObjectRecord* item = openItem();
  ASSERT_TRUE(openChild(item, MODULE_DATA_IMAGE));
  ObjectRecord* source = findChild(&module_, 1);
  ObjectRecord* data = findChild(item, MODULE_DATA_IMAGE);
  using Proc = void (*)(void*, std::uint32_t, std::uint32_t);
  struct Case {
    Proc proc;
    ObjectRecord* record;
    std::uint32_t event;
    const char* out;
    int capabilityReads;  // command 3 calls
  };
  const Case cases[] = {
      {ModEventProc, &module_, 2, "Event_WarmingUp to Module object is not supported.\n\n", 0},
      {SrcEventProc, source, 3, "Event_WarmedUp to Source object is not supported.\n\n", 0},
      {ItmEventProc, item, 2, "Event_WarmingUp to Item object is not supported.\n\n", 0},
      {DatEventProc, data, 3, "Event_WarmedUp to Data object is not supported.\n\n", 0},
      {DatEventProc, data, 0, "Event_AddChild to Data object is not supported.\n\n", 0},
      {DatEventProc, data, 1, "Event_RemoveChild to Data object is not supported.\n\n", 0},
      {ModEventProc, &module_, 4, "", 1},
      {SrcEventProc, source, 4, "", 1},
      {ItmEventProc, item, 4, "", 1},
      {DatEventProc, data, 4, "DatEventProc(): The value of Capability(CapID=0x1F) was changed.\n",
       1},
      {ModEventProc, &module_, 5, "", 0},
      {DatEventProc, data, 5, "Event_OrphanedChildren to Data object is not supported.\n\n", 0},
      {ModEventProc, &module_, 6,
       "ModEventProc(): The value of Capability(CapID=0x1F) was changed.\n", 0},
      {SrcEventProc, source, 6, "", 0},
      {ItmEventProc, item, 6, "ItmEventProc(): The value of Capability(CapID=0x1F) was changed.\n",
       0},
      {DatEventProc, data, 6, "DatEventProc(): The value of Capability(CapID=0x1F) was changed.\n",
       0},
      {ModEventProc, &module_, 263, "Detected unknown Event to the Module object.\n\n", 0},
      {SrcEventProc, source, 263, "", 0},
      {SrcEventProc, source, 264, "", 0},
      {SrcEventProc, source, 99, "Detected unknown Event to the Source object.\n\n", 0},
      {ItmEventProc, item, 264, "Detected unknown Event to the Item object.\n\n", 0},
      {DatEventProc, data, 263, "Detected unknown Event to the Data object.\n\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "record " << c.record->id << " event " << c.event);
    m_.calls.clear();
    c.record->capabilities.clear();
    c.record->capabilities = m_.capabilities[c.record->descriptor->objectType];
    testing::internal::CaptureStdout();
    c.proc(c.record, c.event, 0x1F);
    EXPECT_EQ(c.out, testing::internal::GetCapturedStdout());
    EXPECT_EQ(c.capabilityReads, m_.count(MODULE_CMD_CAP_COUNT));
  }
  // A re-read list replaces the old one; a failed one leaves none, silently.
  data->capabilities.clear();
  m_.capabilities[MODULE_OBJECT_DATA].pop_back();
  DatEventProc(data, MODULE_EVENT_CAP_LIST_CHANGED, 0x1F);
  EXPECT_EQ(3u, data->capabilities.size());
  m_.script = [](const fake::Call& call, void*, std::int32_t* result) {
    if (call.command != MODULE_CMD_CAP_COUNT) return false;
    *result = MODULE_RESULT_INVALID;
    return true;
  };
  testing::internal::CaptureStdout();
  DatEventProc(data, MODULE_EVENT_CAP_LIST_CHANGED, 0x1F);
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  EXPECT_TRUE(data->capabilities.empty());
}

// An event closing the object that a routine is waiting on: the routine
// finds the record marked closed, not freed memory.
TEST_F(BridgeTest, ObjectClosedByAnEventDuringItsOwnWait) {
  ObjectRecord* item = openItem();
  ObjectRecord* source = findChild(&module_, 1);
  ASSERT_TRUE(openChild(item, MODULE_DATA_IMAGE));
  ObjectRecord* data = findChild(item, MODULE_DATA_IMAGE);
  m_.completing = fake::Completing::ON_PROCESSING;
  bool fired = false;
  m_.script = [&](const fake::Call& call, void*, std::int32_t*) {
    if (call.command == MODULE_CMD_CAP_START && !fired) {
      fired = true;
      // Announced from within the acquisition, as a module does when the
      // shot vanishes.
      SrcEventProc(source, MODULE_EVENT_REMOVE_CHILD, 5);
    }
    return false;
  };
  const ModuleObject* closedData = data->descriptor.get();
  acquireData(data);
  EXPECT_TRUE(data->closed);
  EXPECT_TRUE(item->closed);
  EXPECT_TRUE(source->children.empty());
  EXPECT_FALSE(closeChild(item, MODULE_DATA_IMAGE));
  // Once closed, the object got no command: no polling, no removal of the
  // data procedure.
  std::vector<std::uint32_t> commands;
  for (const fake::Call& call : m_.calls)
    if (call.object == closedData) commands.push_back(call.command);
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(MODULE_CMD_CLOSE, commands.back());
  EXPECT_EQ(1, std::count(commands.begin(), commands.end(), MODULE_CMD_CLOSE));
}

}  // namespace

// A scripted camera module in the test process: ModuleEntryPoint's calling
// forms, a capability list per object type, a children list, and
// completions made inside the call, on the next processing call, or never.
// Tests point moduleEntryPoint at fake::entry, or load the forwarding
// module, whose entry point forwards to fake::entry.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "camera/module_api.h"

namespace fake {

struct Call {
  ModuleObject* object;
  std::uint32_t command, parameter, dataType;
};

struct Completion {
  ModuleObject* object;
  std::uint32_t command, parameter, dataType;
  void* data;
  CompletionProcType procedure;
  void* reference;
  std::int32_t result;
};

enum class Completing { INSIDE_CALL, ON_PROCESSING, NEVER };

struct Module {
  Completing completing = Completing::INSIDE_CALL;
  std::vector<Call> calls;
  std::vector<Completion> pending;  // ON_PROCESSING: made by the next command 0
  std::vector<Completion> held;     // NEVER: kept for the test
  std::map<std::uint32_t, std::vector<CapabilityInfo>> capabilities;  // by object type
  std::vector<std::uint32_t> children;                                // capability 7
  std::uint32_t arrayLeaves = 0xFFFFFFFF;  // at most this many after command 9
  std::uint32_t reportedAfterArray = 0;    // non-zero: command 9 claims this count
  std::uint16_t elementSize = 4;
  std::uint32_t dataTypes = 9;                    // capability 12
  std::int32_t processResult = MODULE_RESULT_OK;  // of command 0
  // Runs at the start of every processing call (command 0).
  std::function<void()> onProcess;
  // Answers a call before the standard behaviour when it returns true.
  std::function<bool(const Call& call, void* data, std::int32_t* result)> script;

  int count(std::uint32_t command) const;
};

// The module every call goes to; set by ScopedModule.
extern Module* active;

struct ScopedModule {
  Module module;
  ScopedModule();
  ~ScopedModule();
};

std::int32_t entry(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                   std::uint32_t dataType, void* data, CompletionProcType completion,
                   void* completionRef);

CapabilityInfo capability(std::uint32_t id, std::uint32_t type, std::uint32_t operations);
// Lists like the stand-in's: 2 and 3 settable everywhere, 5, 7 and 0x8101 on
// the module, 7 on the source, 7 and 12 on an item, 4 and 20 on a data object.
std::map<std::uint32_t, std::vector<CapabilityInfo>> standardCapabilities();

}  // namespace fake

// Module commands that complete through CompletionProc, waited for by
// polling, and the capability reads and writes built on them.
// Camera worker thread only: every event, progress, UI request and data
// procedure runs inside the polling calls, on this thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "camera/data_proc.h"
#include "camera/module_api.h"

// The completion reference of one waited command. It owns what the module
// was given for the command: a copy of the caller's data block (and of the
// element array a CapEnum points at) and the acquisition's DataProcContext.
// The waiting routine frees it once the completion came; a command given up
// leaves it to the late completion, or to the close of its module object,
// so that the module never writes into freed memory.
struct CompletionContext {
  const ModuleObject* descriptor = nullptr;  // the object the command went to
  bool completed = false;
  bool abandoned = false;  // the waiting routine gave up
  DataProcContext* extra = nullptr;
  std::vector<unsigned char> block;     // handed to the module in place of the caller's data
  std::vector<unsigned char> elements;  // a CapEnum's element array
  ~CompletionContext() { releaseDataProcContext(extra); }
};

// Completion procedure of every waited command: marks the command completed
// for its waiting routine, or frees a given-up command's context. A
// reference that is no live context (a second completion, or one after the
// object was closed) is ignored.
void CompletionProc(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                    std::uint32_t dataType, void* data, void* reference, std::int32_t result);

// A waited command is given up once this long passed with neither its
// completion nor any progress (a chunk of data delivered, a UI request
// answered). Tests lower it and give their own clock (platform::tickMs by
// default).
constexpr std::uint32_t DEFAULT_COMPLETION_IDLE_LIMIT_MS = 120000;
extern std::uint32_t completionIdleLimitMs;
extern std::uint32_t (*completionClock)();

// Counts progress of the module's work: called by DataProc for each chunk
// and by UIRequestProc once answered.
void noteModuleProgress();

// Returns at once, without a polling call or a sleep, when the command has
// already completed. Otherwise calls the module's processing command on
// descriptor and sleeps 10 ms until it has. Returns false, with a line on
// standard output, when the polling failed (a result other than 0 or 1) or
// the idle limit passed without progress.
bool waitForCompletion(ModuleObject* descriptor, const CompletionContext& context);

// Issues command with CompletionProc and waits for its completion. The
// module gets a copy of data (by data type: a 32-bit value, a
// CallbackRecord, a CapEnum with its element array, parameter x
// CapabilityInfo; any other data is passed as it is), copied back once the
// completion came. Owns extra from the call on. Returns the result of the
// issuing call; *completed tells whether the completion came. A descriptor
// whose record is closed gets no command: MODULE_RESULT_INVALID.
std::int32_t issueWaitedCommand(ModuleObject* descriptor, std::uint32_t command,
                                std::uint32_t parameter, std::uint32_t dataType, void* data,
                                DataProcContext* extra, bool* completed);

// Frees the contexts of given-up commands sent to descriptor (every one when
// nullptr), once that module object is closed and can complete nothing more.
void releaseAbandonedCommands(const ModuleObject* descriptor);
// How many given-up commands still wait for their completion.
std::size_t abandonedCommandCount();

// Reads the object's capability list: the count (command 3), then the list
// (command 4), starting over for as long as either answers -124. *list is
// replaced only once the reading ends: on success, the list (empty when the
// count command answered 1); on a failed list command, the list as the
// module left it; when the list cannot be allocated or the count fails,
// empty, and the routine fails.
bool enumCapabilities(ModuleObject* descriptor, std::vector<CapabilityInfo>* list);

// Command 13: the module announces every child through add-child events.
bool enumChildren(ModuleObject* descriptor);
// Command 7 / command 6 on capability with the given data type and data.
bool capGet(ModuleObject* descriptor, std::uint32_t capability, std::uint32_t dataType, void* data);
bool capSet(ModuleObject* descriptor, std::uint32_t capability, std::uint32_t dataType, void* data);
// Command 9 on the children capability into list (its data points to
// elementCount x elementSize bytes).
bool capGetChildrenArray(ModuleObject* descriptor, CapEnum* list);
// Each of the four succeeds only when the issuing call answered 0 and the
// completion came.

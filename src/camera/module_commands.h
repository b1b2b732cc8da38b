// Module commands that complete through CompletionProc, waited for by
// polling, and the capability reads and writes built on them.
// Camera worker thread only: every event, progress, UI request and data
// procedure runs inside the polling calls, on this thread.
#pragma once

#include <cstdint>
#include <vector>

#include "camera/data_proc.h"
#include "camera/module_api.h"

// The completion reference of one waited command, made with new for the
// command and freed by CompletionProc.
struct CompletionContext {
  // The waiting routine's done-counter (0 before the command); nullptr once
  // that routine gave up waiting, so that a late completion writes nowhere.
  std::uint32_t* doneCounter;
  // Freed with the context; set only for an acquisition (its data
  // procedure's reference).
  DataProcContext* extra;
};

// Completion procedure of every waited command: counts the completion in the
// waiting routine's done-counter, then frees the context and its extra block.
void CompletionProc(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                    std::uint32_t dataType, void* data, void* reference, std::int32_t result);

// How many polling calls waitForCompletion makes without seeing the
// completion before it gives up. Each is followed by a 10 ms sleep, so the
// default allows at least two minutes. Tests lower it.
extern std::uint32_t completionPollLimit;
constexpr std::uint32_t DEFAULT_COMPLETION_POLL_LIMIT = 12000;

// Returns at once, without a polling call or a sleep, when *doneCounter is
// already non-zero. Otherwise calls the module's processing command on
// descriptor and sleeps 10 ms until it is. Returns false, with a line on
// standard output, when the polling failed (a result other than 0 or 1) or
// completionPollLimit calls passed without the completion.
bool waitForCompletion(ModuleObject* descriptor, const std::uint32_t* doneCounter);

// Issues command with CompletionProc and waits for its completion. Owns
// extra from the call on (it is freed with the completion, or at once when
// the command cannot be issued). Returns the result of the issuing call;
// *completed tells whether the completion came.
std::int32_t issueWaitedCommand(ModuleObject* descriptor, std::uint32_t command,
                                std::uint32_t parameter, std::uint32_t dataType, void* data,
                                DataProcContext* extra, bool* completed);

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

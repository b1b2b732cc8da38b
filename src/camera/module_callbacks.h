// The procedures the program registers with module objects: an event
// procedure per object level, the progress procedure and, on the module
// object, the UI request procedure. Each is registered with its object's
// ObjectRecord as reference. They print straight to standard output.
//
// Camera worker thread only: the module calls them inside ModuleEntryPoint,
// mostly inside the polling calls of waitForCompletion; they change the
// record tree without a lock.
#pragma once

#include <cstdint>
#include <cstdio>

#include "camera/module_api.h"

// Event procedures (EventProcType) of module, source, item and data
// objects. data is a child ID for add-child and remove-child, a capability
// ID for the two capability events. An add-child for an ID that already has
// an open record is ignored.
void ModEventProc(void* reference, std::uint32_t event, std::uint32_t data);
void SrcEventProc(void* reference, std::uint32_t event, std::uint32_t data);
void ItmEventProc(void* reference, std::uint32_t event, std::uint32_t data);
void DatEventProc(void* reference, std::uint32_t event, std::uint32_t data);

// Progress procedure (ProgressProcType). With total 0: done 1 prints "c" at
// most once per 500 ms of progressClock (at once when the clock reads below
// the last mark), done 0 prints "o".
void ProgressProc(std::uint32_t command, std::uint32_t parameter, void* reference,
                  std::uint32_t done, std::uint32_t total);
// The millisecond clock of the progress marks (platform::tickMs); tests
// inject their own.
extern std::uint32_t (*progressClock)();
// The clock reading of the last "c"; 0 at start.
extern std::uint32_t lastProgressMark;

// UI request procedure (UIRequestProcType): prints the prompt and detail,
// asks the question of the request type and reads answers, one word each,
// from uiRequestInput until one is accepted. At the end of the input it
// stops asking, takes the answer that commits to least (Cancel where
// offered, else No, else OK) and says so in one line. Returns 0 for an
// unknown type without reading.
std::uint32_t UIRequestProc(void* reference, UIRequestInfo* request);
// Where the answers are read: standard input when nullptr.
extern std::FILE* uiRequestInput;

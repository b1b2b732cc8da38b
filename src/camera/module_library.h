// Finding, loading and unloading the camera module file, and calling its
// one entry point. Camera worker thread only.
#pragma once

#include <cstdint>
#include <string>

#include "camera/module_api.h"

// The module file looked for in the working directory.
constexpr const char* MODULE_FILE_NAME = "Type0001.md3";

// The symbol under which the vendor's module exports its entry point.
#define MODULE_ENTRY_SYMBOL "MAIDEntryPoint"

// The address of ModuleEntryPoint in the loaded module; nullptr until
// loadModule succeeds and again after unloadModule. Tests may point it at a
// scripted module of their own.
extern ModuleEntryPoint moduleEntryPoint;

// Builds "<working directory><separator>Type0001.md3" into *path and
// reports whether something of that name exists. *path is untouched on
// failure.
bool findModuleFile(std::string* path);

// Loads the library at path and finds ModuleEntryPoint. On a failed load:
// "\"%s\" cannot be opened.\n" on standard output (and the loader's own text
// on standard error), moduleEntryPoint nullptr. Without the entry point:
// "ModuleEntryPoint cannot be found.\n" plus a line end on standard output;
// the library stays loaded. A library loaded before is unloaded first.
bool loadModule(const char* path);

// Unloads the library; moduleEntryPoint becomes nullptr.
void unloadModule();

// Calls ModuleEntryPoint. Without a loaded entry point: MODULE_RESULT_INVALID,
// and nothing is called.
std::int32_t callModule(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                        std::uint32_t dataType, void* data, CompletionProcType completion,
                        void* completionRef);

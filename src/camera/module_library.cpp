#include "camera/module_library.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/module.h"
#include "platform/paths.h"

ModuleEntryPoint moduleEntryPoint = nullptr;

namespace {

platform::LoadableModule moduleLibrary;

}  // namespace

bool findModuleFile(std::string* path) {
  // The path has no fixed length limit: a deep working directory must not
  // cut the name (the cut name could even be another file).
  std::string candidate = platform::currentDirectory();
  if (candidate.empty()) return false;
  // A root ("C:\", "/") already ends with the separator.
  if (candidate.back() != platform::pathSeparator()) candidate += platform::pathSeparator();
  candidate += MODULE_FILE_NAME;
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::path(candidate), error) || error) return false;
  *path = candidate;
  return true;
}

bool loadModule(const char* path) {
  if (!moduleLibrary.open(path)) {
    moduleEntryPoint = nullptr;
    std::printf("\"%s\" cannot be opened.\n", path);
    // The loader's text names the cause (a missing runtime DLL, a wrong
    // architecture), which the line above cannot.
    std::fprintf(stderr, "%s\n", moduleLibrary.errorText());
    return false;
  }
  moduleEntryPoint = reinterpret_cast<ModuleEntryPoint>(moduleLibrary.symbol(MODULE_ENTRY_SYMBOL));
  if (moduleEntryPoint == nullptr) {
    std::puts("ModuleEntryPoint cannot be found.\n");
    return false;
  }
  return true;
}

void unloadModule() {
  moduleLibrary.close();
  moduleEntryPoint = nullptr;
}

std::int32_t callModule(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                        std::uint32_t dataType, void* data, CompletionProcType completion,
                        void* completionRef) {
  if (moduleEntryPoint == nullptr) return MODULE_RESULT_INVALID;
  return moduleEntryPoint(object, command, parameter, dataType, data, completion, completionRef);
}

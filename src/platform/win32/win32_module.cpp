// LoadLibraryA, GetProcAddress and FreeLibrary, keeping the system's text
// for GetLastError().
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/module.h"

namespace platform {

namespace {

// The system's message for code, without its trailing line end; the bare
// code when the system has no text for it.
void formatSystemError(DWORD code, char* out, std::size_t size) {
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, out, static_cast<DWORD>(size), nullptr);
  if (length == 0) {
    std::snprintf(out, size, "error %lu", static_cast<unsigned long>(code));
    return;
  }
  std::size_t end = std::strlen(out);
  while (end > 0 && (out[end - 1] == '\r' || out[end - 1] == '\n' || out[end - 1] == ' ')) --end;
  out[end] = '\0';
}

}  // namespace

bool LoadableModule::open(const char* path) {
  close();
  HMODULE module = LoadLibraryA(path);
  const DWORD code = GetLastError();
  if (module == nullptr) {
    char text[sizeof error_];
    formatSystemError(code, text, sizeof text);
    setError(text);
    return false;
  }
  handle_ = reinterpret_cast<void*>(module);
  return true;
}

void* LoadableModule::symbol(const char* name) {
  if (handle_ == nullptr) {
    setError("no module loaded");
    return nullptr;
  }
  FARPROC address = GetProcAddress(static_cast<HMODULE>(handle_), name);
  const DWORD code = GetLastError();
  if (address == nullptr) {
    char text[sizeof error_];
    formatSystemError(code, text, sizeof text);
    setError(text);
    return nullptr;
  }
  return reinterpret_cast<void*>(address);
}

void LoadableModule::close() {
  if (handle_ == nullptr) return;
  FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

}  // namespace platform

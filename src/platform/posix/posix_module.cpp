// dlopen, dlsym and dlclose, keeping dlerror()'s text.
#include <dlfcn.h>

#include "platform/module.h"

namespace platform {

bool LoadableModule::open(const char* path) {
  close();
  // RTLD_LOCAL: the module's symbols must not satisfy anyone else's.
  handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    setError(dlerror());
    return false;
  }
  return true;
}

void* LoadableModule::symbol(const char* name) {
  if (handle_ == nullptr) {
    setError("no module loaded");
    return nullptr;
  }
  dlerror();  // clears a stale message, so that a null result can be told apart
  void* address = dlsym(handle_, name);
  if (address == nullptr) setError(dlerror());
  return address;
}

void LoadableModule::close() {
  if (handle_ == nullptr) return;
  dlclose(handle_);
  handle_ = nullptr;
}

}  // namespace platform

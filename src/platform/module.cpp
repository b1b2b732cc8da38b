// The parts of the module loader that are the same on every platform.
#include <cstdio>

#include "platform/module.h"

namespace platform {

LoadableModule::LoadableModule(LoadableModule&& other) noexcept : handle_(other.handle_) {
  other.handle_ = nullptr;
  setError(other.error_);
}

LoadableModule& LoadableModule::operator=(LoadableModule&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
    setError(other.error_);
  }
  return *this;
}

void LoadableModule::setError(const char* text) {
  std::snprintf(error_, sizeof error_, "%s", text != nullptr ? text : "unknown loader error");
}

}  // namespace platform

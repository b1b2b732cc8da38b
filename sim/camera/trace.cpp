#include "trace.h"

#include <cstdarg>

namespace sim {

Trace::~Trace() {
  if (file_ != nullptr) std::fclose(file_);
}

bool Trace::open(const std::string& path) {
  if (path.empty()) return true;
  // Appended, so that the module opened again in one run keeps one trace.
  file_ = std::fopen(path.c_str(), "a");
  return file_ != nullptr;
}

void Trace::line(const char* format, ...) {
  if (file_ == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(file_, format, arguments);
  va_end(arguments);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace sim

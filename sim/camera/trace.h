// The call trace: one line per call received and per procedure called, so
// that tests can check the exact sequence. Written only when a file is named.
#pragma once

#include <cstdio>
#include <string>

namespace sim {

class Trace {
 public:
  Trace() = default;
  ~Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  // Appends to path; an empty path writes nothing. False when it cannot be
  // opened.
  bool open(const std::string& path);
  // printf-style; the line end is added. Each line is flushed at once.
  void line(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace sim

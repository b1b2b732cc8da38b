// A server-log line that a loop would write on every pass while one fault
// lasts. The first occurrence is written whole; further ones are counted and
// reported by at most one summary a period, "<line> (repeated N times in the
// last S s)", and by a final summary when the fault ends. So no persistent
// fault can grow the log by more than a line or two a minute.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/log.h"

class RepeatedLine {
 public:
  using Clock = std::uint32_t (*)();

  // periodMs: the least time between two lines written for one fault.
  // clock: milliseconds from an arbitrary start (the platform tick unless a
  // test gives its own). direct: when set, lines go straight to this stream,
  // without the log's timestamp, for lines that bypass the server log.
  explicit RepeatedLine(std::uint32_t periodMs = 60000, Clock clock = nullptr,
                        std::FILE* direct = nullptr);

  // The fault occurred (again). Writes the formatted line (which ends in
  // "\n") the first time, and a summary in its words once a period has
  // passed since the last line written.
  void occurred(const char* format, ...) SKERROW_PRINTF(2, 3);

  // The fault is over: writes a final summary of the occurrences not yet
  // reported, if any, and the next occurrence is written whole again. Cheap
  // when no fault is under way, so callers may call it on every success.
  void ended();

  // True between a first occurrence and ended().
  bool active() const { return active_; }

 private:
  void write(const char* text);
  void summarise();

  std::uint32_t periodMs_;
  Clock clock_;
  std::FILE* direct_;
  bool active_ = false;
  std::uint32_t lastWrittenMs_ = 0;
  std::uint32_t unreported_ = 0;
  // The latest occurrence's text without its line end; a summary repeats it.
  char text_[512] = "";
};

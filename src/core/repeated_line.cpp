#include "core/repeated_line.h"

#include <cstdarg>
#include <cstring>

#include "platform/clock.h"

RepeatedLine::RepeatedLine(std::uint32_t periodMs, Clock clock, std::FILE* direct)
    : periodMs_(periodMs), clock_(clock != nullptr ? clock : platform::tickMs), direct_(direct) {}

void RepeatedLine::write(const char* text) {
  if (direct_ != nullptr) {
    std::fputs(text, direct_);
    std::fflush(direct_);
  } else {
    logprintf(currentLogStream, "%s", text);
  }
}

void RepeatedLine::summarise() {
  // The seconds are those really covered: a slow loop may report after more
  // than a period, and a fault that ends early after less.
  const std::uint32_t seconds = (clock_() - lastWrittenMs_ + 500) / 1000;
  char line[sizeof text_ + 64];
  std::snprintf(line, sizeof line, "%s (repeated %lu times in the last %lu s)\n", text_,
                static_cast<unsigned long>(unreported_), static_cast<unsigned long>(seconds));
  write(line);
  lastWrittenMs_ = clock_();
  unreported_ = 0;
}

void RepeatedLine::occurred(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(text_, sizeof text_, format, args);
  va_end(args);
  const bool first = !active_;
  const std::size_t length = std::strlen(text_);
  if (first) {
    active_ = true;
    unreported_ = 0;
    lastWrittenMs_ = clock_();
    write(text_);
  }
  if (length > 0 && text_[length - 1] == '\n') text_[length - 1] = '\0';
  if (first) return;
  ++unreported_;
  // Unsigned difference: right across the tick's wrap.
  if (clock_() - lastWrittenMs_ >= periodMs_) summarise();
}

void RepeatedLine::ended() {
  if (!active_) return;
  if (unreported_ > 0) summarise();
  active_ = false;
}

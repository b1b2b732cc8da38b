// The rig's control line: a FIFO in the file system that anyone may write
// command lines to, at any time, e.g. `echo stall > control`.
#pragma once

#include <cstddef>
#include <string>

namespace rig {

class ControlFifo {
 public:
  // Longer lines are cut to this many characters.
  static constexpr std::size_t kMaxLine = 256;

  ControlFifo() = default;
  ~ControlFifo();  // closes
  ControlFifo(const ControlFifo&) = delete;
  ControlFifo& operator=(const ControlFifo&) = delete;

  // Makes the FIFO at path (an existing FIFO is taken over; any other file
  // there is never replaced) and opens it. False, with one line on standard
  // error, on failure.
  bool open(const std::string& path);

  // Waits at most timeoutMs for a whole line and stores it without its line
  // end. False when no whole line came in that time.
  bool readLine(std::string* line, int timeoutMs);

  // Closes the FIFO and removes it. Safe to call twice.
  void close();

 private:
  int reader_ = -1;
  // The rig holds the writing end open too, so that the reading end never
  // sees an end of file when a writer leaves.
  int writer_ = -1;
  std::string path_;
  std::string buffer_;     // bytes of the line being received
  bool skipping_ = false;  // the rest of a line handed on cut, dropped up to its end
};

}  // namespace rig

// The trigger line as a pseudo-terminal: the server opens the slave side as
// it would a serial port, the rig reads the master side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rig {

class PtyLine {
 public:
  PtyLine() = default;
  ~PtyLine();  // closes

  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Makes the terminal in raw mode and, when link is not empty, a symlink
  // to its slave side (replacing an earlier symlink, never another file).
  // False, with one line on standard error, on failure. May be called again
  // after close(): a new terminal, linked under the same name.
  bool open(const std::string& link);
  // Closes both sides and removes the link it made: whoever has the slave
  // side open sees a hang-up. Safe to call twice.
  void close();

  // The slave side's path, e.g. /dev/pts/3.
  const std::string& slavePath() const { return slavePath_; }

  // Waits at most timeoutMs for input and reads at most size bytes of it.
  // Returns the count, 0 when nothing came or the terminal is closed, -1 on
  // an error.
  int read(std::uint8_t* buffer, std::size_t size, int timeoutMs);

 private:
  int master_ = -1;
  // The rig keeps the slave open itself: with no slave opener a Linux master
  // reports EIO on every read, and the settings of the last opener would be
  // lost between the server's opens.
  int slave_ = -1;
  std::string slavePath_;
  std::string link_;
};

}  // namespace rig

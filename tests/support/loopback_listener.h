// A listening socket on 127.0.0.1 and a port the system picks, held for a
// test. With its accept queue filled, it never completes a further
// handshake, as a host that is switched off does not. POSIX only, like the
// tests that use it.
#pragma once

namespace testing_support {

class LoopbackListener {
 public:
  // fullQueue: the queue is made 0 long and filled with one connection
  // that is never accepted.
  explicit LoopbackListener(bool fullQueue = false);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  // The port, 0 when the socket could not be set up.
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int filler_ = -1;
  int port_ = 0;
};

}  // namespace testing_support

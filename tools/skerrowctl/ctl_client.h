// One connection of skerrowctl to the server.
#pragma once

#include <string>
#include <vector>

#include "platform/socket.h"
#include "tools/skerrowctl/ctl_request.h"

class CtlConnection {
 public:
  CtlConnection() = default;
  ~CtlConnection();
  CtlConnection(const CtlConnection&) = delete;
  CtlConnection& operator=(const CtlConnection&) = delete;

  // Connects to host:port, giving up after timeoutMs: a host that is
  // switched off would otherwise hold the run for the system's own
  // time-out, a minute or more. On failure returns false with the reason.
  bool open(const std::string& host, int port, int timeoutMs, std::string* error);

  // Sends the request and waits at most timeoutMs for one whole reply.
  // On failure returns false with the reason (time-out, closed, ...).
  bool exchange(const CtlRequest& request, int timeoutMs, std::vector<unsigned char>* sent,
                std::vector<unsigned char>* reply, std::string* error);

 private:
  platform::SocketHandle socket_ = platform::kNoSocket;
};

// skerrowctl's commands: turning a command line into a request, and a reply
// into a readable line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "channel/command_message.h"

struct CtlRequest {
  std::uint16_t type = 0;
  std::uint8_t action = SKERROW_ACTION_GET;
  std::vector<unsigned char> payload;
};

// Builds the request for COMMAND [ARG...]. On failure returns false and puts
// a one-line reason in *error.
bool buildCtlRequest(const std::vector<std::string>& words, CtlRequest* request,
                     std::string* error);

// The reply's meaning as one line, e.g. "interval: 1000 ms". Sets *unknown
// when the server did not know the requested type.
std::string describeCtlReply(const unsigned char* bytes, std::size_t size, bool* unknown);

// Whether the reply answers the request: well formed and of the request's
// type, or the server's answer to a type it does not know. The laser command
// is also answered by a configuration-file reply (type 11), as the server
// has always done. On false puts a one-line reason in *error.
bool ctlReplyAnswers(const CtlRequest& request, const unsigned char* bytes, std::size_t size,
                     std::string* error);

// "01 18 00 ..." for --hex.
std::string hexBytes(const unsigned char* bytes, std::size_t size);

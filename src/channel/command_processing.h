// Executes one received command message on the camera thread and queues its
// reply.
#pragma once

#include <cstdint>

#include "channel/message_queue.h"

// Runs the command in bytes (count bytes as received; a copy owned by the
// camera thread), changes the status or the camera as asked, logs what it
// did and pushes the reply, tagged with session (the client that sent the
// request), into the reply direction of the message queue. A malformed
// message, a known type with an action other than get or set, and a step
// that could not take its mutex get no reply.
void processCommandMessage(const unsigned char* bytes, std::uint32_t count, SessionId session);

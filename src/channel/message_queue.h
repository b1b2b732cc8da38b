// Command messages between the main thread, which owns the sockets, and the
// camera thread, which executes commands. Two bounded FIFOs of raw message
// bytes, each entry tagged with the client session it came from or goes
// to. No locking of its own: every caller holds messageMutex.
#pragma once

#include <cstdint>
#include <deque>

#include "channel/command_message.h"

// A client session: numbered from 1 as clients are accepted and never
// reused within the process (the socket handle is reused by the system, so
// it cannot name a session once the session has closed).
using SessionId = std::uint64_t;
constexpr SessionId kNoSession = 0;

class MessageQueue {
 public:
  static constexpr std::size_t kLimit = 100;  // per direction

  struct Entry {
    unsigned char bytes[kMaxMessage];
    std::uint32_t count;
    SessionId session;
  };

  // Copies count bytes (at most kMaxMessage are kept) with their session.
  // False, and the queue unchanged, when 100 messages wait already.
  bool pushReceived(SessionId session, const unsigned char* bytes, std::uint32_t count);
  bool pushReply(SessionId session, const unsigned char* bytes, std::uint32_t count);

  // Copies the oldest message into destination (room for kMaxMessage
  // bytes), stores its count and session and removes it. False, and
  // nothing written, when the direction is empty.
  bool popReceived(unsigned char* destination, std::uint32_t* count, SessionId* session);
  bool popReply(unsigned char* destination, std::uint32_t* count, SessionId* session);

  std::size_t receivedCount() const { return received_.size(); }
  std::size_t replyCount() const { return replies_.size(); }

 private:
  static bool push(std::deque<Entry>* fifo, SessionId session, const unsigned char* bytes,
                   std::uint32_t count);
  static bool pop(std::deque<Entry>* fifo, unsigned char* destination, std::uint32_t* count,
                  SessionId* session);

  // A deque keeps the entries' storage stable and grows one entry at a time.
  std::deque<Entry> received_;
  std::deque<Entry> replies_;
};

// Created by start-up before the worker threads; never destroyed.
extern MessageQueue* messageQueue;

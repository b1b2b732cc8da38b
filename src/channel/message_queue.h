// Command messages between the main thread, which owns the sockets, and the
// camera thread, which executes commands. Two bounded FIFOs of raw message
// bytes. No locking of its own: every caller holds messageMutex.
#pragma once

#include <cstdint>
#include <deque>

#include "channel/command_message.h"

class MessageQueue {
 public:
  static constexpr std::size_t kLimit = 100;  // per direction

  struct Entry {
    unsigned char bytes[kMaxMessage];
    std::uint32_t count;
  };

  // Copies count bytes (at most kMaxMessage are kept). False, and the
  // queue unchanged, when 100 messages wait already.
  bool pushReceived(const unsigned char* bytes, std::uint32_t count);
  bool pushReply(const unsigned char* bytes, std::uint32_t count);

  // Copies the oldest message into destination (room for kMaxMessage
  // bytes), stores its count and removes it. False, and nothing written,
  // when the direction is empty.
  bool popReceived(unsigned char* destination, std::uint32_t* count);
  bool popReply(unsigned char* destination, std::uint32_t* count);

  std::size_t receivedCount() const { return received_.size(); }
  std::size_t replyCount() const { return replies_.size(); }

 private:
  static bool push(std::deque<Entry>* fifo, const unsigned char* bytes, std::uint32_t count);
  static bool pop(std::deque<Entry>* fifo, unsigned char* destination, std::uint32_t* count);

  // A deque keeps the entries' storage stable and grows one entry at a time.
  std::deque<Entry> received_;
  std::deque<Entry> replies_;
};

// Created by start-up before the worker threads; never destroyed.
extern MessageQueue* messageQueue;

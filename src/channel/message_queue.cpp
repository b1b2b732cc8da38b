#include "channel/message_queue.h"

#include <cstring>
#include <new>

MessageQueue* messageQueue = nullptr;

bool MessageQueue::push(std::deque<Entry>* fifo, SessionId session, const unsigned char* bytes,
                        std::uint32_t count) {
  if (fifo->size() >= kLimit) return false;
  if (count > kMaxMessage) count = kMaxMessage;
  try {
    fifo->emplace_back();
  } catch (const std::bad_alloc&) {
    return false;
  }
  Entry& entry = fifo->back();
  if (count > 0) std::memcpy(entry.bytes, bytes, count);
  entry.count = count;
  entry.session = session;
  return true;
}

bool MessageQueue::pop(std::deque<Entry>* fifo, unsigned char* destination, std::uint32_t* count,
                       SessionId* session) {
  if (fifo->empty()) return false;
  const Entry& entry = fifo->front();
  std::memcpy(destination, entry.bytes, entry.count);
  *count = entry.count;
  *session = entry.session;
  fifo->pop_front();
  return true;
}

bool MessageQueue::pushReceived(SessionId session, const unsigned char* bytes,
                                std::uint32_t count) {
  return push(&received_, session, bytes, count);
}

bool MessageQueue::pushReply(SessionId session, const unsigned char* bytes, std::uint32_t count) {
  return push(&replies_, session, bytes, count);
}

bool MessageQueue::popReceived(unsigned char* destination, std::uint32_t* count,
                               SessionId* session) {
  return pop(&received_, destination, count, session);
}

bool MessageQueue::popReply(unsigned char* destination, std::uint32_t* count, SessionId* session) {
  return pop(&replies_, destination, count, session);
}

#include "platform/socket.h"

namespace platform {

bool SocketSet::add(SocketHandle socket) {
  if (contains(socket)) return true;
  if (count_ >= kCapacity || !socketFitsSet(socket)) return false;
  sockets_[count_++] = socket;
  return true;
}

bool SocketSet::contains(SocketHandle socket) const {
  for (int i = 0; i < count_; ++i) {
    if (sockets_[i] == socket) return true;
  }
  return false;
}

void SocketSet::remove(SocketHandle socket) {
  for (int i = 0; i < count_; ++i) {
    if (sockets_[i] == socket) {
      sockets_[i] = sockets_[--count_];
      return;
    }
  }
}

}  // namespace platform

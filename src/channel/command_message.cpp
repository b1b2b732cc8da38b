#include "channel/command_message.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "channel/wire.h"

CommandMessage::CBufferManager::~CBufferManager() { drop(); }

void CommandMessage::CBufferManager::drop() {
  if (owned) delete[] data;
  data = nullptr;
  size = 0;
  owned = false;
}

bool CommandMessage::CBufferManager::setBuffer(const unsigned char* bytes, std::uint32_t count,
                                               bool copy) {
  drop();
  size = count;
  owned = copy;
  if (!copy) {
    data = const_cast<unsigned char*>(bytes);
    return data != nullptr && size > 0;
  }
  data = new (std::nothrow) unsigned char[count > 0 ? count : 1];
  if (data == nullptr) {
    size = 0;
    owned = false;
    return false;
  }
  if (bytes != nullptr && count > 0) std::memcpy(data, bytes, count);
  return size > 0;
}

bool CommandMessage::CBufferManager::allocate(std::uint32_t count) {
  if (!setBuffer(nullptr, count, true)) return false;
  std::memset(data, 0, count);
  return true;
}

CommandMessage::CommandMessage() : buffer_(new CBufferManager()) {
  if (!setHeader()) std::fputs("CommandMessage::CommandMessage(), Can't set header\n", stdout);
}

CommandMessage::~CommandMessage() { delete buffer_; }

bool CommandMessage::setHeader() {
  received_ = 0;
  if (!buffer_->allocate(headerLength)) return false;
  wire::writeU16(buffer_->data, kSignature);
  return true;
}

bool CommandMessage::setMessage(std::uint16_t messageType, std::uint8_t messageAction,
                                const void* payload, std::uint32_t payloadLength) {
  const bool carried = payload != nullptr && payloadLength > 0 && payloadLength < payloadLimit;
  received_ = 0;
  if (!buffer_->allocate(headerLength + (carried ? payloadLength : 0))) return false;
  unsigned char* bytes = buffer_->data;
  wire::writeU16(bytes, kSignature);
  bytes[3] = messageAction;
  wire::writeU16(bytes + 4, messageType);
  if (carried) {
    std::memcpy(bytes + headerLength, payload, payloadLength);
    wire::writeU32(bytes + 9, payloadLength);
  }
  return true;
}

bool CommandMessage::takeReceived(const unsigned char* bytes, std::uint32_t received) {
  // The length field is the sender's word; the receive count is the truth.
  std::uint64_t claimed = headerLength;
  if (bytes != nullptr && received >= headerLength) claimed += wire::readU32(bytes + 9);
  const std::uint32_t covered = claimed < received ? static_cast<std::uint32_t>(claimed) : received;
  received_ = bytes != nullptr ? received : 0;
  return buffer_->setBuffer(bytes, covered, false);
}

bool CommandMessage::wellFormed() const {
  return buffer_->data != nullptr && buffer_->size >= 2 &&
         wire::readU16(buffer_->data) == kSignature;
}

std::uint16_t CommandMessage::type() const {
  return buffer_->size >= 6 ? wire::readU16(buffer_->data + 4) : 0;
}

std::uint8_t CommandMessage::action() const { return buffer_->size >= 4 ? buffer_->data[3] : 0; }

std::uint32_t CommandMessage::length() const {
  return buffer_->size >= 13 ? wire::readU32(buffer_->data + 9) : 0;
}

std::int32_t CommandMessage::argument(bool* present) const {
  const std::uint32_t available = received_ > buffer_->size ? received_ : buffer_->size;
  const bool carried = buffer_->data != nullptr && available >= headerLength + 4;
  if (present != nullptr) *present = carried;
  return carried ? static_cast<std::int32_t>(wire::readU32(buffer_->data + headerLength)) : 0;
}

void buildTextField(const char* text, unsigned char* field, std::uint32_t width) {
  std::memset(field, 0, width);
  if (text == nullptr || width == 0) return;
  const std::size_t length = std::strlen(text);
  std::memcpy(field, text, length < width ? length : width - 1);
}

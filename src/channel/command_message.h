// One command message of the TCP protocol, in memory.
//
// Wire layout (little-endian, no padding):
//   offset 0  2 bytes  signature 0x1801 (bytes 01 18)
//          2  1        reserved, 0
//          3  1        action: request 0 = get, 1 = set; reply 0, or 2 for
//                      an unknown type
//          4  2        type (SKERROW_MESSAGE_*)
//          6  3        reserved, 0
//          9  4        payload length
//         13  length   payload
#pragma once

#include <cstdint>

enum CommandMessageType : std::uint16_t {
  SKERROW_MESSAGE_NONE = 0,
  SKERROW_MESSAGE_ECHO = 1,
  SKERROW_MESSAGE_CONNECT = 2,
  SKERROW_MESSAGE_PRETRIGGER = 3,
  SKERROW_MESSAGE_ACQUISITION = 4,
  SKERROW_MESSAGE_LASERPOWER = 5,
  SKERROW_MESSAGE_INTERVAL = 6,
  SKERROW_MESSAGE_FILEPREFIX = 7,
  SKERROW_MESSAGE_IMAGECOUNT = 9,
  SKERROW_MESSAGE_TRIGGERCOUNT = 10,
  SKERROW_MESSAGE_INIFILE = 11,
  SKERROW_MESSAGE_TRIGGERPORT = 13,
};

constexpr std::uint8_t SKERROW_ACTION_GET = 0;
constexpr std::uint8_t SKERROW_ACTION_SET = 1;
constexpr std::uint8_t SKERROW_ACTION_UNKNOWN_TYPE = 2;
// The reply to an unknown type carries this type, whatever was asked.
constexpr std::uint16_t SKERROW_UNKNOWN_TYPE_REPLY = 3;

constexpr std::uint16_t kSignature = 0x1801;
constexpr std::uint32_t kHeaderLength = 13;
constexpr std::uint32_t kPayloadLimit = 1400;  // payloads are shorter than this
constexpr std::uint32_t kMaxMessage = kHeaderLength + kPayloadLimit;  // 1413

// Widths of the reply payloads' text fields.
constexpr std::uint32_t kTextField = 257;
constexpr std::uint32_t kPortNameField = 256;
constexpr std::uint32_t kTriggerPortPayload = 265;

class CommandMessage {
 public:
  // Holder of one byte buffer: owned bytes are freed when dropped; bytes it
  // only refers to belong to someone else.
  class CBufferManager {
   public:
    CBufferManager() = default;
    virtual ~CBufferManager();
    CBufferManager(const CBufferManager&) = delete;
    CBufferManager& operator=(const CBufferManager&) = delete;

    // Drops the current bytes, then copies size bytes of data (copy true) or
    // refers to them (copy false). True when it ends with data and size > 0.
    bool setBuffer(const unsigned char* data, std::uint32_t size, bool copy);
    // Drops the current bytes, then takes a zeroed owned block of size bytes.
    bool allocate(std::uint32_t size);
    void drop();

    unsigned char* data = nullptr;
    std::uint32_t size = 0;
    bool owned = false;
  };

  // Starts as a bare 13-byte header with the signature. Prints
  // "CommandMessage::CommandMessage(), Can't set header" when that fails.
  CommandMessage();
  ~CommandMessage();
  CommandMessage(const CommandMessage&) = delete;
  CommandMessage& operator=(const CommandMessage&) = delete;

  // A zeroed 13-byte header with the signature. False when out of memory.
  bool setHeader();
  // Header with type and action; the payload is carried, and the length
  // field set, only when 0 < length < 1400 and payload is given.
  // False when out of memory.
  bool setMessage(std::uint16_t type, std::uint8_t action, const void* payload,
                  std::uint32_t length);

  // Refers to received bytes without copying them. The holder covers the
  // header's length field plus 13 bytes, but never more than was received,
  // so no read of this message goes past the receive buffer.
  bool takeReceived(const unsigned char* bytes, std::uint32_t received);

  // The message starts with the signature. A holder without bytes is
  // malformed too.
  bool wellFormed() const;

  // Header fields; 0 where the holder is too short to carry them.
  std::uint16_t type() const;
  std::uint8_t action() const;
  std::uint32_t length() const;
  // The 32-bit argument at bytes 13-16, read whatever the length field
  // says as long as the four bytes arrived (or, for a built message, are
  // held); sets *present to whether they did (0 is returned when not).
  std::int32_t argument(bool* present = nullptr) const;

  const unsigned char* bytes() const { return buffer_->data; }
  std::uint32_t size() const { return buffer_->size; }

  std::uint32_t headerLength = kHeaderLength;
  std::uint32_t payloadLimit = kPayloadLimit;

 private:
  CBufferManager* buffer_;
  // The bytes that arrived, for a received message; the holder may cover
  // fewer when the length field claims fewer.
  std::uint32_t received_ = 0;
};

// Writes text into a zeroed field of width bytes, cut so that a terminating
// zero byte always fits.
void buildTextField(const char* text, unsigned char* field, std::uint32_t width);

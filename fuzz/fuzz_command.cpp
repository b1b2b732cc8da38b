// Runs one received command message through processCommandMessage, without a
// camera, on a fresh server state for every input; then cuts the same bytes
// into receives and runs them through a session's RequestFramer.
//
// Input: one byte that picks the starting state (bit 0 acquisition on, 1
// camera connected, 2 lasers on, 3 pretrigger on, 4 the longest prefix,
// 5 the longest configuration path and trigger port name, 6 the reply
// direction already full, 7 counts at their maximum), then the bytes as
// received. After each message the prefix, the status and the reply queued
// are checked; a violation traps. The framer must deliver only bytes that
// arrived, in their order, none of them twice, no more than kMaxMessage at
// once, and every byte once its partial request has waited out its time;
// each message it delivers is processed as the camera thread would.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "camera/camera_handler.h"
#include "channel/command_processing.h"
#include "channel/message_queue.h"
#include "channel/request_framer.h"
#include "channel/command_message.h"
#include "channel/wire.h"
#include "core/log.h"
#include "core/server_state.h"
#include "platform/mutex.h"

// The 50 ms pause after a disconnect would make every such input cost as
// much as thousands of others; the link replaces the pause with nothing.
extern "C" void __wrap__ZN8platform7sleepMsEi(int) {}

namespace {

// A little over the most the listener ever receives at once.
constexpr std::size_t kMaxReceived = kMaxMessage + 64;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

bool terminatedWithin(const char* text, std::size_t size) {
  return std::memchr(text, 0, size) != nullptr;
}

void setUpOnce() {
  statusMutex = platform::createTimedMutex().release();
  messageMutex = platform::createTimedMutex().release();
  check(statusMutex != nullptr && messageMutex != nullptr);
  std::FILE* sink = std::fopen("/dev/null", "w");
  check(sink != nullptr);
  currentLogStream = sink;
  messageQueue = new MessageQueue();
  cameraHandler = nullptr;
}

void startState(std::uint8_t choice) {
  serverStatus = ServerStatus{};
  serverSettings = ServerSettings{};
  serverStatus.running = true;
  serverStatus.acquisitionActive = (choice & 0x01) != 0;
  serverStatus.cameraConnected = (choice & 0x02) != 0;
  serverStatus.laserPowerOn = (choice & 0x04) != 0;
  serverStatus.cameraPreTrigger = (choice & 0x08) != 0;
  serverStatus.cameraInterval = 1000;
  if (choice & 0x10) {
    std::memset(serverStatus.cameraFilePrefix, 'P', kPrefixSize - 1);
  } else {
    std::strcpy(serverStatus.cameraFilePrefix, "AUV_");
  }
  if (choice & 0x20) {
    std::memset(serverSettings.configFilePath, 'C', kConfigPathSize - 1);
    std::memset(serverSettings.triggerPortName, 'T', kPortNameSize - 1);
  } else {
    std::strcpy(serverSettings.configFilePath, "./Skerrow.ini");
    std::strcpy(serverSettings.triggerPortName, "COM1");
  }
  serverSettings.triggerBaudRate = 1200;
  serverSettings.triggerBits = 8;
  std::strcpy(serverSettings.triggerParity, "N");
  serverSettings.triggerStop = 1;
  if (choice & 0x80) {
    serverStatus.triggerCount = 0xFFFFFFFFu;
    serverStatus.imageCount = 0xFFFFFFFFu;
  } else {
    serverStatus.triggerCount = 7;
    serverStatus.imageCount = 5;
  }

  unsigned char drop[kMaxMessage];
  std::uint32_t count = 0;
  SessionId session = kNoSession;
  while (messageQueue->popReply(drop, &count, &session)) {
  }
  while (messageQueue->popReceived(drop, &count, &session)) {
  }
  if (choice & 0x40) {
    const unsigned char filler[kHeaderLength] = {0x01, 0x18};
    while (messageQueue->pushReply(1, filler, sizeof filler)) {
    }
  }
}

bool knownType(std::uint16_t type) {
  return type <= SKERROW_MESSAGE_TRIGGERPORT && type != 8 && type != 12;
}

// The 32-bit value of a reply that carries one, or -1 when it carries none.
std::int64_t int32Reply(const unsigned char* reply, std::uint32_t count) {
  if (count != kHeaderLength + 4 || wire::readU32(reply + 9) != 4) return -1;
  return wire::readU32(reply + kHeaderLength);
}

// Checks one reply against the request it answers and the state afterwards.
void checkReply(const unsigned char* reply, std::uint32_t count, std::uint16_t requestType) {
  check(count >= kHeaderLength && count <= kMaxMessage);
  check(wire::readU16(reply) == kSignature);
  check(reply[2] == 0 && reply[6] == 0 && reply[7] == 0 && reply[8] == 0);
  const std::uint32_t length = wire::readU32(reply + 9);
  check(length < kPayloadLimit && length == count - kHeaderLength);
  const std::uint8_t action = reply[3];
  const std::uint16_t type = wire::readU16(reply + 4);
  if (!knownType(requestType)) {
    check(action == SKERROW_ACTION_UNKNOWN_TYPE && type == SKERROW_UNKNOWN_TYPE_REPLY &&
          length == 0);
    return;
  }
  check(action == 0 && type == requestType);
  const std::int64_t value = int32Reply(reply, count);
  switch (requestType) {
    case SKERROW_MESSAGE_NONE:
    case SKERROW_MESSAGE_ECHO:
      check(length == 0);
      break;
    case SKERROW_MESSAGE_CONNECT:
      check(value == (serverStatus.cameraConnected ? 1 : 0));
      break;
    case SKERROW_MESSAGE_PRETRIGGER:
      check(value == (serverStatus.cameraPreTrigger ? 1 : 0));
      break;
    case SKERROW_MESSAGE_ACQUISITION:
      check(value == (serverStatus.acquisitionActive ? 1 : 0));
      break;
    case SKERROW_MESSAGE_LASERPOWER:
      check(value == (serverStatus.laserPowerOn ? 1 : 0));
      break;
    case SKERROW_MESSAGE_INTERVAL:
      check(value == static_cast<std::uint32_t>(serverStatus.cameraInterval));
      break;
    case SKERROW_MESSAGE_IMAGECOUNT:
      check(value == serverStatus.imageCount);
      break;
    case SKERROW_MESSAGE_TRIGGERCOUNT:
      check(value == serverStatus.triggerCount);
      break;
    case SKERROW_MESSAGE_FILEPREFIX:
      check(length == kTextField);
      check(terminatedWithin(reinterpret_cast<const char*>(reply + kHeaderLength), kTextField));
      check(std::strcmp(reinterpret_cast<const char*>(reply + kHeaderLength),
                        serverStatus.cameraFilePrefix) == 0);
      break;
    case SKERROW_MESSAGE_INIFILE:
      check(length == kTextField);
      check(terminatedWithin(reinterpret_cast<const char*>(reply + kHeaderLength), kTextField));
      break;
    case SKERROW_MESSAGE_TRIGGERPORT:
      check(length == kTriggerPortPayload);
      check(terminatedWithin(reinterpret_cast<const char*>(reply + kHeaderLength), kPortNameField));
      break;
    default:
      break;
  }
}

std::uint32_t fakeNow = 0;
std::uint32_t fakeClock() { return fakeNow; }

// Cuts bytes into receives whose sizes the state byte and the position
// pick, lets the clock run out now and then between them, and checks what
// the framer delivers.
void frameReceives(std::uint8_t choice, const unsigned char* bytes, std::uint32_t count) {
  RequestFramer framer(fakeClock);
  std::uint32_t consumed = 0;  // input bytes delivered or skipped so far
  std::uint32_t taken = 0;     // input bytes given to the framer
  const auto deliver = [&](const unsigned char* message, std::uint32_t size) {
    check(size > 0 && size <= kMaxMessage);
    // The message is the input from some point on: only bytes that
    // arrived, in order, none twice (a request cut at kMaxMessage drops the
    // bytes behind it, so the point may lie further on).
    std::uint32_t at = consumed;
    while (at + size <= taken && std::memcmp(bytes + at, message, size) != 0) ++at;
    check(at + size <= taken);
    consumed = at + size;
    // Run it as the camera thread would, from a block of exactly its size.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size]);
    std::memcpy(copy.get(), message, size);
    processCommandMessage(copy.get(), size, 1);
    unsigned char reply[kMaxMessage];
    std::uint32_t replyCount = 0;
    SessionId session = kNoSession;
    while (messageQueue->popReply(reply, &replyCount, &session)) check(session == 1);
  };
  std::uint32_t step = 0;
  while (taken < count) {
    const std::uint32_t size = 1 + (choice * 31u + step * 17u) % 64u;
    const std::uint32_t piece = size < count - taken ? size : count - taken;
    // Each receive in a block of exactly its size.
    std::unique_ptr<unsigned char[]> receive(new unsigned char[piece]);
    std::memcpy(receive.get(), bytes + taken, piece);
    taken += piece;
    framer.take(receive.get(), piece, deliver);
    check(framer.pending() <= kMaxMessage);
    if ((step++ + choice) % 5 == 0) fakeNow += RequestFramer::kJoinWaitMs;
    framer.expire(deliver);
  }
  fakeNow += RequestFramer::kJoinWaitMs;
  framer.expire(deliver);
  check(framer.pending() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (setUpOnce(), true);
  (void)ready;
  if (size == 0 || size - 1 > kMaxReceived) return 0;
  const std::uint8_t choice = data[0];
  startState(choice);
  const ServerStatus before = serverStatus;
  const std::size_t queuedBefore = messageQueue->replyCount();

  // The message in a heap block of exactly its size, so that any read past
  // the received bytes is caught.
  const std::uint32_t count = static_cast<std::uint32_t>(size - 1);
  std::unique_ptr<unsigned char[]> bytes(new unsigned char[count == 0 ? 1 : count]);
  if (count != 0) std::memcpy(bytes.get(), data + 1, count);
  processCommandMessage(bytes.get(), count, 1);

  // What the request may change, read from the bytes that count.
  const bool wellFormed = count >= 2 && wire::readU16(bytes.get()) == kSignature;
  const std::uint16_t type = count >= 6 ? wire::readU16(bytes.get() + 4) : 0;
  const std::uint8_t action = count >= 4 ? bytes[3] : 0;
  const bool set = wellFormed && action == SKERROW_ACTION_SET;

  check(terminatedWithin(serverStatus.cameraFilePrefix, kPrefixSize));
  if (!(set && type == SKERROW_MESSAGE_FILEPREFIX)) {
    check(std::strcmp(serverStatus.cameraFilePrefix, before.cameraFilePrefix) == 0);
  }
  if (!(set && type == SKERROW_MESSAGE_ACQUISITION)) {
    check(serverStatus.acquisitionActive == before.acquisitionActive);
  }
  if (!(set && type == SKERROW_MESSAGE_LASERPOWER)) {
    check(serverStatus.laserPowerOn == before.laserPowerOn);
  }
  if (!(set && type == SKERROW_MESSAGE_PRETRIGGER)) {
    check(serverStatus.cameraPreTrigger == before.cameraPreTrigger);
  }
  if (!(set && type == SKERROW_MESSAGE_INTERVAL)) {
    check(serverStatus.cameraInterval == before.cameraInterval);
  }
  // Without a camera nothing can connect.
  check(!serverStatus.cameraConnected || before.cameraConnected);
  if (!(set && type == SKERROW_MESSAGE_CONNECT)) {
    check(serverStatus.cameraConnected == before.cameraConnected);
  }
  check(serverStatus.triggerCount == before.triggerCount);
  check(serverStatus.imageCount == before.imageCount);
  check(serverStatus.running == before.running);
  check(messageQueue->receivedCount() == 0);

  const std::size_t queued = messageQueue->replyCount();
  check(queued <= MessageQueue::kLimit);
  if (!wellFormed) check(queued == queuedBefore);
  if (queuedBefore == 0) {
    // Every well-formed get or set is answered, and so is every unknown
    // type; a known type with another action is not.
    const bool answered = wellFormed && (!knownType(type) || action <= SKERROW_ACTION_SET);
    check(queued == (answered ? 1u : 0u));
    if (queued == 1) {
      unsigned char reply[kMaxMessage];
      std::uint32_t replyCount = 0;
      SessionId session = kNoSession;
      check(messageQueue->popReply(reply, &replyCount, &session));
      check(session == 1);
      checkReply(reply, replyCount, type);
    }
  } else {
    check(queued == queuedBefore);
  }

  frameReceives(choice, bytes.get(), count);
  return 0;
}

#include "channel/command_processing.h"

#include <cstring>

#include "camera/camera_handler.h"
#include "channel/message_queue.h"
#include "channel/command_message.h"
#include "channel/wire.h"
#include "core/image_root.h"
#include "core/log.h"
#include "core/server_state.h"
#include "core/status_access.h"
#include "platform/clock.h"

namespace {

const char* const kWho = "processCommandMessage()";

// The interval this thread last read through its accessor: the interval
// reply carries it when the accessor cannot take the mutex.
std::int32_t lastIntervalRead = 1000;

bool actionIsGetOrSet(const CommandMessage& request) {
  return request.action() == SKERROW_ACTION_GET || request.action() == SKERROW_ACTION_SET;
}

bool replyInt32(CommandMessage* reply, std::uint16_t type, std::uint32_t value) {
  unsigned char payload[4];
  wire::writeU32(payload, value);
  return reply->setMessage(type, 0, payload, sizeof payload);
}

bool replyText(CommandMessage* reply, std::uint16_t type, const char* text) {
  unsigned char field[kTextField];
  buildTextField(text, field, sizeof field);
  return reply->setMessage(type, 0, field, sizeof field);
}

// The 32-bit argument of a set request, from bytes 13-16 whatever the
// length field says, when all four bytes arrived. A set request cut short
// changes nothing rather than act on bytes that were never sent.
bool setArgument(const CommandMessage& request, std::int32_t* argument) {
  if (request.action() != SKERROW_ACTION_SET) return false;
  bool present = false;
  *argument = request.argument(&present);
  if (!present) {
    logprintf(currentLogStream, "%s: ERROR Set request without its argument.\n", kWho);
  }
  return present;
}

bool handlerReportsConnected() {
  return cameraHandler != nullptr && cameraHandler->isCameraConnected();
}

void connectOrDisconnect(std::int32_t argument) {
  const bool connected = getCameraConnected();
  if (argument == 1 && !connected) {
    if (cameraHandler != nullptr) cameraHandler->connectCamera();
    const bool now = handlerReportsConnected();
    if (setCameraConnected(now) && now) {
      logprintf(currentLogStream, "%s: Camera connected.\n", kWho);
    } else {
      logprintf(currentLogStream, "%s: ERROR Camera failed to connect.\n", kWho);
    }
  } else if (argument == 1 && cameraHandler != nullptr && !handlerReportsConnected()) {
    // Wanted already, but gone: one more try at once, beside the camera
    // thread's own every few seconds, which logs the return.
    cameraHandler->reopenCamera();
  } else if (argument == 0 && connected) {
    if (cameraHandler != nullptr) cameraHandler->disconnectCamera();
    const bool now = handlerReportsConnected();
    setCameraConnected(now);
    if (!now) {
      logprintf(currentLogStream, "%s: Camera disconnected.\n", kWho);
    } else {
      logprintf(currentLogStream, "%s: ERROR Camera failed to disconnect.\n", kWho);
    }
    platform::sleepMs(50);
  }
}

void startOrStopAcquisition(std::int32_t argument) {
  if (argument != 0 && argument != 1) return;
  const bool start = argument == 1;
  const bool stored = setAcquisitionActive(start);
  if (start) {
    logprintf(currentLogStream,
              stored ? "%s: Started acquisition.\n" : "%s: ERROR Failed to start acquisition.\n",
              kWho);
  } else {
    logprintf(currentLogStream,
              stored ? "%s: Stopped acquisition.\n" : "%s: ERROR Failed to stop acquisition.\n",
              kWho);
  }
}

void switchLasers(std::int32_t argument) {
  if (argument != 0 && argument != 1) return;
  if (!setLaserPowerOn(argument == 1)) {
    logprintf(currentLogStream, "%s: ERROR Failed to set laser power state.\n", kWho);
    return;
  }
  logprintf(currentLogStream, argument == 1 ? "%s: Lasers on.\n" : "%s: Lasers off.\n", kWho);
}

// Takes the prefix text of a set request. The text must end with its zero
// byte inside the bytes that arrived and fit the prefix field, and, with an
// image root set, its folder must lie inside the root; anything else is
// refused, never cut. False when statusMutex was not obtained.
bool setPrefix(const CommandMessage& request) {
  const unsigned char* text = request.bytes() + kHeaderLength;
  const std::uint32_t available =
      request.size() > kHeaderLength ? request.size() - kHeaderLength : 0;
  const void* end = available > 0 ? std::memchr(text, 0, available) : nullptr;
  const std::size_t length =
      end ? static_cast<std::size_t>(static_cast<const unsigned char*>(end) - text) : 0;
  if (end == nullptr || length > sizeof serverStatus.cameraFilePrefix - 1) {
    logprintf(currentLogStream, "%s: ERROR Prefix too long or not terminated.\n", kWho);
    return true;
  }
  // Checked before the mutex is taken: resolving the folder may wait on the
  // file system, and only this thread writes the prefix.
  const char* prefix = reinterpret_cast<const char*>(text);
  const PrefixPlace place = placePrefix(prefix, serverSettings.cameraImageRoot);
  if (place != PrefixPlace::INSIDE) {
    logprintf(currentLogStream, "%s: ERROR Prefix %s refused, %s.\n", kWho, prefix,
              prefixRefusalReason(place));
    return true;
  }
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (!hold.obtained()) return false;
  std::memcpy(serverStatus.cameraFilePrefix, text, length + 1);
  logprintf(currentLogStream, "%s: Set File prefix to: %s\n", kWho, serverStatus.cameraFilePrefix);
  return true;
}

// Builds the reply to a known or unknown type. False when no reply goes out.
bool dispatch(const CommandMessage& request, CommandMessage* reply) {
  const std::uint16_t type = request.type();
  std::int32_t argument = 0;
  switch (type) {
    case SKERROW_MESSAGE_NONE:
      if (!actionIsGetOrSet(request)) return false;
      logprintf(currentLogStream, "%s: received SKERROW_MESSAGE_NONE\n", kWho);
      return reply->setMessage(type, 0, nullptr, 0);
    case SKERROW_MESSAGE_ECHO:
      if (!actionIsGetOrSet(request)) return false;
      return reply->setMessage(type, 0, nullptr, 0);
    case SKERROW_MESSAGE_CONNECT:
      logprintf(currentLogStream, "%s: received SKERROW_MESSAGE_CONNECT\n", kWho);
      if (setArgument(request, &argument)) connectOrDisconnect(argument);
      if (!actionIsGetOrSet(request)) return false;
      return replyInt32(reply, type, getCameraConnected() ? 1 : 0);
    case SKERROW_MESSAGE_PRETRIGGER:
      if (setArgument(request, &argument) && (argument == 0 || argument == 1)) {
        serverStatus.cameraPreTrigger = argument == 1;  // camera thread only
      }
      if (!actionIsGetOrSet(request)) return false;
      return replyInt32(reply, type, serverStatus.cameraPreTrigger ? 1 : 0);
    case SKERROW_MESSAGE_ACQUISITION:
      logprintf(currentLogStream, "%s: received SKERROW_MESSAGE_ACQUISITION\n", kWho);
      if (setArgument(request, &argument)) startOrStopAcquisition(argument);
      if (!actionIsGetOrSet(request)) return false;
      return replyInt32(reply, type, getAcquisitionActive() ? 1 : 0);
    case SKERROW_MESSAGE_LASERPOWER: {
      if (setArgument(request, &argument)) switchLasers(argument);
      if (!actionIsGetOrSet(request)) return false;
      // Answered like every other command: its own type and the flag.
      platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
      if (!hold.obtained()) {
        logprintf(currentLogStream, "%s: Error: Failed to get status mutex.\n", kWho);
        return false;
      }
      return replyInt32(reply, type, serverStatus.laserPowerOn ? 1 : 0);
    }
    case SKERROW_MESSAGE_INTERVAL:
      logprintf(currentLogStream, "%s: received SKERROW_MESSAGE_INTERVAL \n", kWho);
      if (setArgument(request, &argument)) {
        if (setCameraInterval(argument)) {
          logprintf(currentLogStream, "%s: Interval set to %li.\n", kWho,
                    static_cast<long>(argument));
        } else {
          logprintf(currentLogStream, "%s: Failed to change interval.\n", kWho);
        }
      }
      if (!actionIsGetOrSet(request)) return false;
      getCameraInterval(&lastIntervalRead);
      return replyInt32(reply, type, static_cast<std::uint32_t>(lastIntervalRead));
    case SKERROW_MESSAGE_FILEPREFIX: {
      logprintf(currentLogStream, "%s: received SKERROW_MESSAGE_FILEPREFIX \n", kWho);
      if (request.action() == SKERROW_ACTION_SET && !setPrefix(request)) {
        logprintf(currentLogStream, "%s: Error: Failed to get status mutex.\n", kWho);
        return false;
      }
      if (!actionIsGetOrSet(request)) return false;
      // Only this thread writes the prefix, so reading it needs no lock.
      return replyText(reply, type, serverStatus.cameraFilePrefix);
    }
    case SKERROW_MESSAGE_IMAGECOUNT:
      logprintf(currentLogStream, "%s: received SKERROW_MESSAGE_IMAGECOUNT \n", kWho);
      if (!actionIsGetOrSet(request)) return false;
      return replyInt32(reply, type, serverStatus.imageCount);  // camera thread only
    case SKERROW_MESSAGE_TRIGGERCOUNT: {
      logprintf(currentLogStream, "%s: received SKERROW_MESSAGE_TRIGGERCOUNT \n", kWho);
      if (!actionIsGetOrSet(request)) return false;
      platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
      if (!hold.obtained()) {
        logprintf(currentLogStream, "%s: Error: Failed to get status mutex.\n", kWho);
        return false;
      }
      return replyInt32(reply, type, serverStatus.triggerCount);
    }
    case SKERROW_MESSAGE_INIFILE:
      if (!actionIsGetOrSet(request)) return false;
      return replyText(reply, type, serverSettings.configFilePath);
    case SKERROW_MESSAGE_TRIGGERPORT: {
      if (!actionIsGetOrSet(request)) return false;
      platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
      if (!hold.obtained()) {
        logprintf(currentLogStream, "%s: Error: Failed to get status mutex.\n", kWho);
        return false;
      }
      unsigned char payload[kTriggerPortPayload];
      buildTextField(serverSettings.triggerPortName, payload, kPortNameField);
      wire::writeU32(payload + 256, static_cast<std::uint32_t>(serverSettings.triggerBaudRate));
      wire::writeU16(payload + 260, serverSettings.triggerBits);
      payload[262] = static_cast<unsigned char>(serverSettings.triggerParity[0]);
      wire::writeU16(payload + 263, serverSettings.triggerStop);
      return reply->setMessage(type, 0, payload, sizeof payload);
    }
    default:
      logprintf(currentLogStream, "%s: received UNKNOWN MESSAGE \n", kWho);
      return reply->setMessage(SKERROW_UNKNOWN_TYPE_REPLY, SKERROW_ACTION_UNKNOWN_TYPE, nullptr, 0);
  }
}

}  // namespace

void processCommandMessage(const unsigned char* bytes, std::uint32_t count, SessionId session) {
  CommandMessage request;
  CommandMessage reply;
  if (!request.takeReceived(bytes, count) || !request.wellFormed()) {
    logprintf(currentLogStream, "%s: ERROR, Malformed message received.\n", kWho);
    return;
  }
  if (!dispatch(request, &reply)) return;
  bool queued = false;
  {
    platform::MutexHold hold(messageMutex, kMutexTimeoutMs);
    if (hold.obtained()) {
      // A full reply direction drops the reply without a word.
      messageQueue->pushReply(session, reply.bytes(), reply.size());
      queued = true;
    }
  }
  if (!queued) logprintf(currentLogStream, "%s: Error: Failed to enqueue message.\n", kWho);
}

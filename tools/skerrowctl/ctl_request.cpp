#include "tools/skerrowctl/ctl_request.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "channel/wire.h"

namespace {

struct CommandInfo {
  const char* name;
  std::uint16_t type;
  enum Argument { kNone, kFlag, kInteger, kText } argument;
};

const CommandInfo kCommands[] = {
    {"none", SKERROW_MESSAGE_NONE, CommandInfo::kNone},
    {"echo", SKERROW_MESSAGE_ECHO, CommandInfo::kNone},
    {"connect", SKERROW_MESSAGE_CONNECT, CommandInfo::kFlag},
    {"pretrigger", SKERROW_MESSAGE_PRETRIGGER, CommandInfo::kFlag},
    {"acquire", SKERROW_MESSAGE_ACQUISITION, CommandInfo::kFlag},
    {"lasers", SKERROW_MESSAGE_LASERPOWER, CommandInfo::kFlag},
    {"interval", SKERROW_MESSAGE_INTERVAL, CommandInfo::kInteger},
    {"prefix", SKERROW_MESSAGE_FILEPREFIX, CommandInfo::kText},
    {"images", SKERROW_MESSAGE_IMAGECOUNT, CommandInfo::kNone},
    {"triggers", SKERROW_MESSAGE_TRIGGERCOUNT, CommandInfo::kNone},
    {"inifile", SKERROW_MESSAGE_INIFILE, CommandInfo::kNone},
    {"triggerport", SKERROW_MESSAGE_TRIGGERPORT, CommandInfo::kNone},
};

const CommandInfo* commandByType(std::uint16_t type) {
  for (const CommandInfo& command : kCommands) {
    if (command.type == type) return &command;
  }
  return nullptr;
}

bool parseInteger(const std::string& text, long long low, long long high, long long* value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, *value);
  return result.ec == std::errc() && result.ptr == end && !text.empty() && *value >= low &&
         *value <= high;
}

void appendInt32(std::vector<unsigned char>* payload, std::int32_t value) {
  unsigned char bytes[4];
  wire::writeU32(bytes, static_cast<std::uint32_t>(value));
  payload->insert(payload->end(), bytes, bytes + 4);
}

// A text field of the reply, read no further than its width or the data.
std::string textField(const unsigned char* field, std::size_t available) {
  std::size_t length = 0;
  while (length < available && field[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(field), length);
}

}  // namespace

bool buildCtlRequest(const std::vector<std::string>& words, CtlRequest* request,
                     std::string* error) {
  if (words.empty()) {
    *error = "no command given";
    return false;
  }
  const std::string& name = words[0];
  if (name == "raw") {
    long long type = 0;
    long long action = 0;
    long long argument = 0;
    if (words.size() < 3 || words.size() > 4 || !parseInteger(words[1], 0, 65535, &type) ||
        !parseInteger(words[2], 0, 255, &action) ||
        (words.size() == 4 && !parseInteger(words[3], INT32_MIN, INT32_MAX, &argument))) {
      *error = "usage: raw TYPE(0-65535) ACTION(0-255) [INT32]";
      return false;
    }
    request->type = static_cast<std::uint16_t>(type);
    request->action = static_cast<std::uint8_t>(action);
    request->payload.clear();
    if (words.size() == 4) appendInt32(&request->payload, static_cast<std::int32_t>(argument));
    return true;
  }
  for (const CommandInfo& command : kCommands) {
    if (name != command.name) continue;
    request->type = command.type;
    request->payload.clear();
    if (words.size() > 2) {
      *error = name + " takes at most one argument";
      return false;
    }
    if (words.size() == 1) {
      request->action = SKERROW_ACTION_GET;
      return true;
    }
    request->action = SKERROW_ACTION_SET;
    const std::string& argument = words[1];
    long long value = 0;
    switch (command.argument) {
      case CommandInfo::kNone:
        *error = name + " takes no argument";
        return false;
      case CommandInfo::kFlag:
        if (!parseInteger(argument, 0, 1, &value)) {
          *error = name + " takes 0 or 1, not '" + argument + "'";
          return false;
        }
        appendInt32(&request->payload, static_cast<std::int32_t>(value));
        return true;
      case CommandInfo::kInteger:
        if (!parseInteger(argument, INT32_MIN, INT32_MAX, &value)) {
          *error = name + " takes a whole number of milliseconds, not '" + argument + "'";
          return false;
        }
        appendInt32(&request->payload, static_cast<std::int32_t>(value));
        return true;
      case CommandInfo::kText:
        if (argument.size() >= kPayloadLimit) {
          *error = name + " text is too long";
          return false;
        }
        request->payload.assign(argument.begin(), argument.end());
        request->payload.push_back(0);
        return true;
    }
  }
  *error = "unknown command '" + name + "'";
  return false;
}

std::string describeCtlReply(const unsigned char* bytes, std::size_t size, bool* unknown) {
  *unknown = false;
  if (size < kHeaderLength || wire::readU16(bytes) != kSignature) {
    return "malformed reply";
  }
  const std::uint16_t type = wire::readU16(bytes + 4);
  const std::uint8_t action = bytes[3];
  if (action == SKERROW_ACTION_UNKNOWN_TYPE) {
    *unknown = true;
    return "unknown type: the server does not know the requested type";
  }
  const unsigned char* payload = bytes + kHeaderLength;
  const std::size_t length = size - kHeaderLength;
  const CommandInfo* command = commandByType(type);
  const std::string name = command ? command->name : "type " + std::to_string(type);
  char line[512];
  switch (type) {
    case SKERROW_MESSAGE_NONE:
    case SKERROW_MESSAGE_ECHO:
      return name + ": ok";
    case SKERROW_MESSAGE_FILEPREFIX:
    case SKERROW_MESSAGE_INIFILE:
      return name + ": " + textField(payload, length < kTextField ? length : kTextField);
    case SKERROW_MESSAGE_TRIGGERPORT:
      if (length < kTriggerPortPayload) break;
      std::snprintf(line, sizeof line, "%s: %s %ld baud, %u data bits, parity %c, %u stop bits",
                    name.c_str(), textField(payload, kPortNameField).c_str(),
                    static_cast<long>(static_cast<std::int32_t>(wire::readU32(payload + 256))),
                    wire::readU16(payload + 260), payload[262] ? payload[262] : '?',
                    wire::readU16(payload + 263));
      return line;
    default:
      if (length < 4) break;
      const std::uint32_t raw = wire::readU32(payload);
      if (type == SKERROW_MESSAGE_IMAGECOUNT || type == SKERROW_MESSAGE_TRIGGERCOUNT) {
        return name + ": " + std::to_string(raw);
      }
      const std::string value = std::to_string(static_cast<std::int32_t>(raw));
      return name + ": " + value + (type == SKERROW_MESSAGE_INTERVAL ? " ms" : "");
  }
  return name + ": reply without the expected payload";
}

bool ctlReplyAnswers(const CtlRequest& request, const unsigned char* bytes, std::size_t size,
                     std::string* error) {
  bool unknown = false;
  const std::string line = describeCtlReply(bytes, size, &unknown);
  if (size < kHeaderLength || wire::readU16(bytes) != kSignature) {
    *error = "malformed reply";
    return false;
  }
  const std::uint16_t type = wire::readU16(bytes + 4);
  if (unknown || type == request.type) return true;
  if (request.type == SKERROW_MESSAGE_LASERPOWER && type == SKERROW_MESSAGE_INIFILE) return true;
  *error = "the reply is of type " + std::to_string(type) + ", not " +
           std::to_string(request.type) + " as asked (" + line + ")";
  return false;
}

std::string hexBytes(const unsigned char* bytes, std::size_t size) {
  std::string text;
  char two[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(two, sizeof two, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += two;
  }
  return text;
}

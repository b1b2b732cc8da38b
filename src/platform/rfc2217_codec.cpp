#include "platform/rfc2217_codec.h"

namespace platform {
namespace rfc2217 {

void appendData(const std::uint8_t* data, std::size_t size, Bytes* out) {
  for (std::size_t i = 0; i < size; ++i) {
    out->push_back(data[i]);
    if (data[i] == IAC) out->push_back(IAC);
  }
}

void appendNegotiation(std::uint8_t verb, std::uint8_t option, Bytes* out) {
  out->push_back(IAC);
  out->push_back(verb);
  out->push_back(option);
}

void appendComPortCommand(std::uint8_t command, const std::uint8_t* value, std::size_t size,
                          Bytes* out) {
  out->push_back(IAC);
  out->push_back(SB);
  out->push_back(OPTION_COM_PORT);
  out->push_back(command);
  appendData(value, size, out);
  out->push_back(IAC);
  out->push_back(SE);
}

void encodeBaudRate(std::uint32_t rate, std::uint8_t value[4]) {
  value[0] = static_cast<std::uint8_t>(rate >> 24);
  value[1] = static_cast<std::uint8_t>(rate >> 16);
  value[2] = static_cast<std::uint8_t>(rate >> 8);
  value[3] = static_cast<std::uint8_t>(rate);
}

void Parser::appendDataByte(std::uint8_t byte, std::vector<Event>* events) {
  // Data merges only with data of this same piece: events the caller kept
  // from earlier pieces are not touched.
  if (events->size() <= pieceStart_ || events->back().kind != Event::Kind::kData) {
    events->emplace_back();
    events->back().kind = Event::Kind::kData;
  }
  events->back().payload.push_back(byte);
}

void Parser::feed(const std::uint8_t* data, std::size_t size, std::vector<Event>* events) {
  pieceStart_ = events->size();
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t byte = data[i];
    switch (state_) {
      case State::kData:
        if (byte == IAC) {
          state_ = State::kIac;
        } else {
          appendDataByte(byte, events);
        }
        break;
      case State::kIac:
        readIacByte(byte, events);
        break;
      case State::kOption: {
        Event event;
        event.kind = Event::Kind::kNegotiation;
        event.verb = verb_;
        event.option = byte;
        events->push_back(std::move(event));
        state_ = State::kData;
        break;
      }
      case State::kSbOption:
        if (byte == IAC) {
          // IAC SB IAC: no option; IAC SE closes it, anything else is a
          // command. Either way there is nothing to report.
          state_ = State::kSbIac;
          sbOverlong_ = true;
        } else {
          sbOption_ = byte;
          sb_.clear();
          sbOverlong_ = false;
          state_ = State::kSb;
        }
        break;
      case State::kSb:
        if (byte == IAC) {
          state_ = State::kSbIac;
        } else if (sb_.size() < kMaxSubnegotiation) {
          sb_.push_back(byte);
        } else {
          sbOverlong_ = true;
        }
        break;
      case State::kSbIac:
        if (byte == IAC) {
          if (sb_.size() < kMaxSubnegotiation) {
            sb_.push_back(IAC);
          } else {
            sbOverlong_ = true;
          }
          state_ = State::kSb;
        } else if (byte == SE) {
          if (!sbOverlong_) {
            Event event;
            event.kind = Event::Kind::kSubnegotiation;
            event.option = sbOption_;
            event.payload = sb_;
            events->push_back(std::move(event));
          }
          sb_.clear();
          state_ = State::kData;
        } else {
          // A server that forgot IAC SE: drop the fragment and read the
          // byte as the command it starts.
          sb_.clear();
          readIacByte(byte, events);
        }
        break;
    }
  }
}

void Parser::readIacByte(std::uint8_t byte, std::vector<Event>* events) {
  switch (byte) {
    case IAC:
      state_ = State::kData;
      appendDataByte(IAC, events);
      break;
    case DO:
    case DONT:
    case WILL:
    case WONT:
      verb_ = byte;
      state_ = State::kOption;
      break;
    case SB:
      state_ = State::kSbOption;
      break;
    default: {
      Event event;
      event.kind = Event::Kind::kCommand;
      event.verb = byte;
      events->push_back(std::move(event));
      state_ = State::kData;
      break;
    }
  }
}

}  // namespace rfc2217
}  // namespace platform

#include "platform/rfc2217_line.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/rfc2217_codec.h"
#include "platform/rfc2217_connect.h"
#include "platform/socket.h"

namespace platform {
namespace {

namespace tn = rfc2217;

const char* const kOpen = "Rfc2217SerialLine::open()";
const char* const kSetState = "Rfc2217SerialLine::setState()";
const char* const kPoll = "Rfc2217SerialLine::poll()";

// SET-CONTROL 10: the RTS-state question. Its answer (105 with 11 or 12)
// cannot be taken for the confirmation of a setting, which are 101 to 104.
constexpr std::uint8_t kControlAskRts = 10;

// Splits "HOST:PORT" at its last colon; the port is decimal, 1 to 65535.
bool parseAddress(const std::string& address, std::string* host, int* port) {
  const std::size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == address.size()) return false;
  const char* first = address.data() + colon + 1;
  const char* last = address.data() + address.size();
  int value = 0;
  const auto parsed = std::from_chars(first, last, value);
  if (parsed.ec != std::errc() || parsed.ptr != last || value < 1 || value > 65535) return false;
  *host = address.substr(0, colon);
  *port = value;
  return true;
}

bool parityValue(std::uint8_t parity, std::uint8_t* value) {
  switch (parity) {
    case kSerialNoParity:
      *value = tn::PARITY_NONE;
      return true;
    case kSerialOddParity:
      *value = tn::PARITY_ODD;
      return true;
    case kSerialEvenParity:
      *value = tn::PARITY_EVEN;
      return true;
    case kSerialMarkParity:
      *value = tn::PARITY_MARK;
      return true;
    case kSerialSpaceParity:
      *value = tn::PARITY_SPACE;
      return true;
    default:
      return false;
  }
}

bool stopValue(std::uint8_t stopBits, std::uint8_t* value) {
  switch (stopBits) {
    case kSerialOneStopBit:
      *value = tn::STOPSIZE_ONE;
      return true;
    case kSerialOne5StopBits:
      *value = tn::STOPSIZE_ONE5;
      return true;
    case kSerialTwoStopBits:
      *value = tn::STOPSIZE_TWO;
      return true;
    default:
      return false;
  }
}

// The options this client takes part in; every other one it declines.
bool supportedOption(std::uint8_t option) {
  return option == tn::OPTION_TRANSMIT_BINARY || option == tn::OPTION_SUPPRESS_GO_AHEAD ||
         option == tn::OPTION_COM_PORT;
}

class Rfc2217SerialLine : public SerialLine {
 public:
  Rfc2217SerialLine(const char* portName, const Rfc2217Timing& timing)
      : name_(portName), timing_(timing) {
    applied_.DCBlength = sizeof(SerialDcb);
    applied_.BaudRate = 9600;
    applied_.fParity = 0;
    // The server's RTS is unknown; taking it as raised makes the first
    // setState with RTS disabled lower it, as Windows does.
    applied_.fRtsControl = kSerialRtsControlEnable;
    applied_.ByteSize = 8;
    applied_.Parity = kSerialNoParity;
    applied_.StopBits = kSerialOneStopBit;
  }
  ~Rfc2217SerialLine() override { release(); }
  Rfc2217SerialLine(const Rfc2217SerialLine&) = delete;
  Rfc2217SerialLine& operator=(const Rfc2217SerialLine&) = delete;

  bool open() override {
    if (socket_ != kNoSocket) return fail(kRfc2217NotOpen);
    broken_ = 0;
    parser_ = tn::Parser();
    comPort_ = ComPort::kNone;
    std::fill(std::begin(sentWill_), std::end(sentWill_), false);
    std::fill(std::begin(sentDo_), std::end(sentDo_), false);
    std::string host;
    int port = 0;
    if (name_.compare(0, std::strlen(kRfc2217Prefix), kRfc2217Prefix) != 0 ||
        !parseAddress(name_.substr(std::strlen(kRfc2217Prefix)), &host, &port)) {
      std::fprintf(stderr, "%s: ERROR: `%s' is not rfc2217://HOST:PORT\n", kOpen, name_.c_str());
      return fail(kSerialNoSuchPort);
    }
    // Winsock counts startups, so the line holds its own for as long as it
    // keeps a socket, whatever the rest of the process does.
    if (!socketStartup()) {
      const unsigned long error = lastSocketError();
      std::fprintf(stderr, "%s: ERROR: Cannot start sockets. ERRNO %lu\n", kOpen, error);
      return fail(error);
    }
    started_ = true;
    socket_ = socketOpenTcp();
    if (socket_ == kNoSocket) {
      const unsigned long error = lastSocketError();
      release();
      return fail(error);
    }
    if (!socketConnectWithin(socket_, host.c_str(), port, timing_.connectMs)) {
      const unsigned long error = lastSocketError();
      std::fprintf(stderr, "%s: ERROR: Cannot connect to %s:%d. ERRNO %lu\n", kOpen, host.c_str(),
                   port, error);
      release();
      return fail(error);
    }
    // A trigger byte must not wait for the acknowledgement of a setting.
    socketSendAtOnce(socket_);
    lastHeardMs_ = tickMs();
    asked_ = false;
    server_ = host + ":" + std::to_string(port);
    // Binary transmission in both directions keeps a zero byte after a
    // carriage return from being eaten; suppress-go-ahead likewise.
    tn::Bytes offer;
    tn::appendNegotiation(tn::WILL, tn::OPTION_COM_PORT, &offer);
    tn::appendNegotiation(tn::WILL, tn::OPTION_TRANSMIT_BINARY, &offer);
    tn::appendNegotiation(tn::DO, tn::OPTION_TRANSMIT_BINARY, &offer);
    tn::appendNegotiation(tn::WILL, tn::OPTION_SUPPRESS_GO_AHEAD, &offer);
    tn::appendNegotiation(tn::DO, tn::OPTION_SUPPRESS_GO_AHEAD, &offer);
    for (const std::uint8_t option : {tn::OPTION_TRANSMIT_BINARY, tn::OPTION_SUPPRESS_GO_AHEAD}) {
      sentWill_[option] = true;
      sentDo_[option] = true;
    }
    sentWill_[tn::OPTION_COM_PORT] = true;
    comPort_ = ComPort::kOffered;
    if (!sendAll(offer) ||
        !waitFor([this] { return comPort_ != ComPort::kOffered; }, timing_.negotiationMs)) {
      const unsigned long error = lastError_;
      if (error == kRfc2217NoAnswer) {
        std::fprintf(stderr, "%s: ERROR: %s did not answer the COM port option offer\n", kOpen,
                     server_.c_str());
      } else {
        std::fprintf(stderr, "%s: ERROR: Connection to %s lost during negotiation. ERRNO %lu\n",
                     kOpen, server_.c_str(), error);
      }
      release();
      return fail(error);
    }
    if (comPort_ == ComPort::kRefused) {
      std::fprintf(stderr, "%s: ERROR: %s refused the COM port option\n", kOpen, server_.c_str());
      release();
      return fail(kRfc2217Refused);
    }
    return true;
  }

  bool getState(SerialDcb* dcb) override {
    if (!poll()) return false;
    *dcb = applied_;
    return true;
  }

  bool setState(const SerialDcb& dcb) override {
    if (!poll()) return false;
    std::uint8_t parity = 0;
    std::uint8_t stop = 0;
    // The protocol carries 5 to 8 data bits, and 0 would ask instead of set.
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 ||
        !parityValue(dcb.Parity, &parity) || !stopValue(dcb.StopBits, &stop) ||
        (dcb.fRtsControl != kSerialRtsControlDisable &&
         dcb.fRtsControl != kSerialRtsControlEnable)) {
      return fail(kRfc2217BadValue);
    }
    tn::Bytes request;
    std::uint8_t rate[4];
    tn::encodeBaudRate(dcb.BaudRate, rate);
    tn::appendComPortCommand(tn::SET_BAUDRATE, rate, sizeof rate, &request);
    tn::appendComPortCommand(tn::SET_DATASIZE, &dcb.ByteSize, 1, &request);
    tn::appendComPortCommand(tn::SET_PARITY, &parity, 1, &request);
    tn::appendComPortCommand(tn::SET_STOPSIZE, &stop, 1, &request);
    if (dcb.fRtsControl != applied_.fRtsControl) {
      const std::uint8_t control =
          dcb.fRtsControl == kSerialRtsControlEnable ? tn::CONTROL_RTS_ON : tn::CONTROL_RTS_OFF;
      tn::appendComPortCommand(tn::SET_CONTROL, &control, 1, &request);
    }
    expected_[0].assign(rate, rate + 4);
    expected_[1].assign(1, dcb.ByteSize);
    expected_[2].assign(1, parity);
    expected_[3].assign(1, stop);
    for (ConfirmState& state : confirmed_) state = ConfirmState::kWaiting;
    awaiting_ = true;
    const bool answered =
        sendAll(request) && waitFor([this] { return confirmationsDone(); }, timing_.confirmationMs);
    awaiting_ = false;
    if (!answered) return false;
    for (int i = 0; i < 4; ++i) {
      if (confirmed_[i] == ConfirmState::kDifferent) {
        std::fprintf(stderr, "%s: ERROR: %s refused setting %d\n", kSetState, server_.c_str(),
                     tn::SET_BAUDRATE + i);
        return fail(kRfc2217BadValue);
      }
    }
    applied_ = dcb;
    applied_.DCBlength = sizeof(SerialDcb);
    return true;
  }

  bool transmitByte(unsigned char byte) override {
    if (!poll()) return false;
    tn::Bytes data;
    tn::appendData(&byte, 1, &data);
    return sendAll(data);
  }

  bool setRts(bool on) override {
    if (!poll()) return false;
    const std::uint8_t control = on ? tn::CONTROL_RTS_ON : tn::CONTROL_RTS_OFF;
    tn::Bytes request;
    tn::appendComPortCommand(tn::SET_CONTROL, &control, 1, &request);
    return sendAll(request);
  }

  bool check() override { return poll(); }

  bool close() override {
    const bool wasOpen = socket_ != kNoSocket;
    release();
    return wasOpen ? true : fail(kRfc2217NotOpen);
  }

  unsigned long lastError() const override { return lastError_; }

 private:
  static constexpr int kPollRounds = 64;  // of at most 512 bytes each

  enum class ComPort { kNone, kOffered, kAccepted, kRefused };
  enum class ConfirmState { kWaiting, kSame, kDifferent };

  bool fail(unsigned long error) {
    lastError_ = error;
    return false;
  }

  // Remembers why the connection can no longer be used and fails.
  bool breakLine(unsigned long error) {
    broken_ = error;
    return fail(error);
  }

  void release() {
    if (socket_ != kNoSocket) socketClose(socket_);
    socket_ = kNoSocket;
    if (started_) socketCleanup();
    started_ = false;
  }

  bool usable() {
    if (socket_ == kNoSocket) return fail(kRfc2217NotOpen);
    if (broken_ != 0) return fail(broken_);
    return true;
  }

  bool sendAll(const tn::Bytes& bytes) {
    if (!usable()) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const int sent =
          socketSend(socket_, bytes.data() + done, static_cast<int>(bytes.size() - done));
      if (sent < 0) return breakLine(lastSocketError());
      done += static_cast<std::size_t>(sent);
    }
    return true;
  }

  // Reads what the server sent so far without waiting. A port that keeps
  // sending input is read in bounded rounds, so a call cannot be held up
  // for ever, yet the input does not pile up on the server between calls.
  bool poll() {
    if (!usable()) return false;
    for (int round = 0; round < kPollRounds; ++round) {
      const int got = readOnce(0);
      if (got < 0) return false;
      if (got == 0) break;
    }
    return keepAlive();
  }

  // Asks a server that has been quiet for the RTS state, and gives the
  // connection up when the question stays unanswered: a vanished server
  // shows no other sign, since the system takes every byte sent to it.
  bool keepAlive() {
    const std::uint32_t now = tickMs();
    if (asked_) {
      if (now - askedMs_ < static_cast<std::uint32_t>(timing_.answerMs)) return true;
      std::fprintf(stderr, "%s: ERROR: %s did not answer for %d ms; connection taken as lost\n",
                   kPoll, server_.c_str(), timing_.answerMs);
      return breakLine(kRfc2217NoAnswer);
    }
    if (now - lastHeardMs_ < static_cast<std::uint32_t>(timing_.quietMs)) return true;
    tn::Bytes question;
    tn::appendComPortCommand(tn::SET_CONTROL, &kControlAskRts, 1, &question);
    if (!sendAll(question)) return false;
    asked_ = true;
    askedMs_ = now;
    return true;
  }

  // Waits up to timeoutUs for input and handles what arrives. Returns 1
  // when bytes were read, 0 when none came, -1 on a failure (recorded).
  int readOnce(int timeoutUs) {
    SocketSet readable;
    if (!readable.add(socket_)) {
      breakLine(kRfc2217SocketSet);
      return -1;
    }
    const int ready = socketSelect(&readable, nullptr, timeoutUs);
    if (ready < 0) {
      breakLine(lastSocketError());
      return -1;
    }
    if (ready == 0) return 0;
    std::uint8_t buffer[512];
    int received = 0;
    switch (socketReceive(socket_, buffer, sizeof buffer, &received)) {
      case SocketResult::kOk:
        // Any byte shows the server is there, an answer or not.
        lastHeardMs_ = tickMs();
        asked_ = false;
        break;
      case SocketResult::kWouldBlock:
        return 0;
      case SocketResult::kClosed:
        breakLine(kRfc2217Closed);
        return -1;
      case SocketResult::kError:
        breakLine(lastSocketError());
        return -1;
    }
    events_.clear();
    parser_.feed(buffer, static_cast<std::size_t>(received), &events_);
    for (const tn::Event& event : events_) {
      if (!handle(event)) return -1;
    }
    return 1;
  }

  // Reads until done() holds, the time runs out (kRfc2217NoAnswer) or the
  // connection fails.
  template <typename Done>
  bool waitFor(Done done, int timeoutMs) {
    const std::uint32_t start = tickMs();
    while (!done()) {
      // Unsigned difference: the tick may wrap while waiting.
      const std::uint32_t elapsed = tickMs() - start;
      if (elapsed >= static_cast<std::uint32_t>(timeoutMs)) return fail(kRfc2217NoAnswer);
      // At most a second per wait keeps the microsecond count in range.
      const std::uint32_t remainingMs =
          std::min<std::uint32_t>(static_cast<std::uint32_t>(timeoutMs) - elapsed, 1000);
      const int remainingUs = static_cast<int>(remainingMs) * 1000;
      if (readOnce(remainingUs) < 0) return false;
    }
    return true;
  }

  bool handle(const tn::Event& event) {
    switch (event.kind) {
      case tn::Event::Kind::kNegotiation:
        return negotiate(event.verb, event.option);
      case tn::Event::Kind::kSubnegotiation:
        if (event.option == tn::OPTION_COM_PORT) confirm(event.payload);
        return true;
      case tn::Event::Kind::kData:  // the port's input; this line only sends
      case tn::Event::Kind::kCommand:
        return true;
    }
    return true;
  }

  // Answers a request for a supported option once and never answers a
  // refusal, so two peers cannot loop on each other.
  bool negotiate(std::uint8_t verb, std::uint8_t option) {
    tn::Bytes reply;
    switch (verb) {
      case tn::DO:
        if (option == tn::OPTION_COM_PORT && comPort_ == ComPort::kOffered) {
          comPort_ = ComPort::kAccepted;
        } else if (supportedOption(option)) {
          if (!sentWill_[option]) tn::appendNegotiation(tn::WILL, option, &reply);
          sentWill_[option] = true;
        } else {
          tn::appendNegotiation(tn::WONT, option, &reply);
        }
        break;
      case tn::DONT:
        // A refusal of an offer, or an end to an option: nothing to answer,
        // and this line sends nothing that needs the option.
        if (option == tn::OPTION_COM_PORT && comPort_ == ComPort::kOffered) {
          comPort_ = ComPort::kRefused;
        }
        sentWill_[option] = false;
        break;
      case tn::WILL:
        // The server acting as a COM port client is not something to use.
        if (option != tn::OPTION_COM_PORT && supportedOption(option)) {
          if (!sentDo_[option]) tn::appendNegotiation(tn::DO, option, &reply);
          sentDo_[option] = true;
        } else {
          tn::appendNegotiation(tn::DONT, option, &reply);
        }
        break;
      case tn::WONT:
        sentDo_[option] = false;
        break;
      default:
        break;
    }
    return reply.empty() || sendAll(reply);
  }

  void confirm(const tn::Bytes& payload) {
    if (!awaiting_ || payload.empty()) return;
    const int command = payload[0] - tn::SERVER_REPLY_OFFSET;
    if (command < tn::SET_BAUDRATE || command > tn::SET_STOPSIZE) return;
    const int index = command - tn::SET_BAUDRATE;
    if (confirmed_[index] != ConfirmState::kWaiting) return;
    const bool same =
        payload.size() - 1 == expected_[index].size() &&
        std::equal(expected_[index].begin(), expected_[index].end(), payload.begin() + 1);
    confirmed_[index] = same ? ConfirmState::kSame : ConfirmState::kDifferent;
  }

  bool confirmationsDone() const {
    for (const ConfirmState state : confirmed_) {
      if (state == ConfirmState::kDifferent) return true;
      if (state == ConfirmState::kWaiting) return false;
    }
    return true;
  }

  std::string name_;
  Rfc2217Timing timing_;
  std::string server_;  // HOST:PORT, for messages
  SocketHandle socket_ = kNoSocket;
  bool started_ = false;  // holds a socketStartup
  unsigned long broken_ = 0;
  unsigned long lastError_ = 0;
  SerialDcb applied_{};
  tn::Parser parser_;
  std::vector<tn::Event> events_;
  ComPort comPort_ = ComPort::kNone;
  bool sentWill_[256] = {};
  bool sentDo_[256] = {};
  bool awaiting_ = false;
  std::uint32_t lastHeardMs_ = 0;  // tick of the latest byte from the server
  bool asked_ = false;             // the RTS-state question awaits its answer
  std::uint32_t askedMs_ = 0;
  tn::Bytes expected_[4];
  ConfirmState confirmed_[4] = {};
};

}  // namespace

bool isRfc2217PortName(const char* portName) {
  return portName != nullptr &&
         std::strncmp(portName, kRfc2217Prefix, std::strlen(kRfc2217Prefix)) == 0;
}

std::unique_ptr<SerialLine> createRfc2217SerialLine(const char* portName,
                                                    const Rfc2217Timing& timing) {
  try {
    return std::unique_ptr<SerialLine>(
        new Rfc2217SerialLine(portName == nullptr ? "" : portName, timing));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace platform

#include "rig/port_server.h"

#include <cstdio>
#include <thread>
#include <utility>

namespace rig {
namespace tn = platform::rfc2217;
namespace {

// How long one select waits, so that stop() is seen promptly.
constexpr int kPollUs = 50000;

// COM-PORT-OPTION commands the rig answers beyond the codec's own.
constexpr std::uint8_t SIGNATURE = 0;
constexpr std::uint8_t FLOWCONTROL_SUSPEND = 8;
constexpr std::uint8_t FLOWCONTROL_RESUME = 9;
constexpr std::uint8_t SET_LINESTATE_MASK = 10;
constexpr std::uint8_t SET_MODEMSTATE_MASK = 11;
constexpr std::uint8_t PURGE_DATA = 12;

// SET-CONTROL values beyond RTS on and off.
constexpr std::uint8_t CONTROL_NO_FLOW = 1;
constexpr std::uint8_t CONTROL_BREAK_ON = 5;
constexpr std::uint8_t CONTROL_BREAK_OFF = 6;
constexpr std::uint8_t CONTROL_ASK_DTR = 7;
constexpr std::uint8_t CONTROL_DTR_ON = 8;
constexpr std::uint8_t CONTROL_DTR_OFF = 9;
constexpr std::uint8_t CONTROL_ASK_RTS = 10;

const char kSignature[] = "skerrow-rig";

bool sendAll(platform::SocketHandle socket, const tn::Bytes& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const int n =
        platform::socketSend(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void reply1(std::uint8_t command, std::uint8_t value, tn::Bytes* out) {
  tn::appendComPortCommand(static_cast<std::uint8_t>(command + tn::SERVER_REPLY_OFFSET), &value, 1,
                           out);
}

}  // namespace

PortServer::PortServer(Handlers handlers) : handlers_(std::move(handlers)) {}

PortServer::~PortServer() { stop(); }

std::string PortServer::portName() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

PortSettings PortServer::settings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

bool PortServer::listenOn(int port, bool report) {
  listener_ = platform::socketOpenTcp();
  if (listener_ == platform::kNoSocket) {
    if (report) std::fprintf(stderr, "skerrow-rig: cannot make a socket for port %d\n", port);
    return false;
  }
  platform::socketAllowQuickRebind(listener_);
  if (!platform::socketBind(listener_, "127.0.0.1", port) || !platform::socketListen(listener_)) {
    if (report) std::fprintf(stderr, "skerrow-rig: cannot listen on 127.0.0.1:%d\n", port);
    platform::socketClose(listener_);
    listener_ = platform::kNoSocket;
    return false;
  }
  platform::socketSetNonBlocking(listener_);
  return true;
}

bool PortServer::start(int port) {
  if (!listenOn(port, true)) return false;
  port_ = platform::socketLocalPort(listener_);
  try {
    thread_ = std::thread(&PortServer::run, this);
  } catch (const std::exception&) {
    std::fprintf(stderr, "skerrow-rig: cannot start the thread of port %d\n", port_);
    platform::socketClose(listener_);
    listener_ = platform::kNoSocket;
    return false;
  }
  return true;
}

void PortServer::unplug(std::chrono::milliseconds away) {
  std::lock_guard<std::mutex> lock(mutex_);
  unplugAsked_ = true;
  awayUntil_ = std::chrono::steady_clock::now() + away;
}

bool PortServer::unplugAsked() {
  std::lock_guard<std::mutex> lock(mutex_);
  return unplugAsked_;
}

void PortServer::stayAway() {
  platform::socketClose(listener_);
  listener_ = platform::kNoSocket;
  if (handlers_.onLine) handlers_.onLine(false);
  while (!stop_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Unplugs that come while away only move the time of return.
      unplugAsked_ = false;
      if (std::chrono::steady_clock::now() >= awayUntil_) break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(kPollUs));
  }
  // The same port again; should another program have taken it meanwhile,
  // it is tried again each poll interval, with one line said.
  for (bool report = true; !stop_ && !listenOn(port_, report); report = false)
    std::this_thread::sleep_for(std::chrono::microseconds(kPollUs));
  if (listener_ != platform::kNoSocket && handlers_.onLine) handlers_.onLine(true);
}

void PortServer::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ != platform::kNoSocket) {
    platform::socketClose(listener_);
    listener_ = platform::kNoSocket;
  }
}

void PortServer::run() {
  while (!stop_) {
    if (unplugAsked()) {
      stayAway();
      continue;
    }
    platform::SocketSet readSet;
    readSet.add(listener_);
    if (platform::socketSelect(&readSet, nullptr, kPollUs) <= 0) continue;
    platform::SocketHandle client = platform::kNoSocket;
    char peer[64] = {};
    if (platform::socketAccept(listener_, &client, peer) != platform::SocketResult::kOk) continue;
    serve(client);
    platform::socketClose(client);
  }
}

void PortServer::serve(platform::SocketHandle client) {
  platform::socketSendAtOnce(client);
  for (bool& agreed : agreedDo_) agreed = false;
  for (bool& agreed : agreedWill_) agreed = false;
  tn::Parser parser;
  std::vector<tn::Event> events;
  std::uint8_t buffer[4096];
  while (!stop_ && !unplugAsked()) {
    platform::SocketSet readSet;
    readSet.add(client);
    // A second client is refused while one is served: a serial port has
    // one user, and a device server does the same.
    readSet.add(listener_);
    if (platform::socketSelect(&readSet, nullptr, kPollUs) <= 0) continue;
    // The client is read to its end before anyone waiting is turned away:
    // one that left just before the next came is then seen gone, and the
    // newcomer is served instead.
    if (readSet.contains(client)) {
      int received = 0;
      const platform::SocketResult result =
          platform::socketReceive(client, buffer, static_cast<int>(sizeof buffer), &received);
      if (result == platform::SocketResult::kClosed || result == platform::SocketResult::kError) {
        return;
      }
      if (result == platform::SocketResult::kOk) {
        events.clear();
        parser.feed(buffer, static_cast<std::size_t>(received), &events);
        tn::Bytes reply;
        for (const tn::Event& event : events) handle(event, &reply);
        if (!reply.empty() && !sendAll(client, reply)) return;
      }
      continue;
    }
    if (readSet.contains(listener_)) {
      platform::SocketHandle other = platform::kNoSocket;
      char peer[64] = {};
      if (platform::socketAccept(listener_, &other, peer) == platform::SocketResult::kOk) {
        platform::socketClose(other);
      }
    }
  }
}

void PortServer::handle(const tn::Event& event, tn::Bytes* reply) {
  switch (event.kind) {
    case tn::Event::Kind::kData:
      if (handlers_.onData && !event.payload.empty()) {
        handlers_.onData(event.payload.data(), event.payload.size());
      }
      return;
    case tn::Event::Kind::kNegotiation:
      handleNegotiation(event.verb, event.option, reply);
      return;
    case tn::Event::Kind::kSubnegotiation:
      if (event.option == tn::OPTION_COM_PORT) handleComPort(event.payload, reply);
      return;
    case tn::Event::Kind::kCommand:
      return;
  }
}

void PortServer::handleNegotiation(std::uint8_t verb, std::uint8_t option, tn::Bytes* reply) {
  const bool supported = option == tn::OPTION_COM_PORT || option == tn::OPTION_TRANSMIT_BINARY ||
                         option == tn::OPTION_SUPPRESS_GO_AHEAD;
  // The client's WILL asks us to let it use the option; DO asks us to use
  // it. COM-PORT-OPTION is only ever used by the client, the other two in
  // both directions.
  if (verb == tn::WILL) {
    if (!supported) {
      tn::appendNegotiation(tn::DONT, option, reply);
    } else if (!agreedDo_[option]) {
      agreedDo_[option] = true;
      tn::appendNegotiation(tn::DO, option, reply);
    }
  } else if (verb == tn::DO) {
    if (!supported || option == tn::OPTION_COM_PORT) {
      tn::appendNegotiation(tn::WONT, option, reply);
    } else if (!agreedWill_[option]) {
      agreedWill_[option] = true;
      tn::appendNegotiation(tn::WILL, option, reply);
    }
  } else if (verb == tn::WONT) {
    if (agreedDo_[option]) {
      agreedDo_[option] = false;
      tn::appendNegotiation(tn::DONT, option, reply);
    }
  } else if (verb == tn::DONT) {
    if (agreedWill_[option]) {
      agreedWill_[option] = false;
      tn::appendNegotiation(tn::WONT, option, reply);
    }
  }
}

void PortServer::handleComPort(const tn::Bytes& payload, tn::Bytes* reply) {
  if (payload.empty()) return;
  const std::uint8_t command = payload[0];
  const std::uint8_t* value = payload.data() + 1;
  const std::size_t size = payload.size() - 1;
  std::unique_lock<std::mutex> lock(mutex_);
  switch (command) {
    case SIGNATURE:
      // Text from the client only announces it; an empty one asks for ours.
      if (size == 0) {
        tn::appendComPortCommand(SIGNATURE + tn::SERVER_REPLY_OFFSET,
                                 reinterpret_cast<const std::uint8_t*>(kSignature),
                                 sizeof kSignature - 1, reply);
      }
      return;
    case tn::SET_BAUDRATE: {
      if (size != 4) return;
      const std::uint32_t rate = (std::uint32_t{value[0]} << 24) | (std::uint32_t{value[1]} << 16) |
                                 (std::uint32_t{value[2]} << 8) | value[3];
      if (rate != 0) settings_.baudRate = rate;
      std::uint8_t applied[4];
      tn::encodeBaudRate(settings_.baudRate, applied);
      tn::appendComPortCommand(tn::SET_BAUDRATE + tn::SERVER_REPLY_OFFSET, applied, 4, reply);
      return;
    }
    case tn::SET_DATASIZE:
      if (size != 1) return;
      if (value[0] >= 5 && value[0] <= 8) settings_.dataSize = value[0];
      reply1(command, settings_.dataSize, reply);
      return;
    case tn::SET_PARITY:
      if (size != 1) return;
      if (value[0] >= tn::PARITY_NONE && value[0] <= tn::PARITY_SPACE) settings_.parity = value[0];
      reply1(command, settings_.parity, reply);
      return;
    case tn::SET_STOPSIZE:
      if (size != 1) return;
      if (value[0] >= tn::STOPSIZE_ONE && value[0] <= tn::STOPSIZE_ONE5) {
        settings_.stopSize = value[0];
      }
      reply1(command, settings_.stopSize, reply);
      return;
    case tn::SET_CONTROL: {
      if (size != 1) return;
      std::uint8_t applied = value[0];
      switch (value[0]) {
        case tn::CONTROL_RTS_ON:
        case tn::CONTROL_RTS_OFF: {
          const bool on = value[0] == tn::CONTROL_RTS_ON;
          settings_.rts = on;
          lock.unlock();
          if (handlers_.onRts) handlers_.onRts(on);
          reply1(command, applied, reply);
          return;
        }
        case CONTROL_ASK_RTS:
          applied = settings_.rts ? tn::CONTROL_RTS_ON : tn::CONTROL_RTS_OFF;
          break;
        case CONTROL_DTR_ON:
        case CONTROL_DTR_OFF:
          settings_.dtr = value[0] == CONTROL_DTR_ON;
          break;
        case CONTROL_ASK_DTR:
          applied = settings_.dtr ? CONTROL_DTR_ON : CONTROL_DTR_OFF;
          break;
        case CONTROL_BREAK_ON:
        case CONTROL_BREAK_OFF:
          break;
        default:
          // No flow control is the only kind a pseudo line has; asking for
          // another gets the one in force, as a refusal.
          applied = CONTROL_NO_FLOW;
          break;
      }
      reply1(command, applied, reply);
      return;
    }
    case SET_LINESTATE_MASK:
    case SET_MODEMSTATE_MASK:
      // The rig sends no notifications, so the mask in force is empty.
      if (size != 1) return;
      reply1(command, 0, reply);
      return;
    case PURGE_DATA:
      if (size != 1) return;
      reply1(command, value[0], reply);
      return;
    case FLOWCONTROL_SUSPEND:
    case FLOWCONTROL_RESUME:
      tn::appendComPortCommand(static_cast<std::uint8_t>(command + tn::SERVER_REPLY_OFFSET),
                               nullptr, 0, reply);
      return;
    default:
      return;
  }
}

}  // namespace rig

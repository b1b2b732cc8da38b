#include "platform/rfc2217/test_port_server.h"

#include <chrono>

namespace testing_support {

namespace tn = platform::rfc2217;

TestPortServer::TestPortServer(const Options& options) : options_(options) {
  platform::socketStartup();
  listener_ = platform::socketOpenTcp();
  if (listener_ == platform::kNoSocket) return;
  if (!platform::socketBind(listener_, "127.0.0.1", 0) || !platform::socketListen(listener_)) {
    return;
  }
  port_ = platform::socketLocalPort(listener_);
  thread_ = std::thread([this] { run(); });
}

TestPortServer::~TestPortServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  platform::socketClose(listener_);
  platform::socketCleanup();
}

std::string TestPortServer::portName() const {
  return "rfc2217://127.0.0.1:" + std::to_string(port_);
}

bool TestPortServer::waitUntil(const std::function<bool(const Record&)>& done) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return done(record_); });
}

TestPortServer::Record TestPortServer::snapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  return record_;
}

bool TestPortServer::closeConnection() {
  closeRequested_ = true;
  return waitUntil([](const Record& r) { return r.serverClosed; });
}

void TestPortServer::run() {
  // Short select waits so that a stop request is seen promptly.
  while (!stop_) {
    platform::SocketSet readable;
    readable.add(listener_);
    if (platform::socketSelect(&readable, nullptr, 20000) <= 0) continue;
    platform::SocketHandle client = platform::kNoSocket;
    char peer[64];
    if (platform::socketAccept(listener_, &client, peer) != platform::SocketResult::kOk) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      record_.connected = true;
    }
    changed_.notify_all();
    serve(client);
    return;  // one client per server
  }
}

void TestPortServer::serve(platform::SocketHandle client) {
  tn::Parser parser;
  std::vector<tn::Event> events;
  while (!stop_) {
    if (closeRequested_) {
      platform::socketClose(client);
      std::lock_guard<std::mutex> lock(mutex_);
      record_.serverClosed = true;
      changed_.notify_all();
      return;
    }
    platform::SocketSet readable;
    readable.add(client);
    if (platform::socketSelect(&readable, nullptr, 20000) <= 0) continue;
    std::uint8_t buffer[256];
    int received = 0;
    const platform::SocketResult result =
        platform::socketReceive(client, buffer, sizeof buffer, &received);
    if (result != platform::SocketResult::kOk) {
      platform::socketClose(client);
      std::lock_guard<std::mutex> lock(mutex_);
      record_.clientLeft = true;
      changed_.notify_all();
      return;
    }
    events.clear();
    parser.feed(buffer, static_cast<std::size_t>(received), &events);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      record_.raw.insert(record_.raw.end(), buffer, buffer + received);
    }
    for (const tn::Event& event : events) handle(client, event);
    changed_.notify_all();
  }
  platform::socketClose(client);
}

void TestPortServer::handle(platform::SocketHandle client, const tn::Event& event) {
  std::unique_lock<std::mutex> lock(mutex_);
  switch (event.kind) {
    case tn::Event::Kind::kData:
      record_.data.insert(record_.data.end(), event.payload.begin(), event.payload.end());
      return;
    case tn::Event::Kind::kCommand:
      return;
    case tn::Event::Kind::kNegotiation: {
      record_.negotiations.emplace_back(event.verb, event.option);
      lock.unlock();
      if (event.verb != tn::WILL || event.option != tn::OPTION_COM_PORT) return;
      tn::Bytes answer;
      if (options_.negotiation == Negotiation::kSilent) return;
      tn::appendNegotiation(options_.negotiation == Negotiation::kAccept ? tn::DO : tn::DONT,
                            tn::OPTION_COM_PORT, &answer);
      if (options_.negotiation == Negotiation::kAccept && options_.chatter) {
        tn::appendNegotiation(tn::DO, 24, &answer);   // terminal type
        tn::appendNegotiation(tn::WILL, 1, &answer);  // echo
        answer.push_back(tn::IAC);
        answer.push_back(241);  // NOP
        const std::uint8_t modemState = 0x30;
        tn::appendComPortCommand(7 + tn::SERVER_REPLY_OFFSET, &modemState, 1, &answer);
        const std::uint8_t data[] = {'h', 'i', 0xFF, 0};
        tn::appendData(data, sizeof data, &answer);
      }
      if (options_.negotiation == Negotiation::kAccept && options_.floodBytes > 0) {
        tn::Bytes input(options_.floodBytes);
        for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<std::uint8_t>(i);
        tn::appendData(input.data(), input.size(), &answer);
      }
      reply(client, answer);
      return;
    }
    case tn::Event::Kind::kSubnegotiation: {
      if (event.option != tn::OPTION_COM_PORT || event.payload.empty()) return;
      record_.commands.push_back(event.payload);
      const std::uint8_t command = event.payload[0];
      if (command == tn::SET_CONTROL && event.payload.size() == 2) {
        record_.controls.push_back(event.payload[1]);
      }
      lock.unlock();
      tn::Bytes value(event.payload.begin() + 1, event.payload.end());
      if (command >= tn::SET_BAUDRATE && command <= tn::SET_STOPSIZE) {
        if (options_.confirmation == Confirmation::kNone) return;
        if (options_.confirmation == Confirmation::kRefuseBaud && command == tn::SET_BAUDRATE) {
          value.assign(4, 0);
          tn::encodeBaudRate(9600, value.data());
        }
      }
      tn::Bytes answer;
      tn::appendComPortCommand(static_cast<std::uint8_t>(command + tn::SERVER_REPLY_OFFSET),
                               value.data(), value.size(), &answer);
      reply(client, answer);
      return;
    }
  }
}

void TestPortServer::reply(platform::SocketHandle client, const tn::Bytes& bytes) {
  if (silent_) return;
  if (options_.confirmation == Confirmation::kEchoSplit) {
    // One byte per send, so the client sees the reply in pieces.
    for (const std::uint8_t byte : bytes) platform::socketSend(client, &byte, 1);
    return;
  }
  // Blocking sends may take only part; the rest follows.
  std::size_t done = 0;
  while (done < bytes.size()) {
    const int sent =
        platform::socketSend(client, bytes.data() + done, static_cast<int>(bytes.size() - done));
    if (sent <= 0) return;
    done += static_cast<std::size_t>(sent);
  }
}

}  // namespace testing_support

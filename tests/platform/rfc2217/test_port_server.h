// A small remote serial port server for tests, on loopback, on a thread of
// its own: it answers the COM port option offer as told, confirms settings
// as told, and records everything the client sent.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/rfc2217_codec.h"
#include "platform/socket.h"

namespace testing_support {

class TestPortServer {
 public:
  enum class Negotiation { kAccept, kRefuse, kSilent };
  enum class Confirmation {
    kEcho,        // confirms every setting with the value asked for
    kEchoSplit,   // the same, sent one byte per send
    kRefuseBaud,  // confirms the rate as 9600 whatever was asked
    kNone,        // never confirms a setting
  };
  struct Options {
    Negotiation negotiation = Negotiation::kAccept;
    Confirmation confirmation = Confirmation::kEcho;
    // After accepting, also requests options the client does not support,
    // and sends data, a notification and a bare command it must skip.
    bool chatter = false;
    // After accepting, sends this many bytes of port input (every 0xFF
    // doubled), as a port whose device keeps talking would.
    std::size_t floodBytes = 0;
  };

  // What the client sent, in order of arrival.
  struct Record {
    platform::rfc2217::Bytes raw;                                     // every byte as it came
    platform::rfc2217::Bytes data;                                    // data bytes, unescaped
    std::vector<std::pair<std::uint8_t, std::uint8_t>> negotiations;  // verb, option
    std::vector<platform::rfc2217::Bytes> commands;                   // COM-PORT payloads
    std::vector<std::uint8_t> controls;                               // SET-CONTROL values
    bool connected = false;
    bool clientLeft = false;
    bool serverClosed = false;
  };

  explicit TestPortServer(const Options& options);
  ~TestPortServer();
  TestPortServer(const TestPortServer&) = delete;
  TestPortServer& operator=(const TestPortServer&) = delete;

  bool listening() const { return port_ > 0; }
  std::string portName() const;

  // Waits (with a generous deadline) until done holds for the record; false
  // when the deadline passed.
  bool waitUntil(const std::function<bool(const Record&)>& done);
  Record snapshot();

  // Closes the client's connection and waits until it is closed.
  bool closeConnection();

  // From now on reads and records what the client sends but answers
  // nothing, as a server that vanished without closing the connection.
  void fallSilent() { silent_ = true; }

 private:
  void run();
  void serve(platform::SocketHandle client);
  void handle(platform::SocketHandle client, const platform::rfc2217::Event& event);
  void reply(platform::SocketHandle client, const platform::rfc2217::Bytes& bytes);

  Options options_;
  platform::SocketHandle listener_ = platform::kNoSocket;
  int port_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<bool> closeRequested_{false};
  std::atomic<bool> silent_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  Record record_;
  std::thread thread_;
};

}  // namespace testing_support

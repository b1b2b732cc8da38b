// The server side of a remote serial port (RFC 2217, COM-PORT-OPTION) on a
// loopback TCP port, on a thread of its own: it serves one client at a time,
// confirms settings with the command code plus 100 and the value applied,
// declines every other Telnet option, and hands data bytes and RTS changes
// to its owner.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/rfc2217_codec.h"
#include "platform/socket.h"

namespace rig {

// The line settings a client applied, as the protocol carries them.
struct PortSettings {
  std::uint32_t baudRate = 9600;
  std::uint8_t dataSize = 8;
  std::uint8_t parity = platform::rfc2217::PARITY_NONE;
  std::uint8_t stopSize = platform::rfc2217::STOPSIZE_ONE;
  bool rts = false;
  bool dtr = false;
};

class PortServer {
 public:
  struct Handlers {
    // Data bytes from the client, unescaped. Called on the server thread.
    std::function<void(const std::uint8_t* data, std::size_t size)> onData;
    // Every SET-CONTROL RTS ON (true) or OFF (false). Server thread.
    std::function<void(bool on)> onRts;
    // The port went away (false) after unplug(), or is served again (true).
    // Server thread.
    std::function<void(bool up)> onLine;
  };

  explicit PortServer(Handlers handlers);
  ~PortServer();  // stops the thread and closes every socket
  PortServer(const PortServer&) = delete;
  PortServer& operator=(const PortServer&) = delete;

  // Listens on 127.0.0.1:port (0: a free port) and starts the thread. False,
  // with one line on standard error, when the port cannot be had.
  bool start(int port);
  // Ends the thread within one poll interval and closes the sockets.
  void stop();
  // Unplugs the port as a pulled cable does: the client's connection and the
  // listening socket are closed within one poll interval, and the same port
  // is served again once away has passed. An unplug while the port is away
  // restarts its time away.
  void unplug(std::chrono::milliseconds away);

  int port() const { return port_; }
  // "rfc2217://127.0.0.1:PORT".
  std::string portName() const;
  PortSettings settings() const;

 private:
  void run();
  // Listens on 127.0.0.1:port; on failure, says so only when report.
  bool listenOn(int port, bool report);
  // Closes the port until the time away has passed, then listens again.
  bool unplugAsked();
  void stayAway();
  void serve(platform::SocketHandle client);
  // Returns the bytes to send back for one unit of the client's stream.
  void handle(const platform::rfc2217::Event& event, platform::rfc2217::Bytes* reply);
  void handleNegotiation(std::uint8_t verb, std::uint8_t option, platform::rfc2217::Bytes* reply);
  void handleComPort(const platform::rfc2217::Bytes& payload, platform::rfc2217::Bytes* reply);

  Handlers handlers_;
  platform::SocketHandle listener_ = platform::kNoSocket;
  int port_ = -1;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;  // guards settings_ and the unplug state
  PortSettings settings_;
  bool unplugAsked_ = false;
  std::chrono::steady_clock::time_point awayUntil_;
  // Options already agreed with the current client, so that a repeated
  // request is not answered again (Telnet's rule against negotiation loops).
  bool agreedDo_[256] = {};
  bool agreedWill_[256] = {};
  std::thread thread_;
};

}  // namespace rig

// A listener on a loopback port with AcceptConnections on its own thread,
// and a blocking test client.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "channel/message_queue.h"
#include "platform/socket.h"
#include "support/core_fixture.h"

class ListenerTest : public CoreTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens the listener on 127.0.0.1 and a free port, and runs the loop.
  void startServer();
  // Clears the run flag, joins the loop and closes every server socket.
  void stopServer();

  // A connected client socket.
  platform::SocketHandle connectClient();
  bool sendAll(platform::SocketHandle socket, const std::vector<unsigned char>& bytes);
  // Receives exactly count bytes, waiting up to a generous deadline.
  std::vector<unsigned char> receive(platform::SocketHandle socket, std::size_t count);
  void queueReply(SessionId session, const std::vector<unsigned char>& bytes);
  std::size_t receivedWaiting();
  // Waits (generously) for a queued request and takes it: its bytes in
  // *bytes, its session as the result (kNoSession when none came).
  SessionId takeRequest(std::vector<unsigned char>* bytes);
  // Waits (generously) until the server log holds count copies of entry.
  bool waitForEntry(const std::string& entry, int count = 1);
  bool waitUntil(const std::function<bool()>& condition);

  int port_ = 0;
  std::thread loop_;
  std::vector<platform::SocketHandle> clients_;
};

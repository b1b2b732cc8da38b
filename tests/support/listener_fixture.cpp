#include "support/listener_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "channel/listener.h"
#include "channel/message_queue.h"
#include "core/server_state.h"
#include "platform/clock.h"

namespace {
constexpr auto kDeadline = std::chrono::seconds(20);
}

void ListenerTest::SetUp() {
  CoreTest::SetUp();
  messageQueue = new MessageQueue();
  std::strcpy(serverSettings.bindAddress, "127.0.0.1");
  serverSettings.serverPort = 0;
}

void ListenerTest::TearDown() {
  stopServer();
  for (platform::SocketHandle client : clients_) platform::socketClose(client);
  clients_.clear();
  delete messageQueue;
  messageQueue = nullptr;
  CoreTest::TearDown();
}

void ListenerTest::startServer() {
  ASSERT_TRUE(SocketInitialize()) << logText();
  port_ = platform::socketLocalPort(listenSocket);
  ASSERT_GT(port_, 0);
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    serverStatus.running = true;
  }
  loop_ = std::thread(AcceptConnections);
}

void ListenerTest::stopServer() {
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    serverStatus.running = false;
  }
  if (loop_.joinable()) loop_.join();
  for (const ClientSession& client : clientTable) platform::socketClose(client.socket);
  clientTable.clear();
  closeListener();
}

platform::SocketHandle ListenerTest::connectClient() {
  platform::SocketHandle client = platform::socketOpenTcp();
  EXPECT_NE(platform::kNoSocket, client);
  EXPECT_TRUE(platform::socketConnect(client, "127.0.0.1", port_));
  clients_.push_back(client);
  return client;
}

bool ListenerTest::sendAll(platform::SocketHandle socket, const std::vector<unsigned char>& bytes) {
  return platform::socketSend(socket, bytes.data(), static_cast<int>(bytes.size())) ==
         static_cast<int>(bytes.size());
}

std::vector<unsigned char> ListenerTest::receive(platform::SocketHandle socket, std::size_t count) {
  std::vector<unsigned char> got;
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
    platform::SocketSet readable;
    readable.add(socket);
    if (platform::socketSelect(&readable, nullptr, 100000) <= 0) continue;
    unsigned char chunk[2048];
    int received = 0;
    const int want = static_cast<int>(std::min<std::size_t>(sizeof chunk, count - got.size()));
    if (platform::socketReceive(socket, chunk, want, &received) != platform::SocketResult::kOk) {
      break;
    }
    got.insert(got.end(), chunk, chunk + received);
  }
  return got;
}

void ListenerTest::queueReply(SessionId session, const std::vector<unsigned char>& bytes) {
  platform::MutexHold hold(messageMutex, kMutexTimeoutMs);
  ASSERT_TRUE(hold.obtained());
  ASSERT_TRUE(
      messageQueue->pushReply(session, bytes.data(), static_cast<std::uint32_t>(bytes.size())));
}

SessionId ListenerTest::takeRequest(std::vector<unsigned char>* bytes) {
  SessionId session = kNoSession;
  waitUntil([&] {
    unsigned char out[kMaxMessage];
    std::uint32_t count = 0;
    platform::MutexHold hold(messageMutex, kMutexTimeoutMs);
    if (!hold.obtained() || !messageQueue->popReceived(out, &count, &session)) return false;
    bytes->assign(out, out + count);
    return true;
  });
  return session;
}

std::size_t ListenerTest::receivedWaiting() {
  platform::MutexHold hold(messageMutex, kMutexTimeoutMs);
  return hold.obtained() ? messageQueue->receivedCount() : 0;
}

bool ListenerTest::waitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::sleepMs(2);
  }
  return true;
}

bool ListenerTest::waitForEntry(const std::string& entry, int count) {
  return waitUntil([&] {
    const std::vector<std::string> entries = logEntries();
    return std::count(entries.begin(), entries.end(), entry) >= count;
  });
}

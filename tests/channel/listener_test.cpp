#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "channel/listener.h"
#include "support/listener_fixture.h"
#include "channel/message_queue.h"
#include "core/server_state.h"

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes kIntervalGet = {0x01, 0x18, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kIntervalReply = {0x01, 0x18, 0, 0, 6, 0, 0, 0, 0, 4, 0, 0, 0, 0xE8, 0x03, 0, 0};
const char* const kConnected = "AcceptConnections(): Client connected from: 127.0.0.1";

Bytes intervalReply(std::uint8_t low) {
  Bytes reply = kIntervalReply;
  reply[13] = low;
  return reply;
}

TEST_F(ListenerTest, StartUpLogsEachStep) {
  startServer();
  stopServer();
  const std::vector<std::string> expected = {
      "SocketInitialize(): WSAStartup() successful.", "SocketInitialize(): socket() successful.",
      "SocketInitialize(): bind() successful.", "SocketInitialize(): listen() successful."};
  EXPECT_EQ(expected, logEntries());
}

TEST_F(ListenerTest, ReceivedChunkBecomesOneQueuedMessage) {
  startServer();
  const platform::SocketHandle client = connectClient();
  ASSERT_TRUE(sendAll(client, kIntervalGet));
  ASSERT_TRUE(waitUntil([&] { return receivedWaiting() == 1; }));
  stopServer();
  unsigned char out[kMaxMessage];
  std::uint32_t count = 0;
  ASSERT_TRUE(messageQueue->popReceived(out, &count));
  EXPECT_EQ(kIntervalGet, Bytes(out, out + count));
}

TEST_F(ListenerTest, QueuedReplyReachesTheClient) {
  startServer();
  const platform::SocketHandle client = connectClient();
  ASSERT_TRUE(waitForEntry(kConnected));
  queueReply(kIntervalReply);
  EXPECT_EQ(kIntervalReply, receive(client, kIntervalReply.size()));
}

TEST_F(ListenerTest, ClientThatClosesIsShutDownWithTwoLines) {
  startServer();
  const platform::SocketHandle client = connectClient();
  ASSERT_TRUE(waitForEntry(kConnected));
  platform::socketClose(client);
  clients_.clear();
  ASSERT_TRUE(waitForEntry("AcceptConnections(): Shutting down client"));
  stopServer();
  const std::vector<std::string> entries = logEntries();
  const auto closed = std::find(entries.begin(), entries.end(),
                                "ReadSocketData(): Socket was closed by the client.");
  ASSERT_NE(entries.end(), closed);
  ASSERT_NE(entries.end(), closed + 1);
  EXPECT_EQ("AcceptConnections(): Shutting down client", *(closed + 1));
  EXPECT_TRUE(clientTable.empty());
}

TEST_F(ListenerTest, WithTwoClientsEachReplyReachesExactlyOne) {
  startServer();
  const platform::SocketHandle first = connectClient();
  ASSERT_TRUE(waitForEntry(kConnected, 1));
  const platform::SocketHandle second = connectClient();
  ASSERT_TRUE(waitForEntry(kConnected, 2));
  // Replies carry no client identity: whichever client's send step comes
  // first in a turn takes the oldest reply, so either may get it, never both.
  for (std::uint8_t n = 1; n <= 4; ++n) queueReply(intervalReply(n));
  Bytes all;
  while (all.size() < 4 * kIntervalReply.size()) {
    platform::SocketSet readable;
    readable.add(first);
    readable.add(second);
    ASSERT_TRUE(waitUntil([&] {
      platform::SocketSet ready = readable;
      return platform::socketSelect(&ready, nullptr, 1000) > 0;
    }));
    platform::SocketSet ready = readable;
    platform::socketSelect(&ready, nullptr, 1000);
    const Bytes got = receive(ready.at(0), kIntervalReply.size());
    ASSERT_EQ(kIntervalReply.size(), got.size());
    all.insert(all.end(), got.begin(), got.end());
  }
  std::vector<Bytes> replies;
  for (std::size_t i = 0; i < all.size(); i += kIntervalReply.size()) {
    replies.emplace_back(all.begin() + i, all.begin() + i + kIntervalReply.size());
  }
  std::sort(replies.begin(), replies.end());
  std::vector<Bytes> wanted = {intervalReply(1), intervalReply(2), intervalReply(3),
                               intervalReply(4)};
  EXPECT_EQ(wanted, replies);
  // With the first gone, the second alone takes every reply.
  platform::socketClose(first);
  clients_.erase(clients_.begin());
  ASSERT_TRUE(waitForEntry("AcceptConnections(): Shutting down client"));
  queueReply(intervalReply(5));
  EXPECT_EQ(intervalReply(5), receive(second, kIntervalReply.size()));
}

TEST_F(ListenerTest, SecondServerOnTheSamePortFailsAtBind) {
  ASSERT_TRUE(SocketInitialize());
  const platform::SocketHandle first = listenSocket;
  serverSettings.serverPort = platform::socketLocalPort(first);
  listenSocket = platform::kNoSocket;
  EXPECT_FALSE(SocketInitialize());
  EXPECT_EQ(platform::kNoSocket, listenSocket);
  const std::vector<std::string> entries = logEntries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ("SocketInitialize(): Error occurred while binding.", entries.back());
  listenSocket = first;
}

TEST_F(ListenerTest, AddressThatIsNotDottedIPv4FailsAtBind) {
  std::strcpy(serverSettings.bindAddress, "localhost");
  EXPECT_FALSE(SocketInitialize());
  const std::vector<std::string> entries = logEntries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ("SocketInitialize(): Error occurred while binding.", entries.back());
}

TEST(SocketSetsTest, AtMostSixtyFourSocketsAreWatchedInTableOrder) {
  std::vector<ClientSession> saved;
  saved.swap(clientTable);
  const platform::SocketHandle savedListener = listenSocket;
  listenSocket = 7;
  for (int i = 0; i < 70; ++i) {
    ClientSession client{};
    client.socket = 100 + i;
    clientTable.push_back(client);
  }
  clientTable.push_back(clientTable.front());  // the same socket twice is added once
  platform::SocketSet readSet;
  platform::SocketSet exceptSet;
  buildSocketSets(&readSet, &exceptSet);
  EXPECT_EQ(64, readSet.size());
  EXPECT_EQ(64, exceptSet.size());
  EXPECT_TRUE(readSet.contains(7));
  for (int i = 0; i < 63; ++i) EXPECT_TRUE(readSet.contains(100 + i)) << i;
  EXPECT_FALSE(readSet.contains(163));
  clientTable.swap(saved);
  listenSocket = savedListener;
}

}  // namespace

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

// Every request is queued with its client's session, and every reply goes
// to the session it names, whatever the order of the clients or the
// replies; the reply of a client that has gone is dropped with a line.
TEST_F(ListenerTest, EachReplyReachesTheClientThatAsked) {
  startServer();
  const platform::SocketHandle first = connectClient();
  const platform::SocketHandle second = connectClient();
  ASSERT_TRUE(sendAll(second, kIntervalGet));
  Bytes got;
  const SessionId secondSession = takeRequest(&got);
  EXPECT_EQ(kIntervalGet, got);
  ASSERT_TRUE(sendAll(first, kIntervalGet));
  const SessionId firstSession = takeRequest(&got);
  ASSERT_NE(kNoSession, firstSession);
  ASSERT_NE(kNoSession, secondSession);
  ASSERT_NE(firstSession, secondSession);

  // Queued in the other order than the requests came.
  queueReply(secondSession, intervalReply(2));
  queueReply(firstSession, intervalReply(1));
  EXPECT_EQ(intervalReply(1), receive(first, kIntervalReply.size()));
  EXPECT_EQ(intervalReply(2), receive(second, kIntervalReply.size()));

  platform::socketClose(second);
  clients_.pop_back();
  ASSERT_TRUE(waitForEntry("AcceptConnections(): Shutting down client"));
  queueReply(secondSession, intervalReply(3));
  queueReply(firstSession, intervalReply(4));
  EXPECT_EQ(intervalReply(4), receive(first, kIntervalReply.size()));
  const std::string dropped = "AcceptConnections(): Reply for session " +
                              std::to_string(secondSession) + " dropped, its client has gone.";
  EXPECT_TRUE(waitForEntry(dropped)) << logText();
}

TEST_F(ListenerTest, PartialRequestIsQueuedAsItStandsWhenItsRestDoesNotCome) {
  startServer();
  const platform::SocketHandle client = connectClient();
  const Bytes header = {0x01, 0x18, 0, 1, 6, 0, 0, 0, 0, 4, 0, 0, 0};
  ASSERT_TRUE(sendAll(client, header));
  Bytes got;
  EXPECT_NE(kNoSession, takeRequest(&got));
  EXPECT_EQ(header, got);
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

// A client the loop cannot watch would wait for ever: it is closed at once.
TEST_F(ListenerTest, ClientBeyondTheWatchedOnesIsClosedAtOnce) {
  startServer();
  for (std::size_t i = 0; i < kMaxClients; ++i) connectClient();
  ASSERT_TRUE(waitForEntry(kConnected, static_cast<int>(kMaxClients)));
  const platform::SocketHandle extra = connectClient();
  ASSERT_TRUE(waitForEntry(
      "AcceptConnections(): ERROR Too many clients, connection from 127.0.0.1 closed."));
  unsigned char byte = 0;
  int received = 0;
  platform::SocketResult result = platform::SocketResult::kWouldBlock;
  ASSERT_TRUE(waitUntil([&] {
    platform::SocketSet readable;
    readable.add(extra);
    if (platform::socketSelect(&readable, nullptr, 1000) <= 0) return false;
    result = platform::socketReceive(extra, &byte, 1, &received);
    return true;
  }));
  EXPECT_EQ(platform::SocketResult::kClosed, result);
  // The watched ones are still served.
  ASSERT_TRUE(sendAll(clients_.front(), kIntervalGet));
  Bytes got;
  EXPECT_NE(kNoSession, takeRequest(&got));
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
  // A resting listener is not watched, so a failing accept cannot spin.
  buildSocketSets(&readSet, &exceptSet, false);
  EXPECT_FALSE(readSet.contains(7));
  EXPECT_FALSE(exceptSet.contains(7));
  EXPECT_TRUE(readSet.contains(163));
  clientTable.swap(saved);
  listenSocket = savedListener;
}

}  // namespace

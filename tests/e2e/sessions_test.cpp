// Several clients on one running server: every reply reaches the client
// that asked, requests are cut and joined as TCP delivers them, and running
// out of descriptors does not stop the server from serving.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/ctl_run.h"
#include "e2e/process.h"
#include "e2e/rig_folder.h"
#include "e2e/server_log.h"
#include "platform/socket.h"
#include "support/temp_dir.h"

namespace e2e {
namespace {

using Bytes = std::vector<unsigned char>;
using testing_support::TempDir;

Bytes header(std::uint8_t action, std::uint8_t type, std::uint8_t length) {
  return {0x01, 0x18, 0, action, type, 0, 0, 0, 0, length, 0, 0, 0};
}

Bytes withValue(Bytes bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
  return bytes;
}

Bytes intervalSet(std::uint32_t value) { return withValue(header(1, 6, 4), value); }
Bytes intervalReply(std::uint32_t value) { return withValue(header(0, 6, 4), value); }
const Bytes kImagesGet = header(0, 9, 0);

// A blocking test client on loopback.
class Client {
 public:
  explicit Client(int port) : socket_(platform::socketOpenTcp()) {
    connected_ =
        socket_ != platform::kNoSocket && platform::socketConnect(socket_, "127.0.0.1", port);
    if (connected_) platform::socketSendAtOnce(socket_);
  }
  ~Client() { close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return connected_; }
  void close() {
    platform::socketClose(socket_);
    socket_ = platform::kNoSocket;
  }
  bool send(const Bytes& bytes) {
    return platform::socketSend(socket_, bytes.data(), static_cast<int>(bytes.size())) ==
           static_cast<int>(bytes.size());
  }
  // Exactly count bytes, or fewer when the deadline passes or the server
  // closes the connection.
  Bytes receive(std::size_t count) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      platform::SocketSet readable;
      readable.add(socket_);
      if (platform::socketSelect(&readable, nullptr, 100000) <= 0) continue;
      unsigned char chunk[2048];
      int received = 0;
      const int want = static_cast<int>(std::min(sizeof chunk, count - got.size()));
      if (platform::socketReceive(socket_, chunk, want, &received) != platform::SocketResult::kOk)
        break;
      got.insert(got.end(), chunk, chunk + received);
    }
    return got;
  }

 private:
  platform::SocketHandle socket_;
  bool connected_ = false;
};

class e2eSessions : public testing::Test {
 protected:
  // Starts the server, through /bin/sh with the given descriptor limit when
  // fileLimit is not 0, and waits until it runs.
  void start(int fileLimit = 0) {
    ASSERT_TRUE(rig_.ok()) << rig_.error();
    port_ = freePort();
    ASSERT_GT(port_, 0);
    dir_.write("Skerrow.ini",
               rig_.iniSections() + "[server]\nport=" + std::to_string(port_) + "\n");
    if (fileLimit == 0) {
      server_ = std::make_unique<ServerProcess>(
          dir_.path(), std::vector<std::string>{"Skerrow.ini"}, rig_.environment());
    } else {
      const std::string script =
          "ulimit -n " + std::to_string(fileLimit) + " && exec \"$0\" Skerrow.ini";
      server_ = std::make_unique<ServerProcess>("/bin/sh", dir_.path(),
                                                std::vector<std::string>{"-c", script, SKERROW_BIN},
                                                rig_.environment());
    }
    ASSERT_TRUE(server_->started()) << server_->startError();
    ASSERT_TRUE(server_->out().waitUntil(holdsRunningServer)) << server_->out().text();
  }

  TempDir dir_;
  RigFolder rig_{dir_};
  int port_ = 0;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(e2eSessions, InterleavedClientsEachGetTheirOwnReplies) {
  ASSERT_NO_FATAL_FAILURE(start());
  Client first(port_);
  Client second(port_);
  ASSERT_TRUE(first.connected() && second.connected());
  int misrouted = 0;
  for (std::uint32_t i = 0; i < 500; ++i) {
    // Each client asks first in turn, so that a reply handed to whichever
    // client comes first would go astray.
    Client& asksFirst = i % 2 == 0 ? first : second;
    Client& asksSecond = i % 2 == 0 ? second : first;
    ASSERT_TRUE(asksFirst.send(intervalSet((i % 2 == 0 ? 100000 : 200000) + i)));
    ASSERT_TRUE(asksSecond.send(intervalSet((i % 2 == 0 ? 200000 : 100000) + i)));
    misrouted += second.receive(17) != intervalReply(200000 + i);
    misrouted += first.receive(17) != intervalReply(100000 + i);
    ASSERT_LT(misrouted, 10) << "at request " << i;
  }
  EXPECT_EQ(0, misrouted);
}

// A client that asks and leaves at once must not leave its reply to the
// next client. Disconnecting the camera holds the camera thread for 50 ms,
// so the client is surely gone before its replies are ready.
TEST_F(e2eSessions, ReplyOfAClientThatLeftIsDroppedNotPassedOn) {
  ASSERT_NO_FATAL_FAILURE(start());
  {
    Client leaving(port_);
    ASSERT_TRUE(leaving.connected());
    Bytes both = withValue(header(1, 2, 4), 0);
    const Bytes set = intervalSet(4321);
    both.insert(both.end(), set.begin(), set.end());
    ASSERT_TRUE(leaving.send(both));
  }
  Client next(port_);
  ASSERT_TRUE(next.connected());
  ASSERT_TRUE(next.send(kImagesGet));
  EXPECT_EQ(withValue(header(0, 9, 4), 0), next.receive(17));
  EXPECT_TRUE(server_->out().waitFor(" dropped, its client has gone.\n")) << server_->out().text();
  EXPECT_TRUE(server_->out().waitFor("] processCommandMessage(): Interval set to 4321.\n"))
      << "a request is still run when its client has gone";
}

TEST_F(e2eSessions, RequestsAreCutAndJoinedAsTheyArrive) {
  ASSERT_NO_FATAL_FAILURE(start());
  Client client(port_);
  ASSERT_TRUE(client.connected());

  // Two requests in one write: two replies, in order.
  Bytes two = intervalSet(1500);
  two.insert(two.end(), kImagesGet.begin(), kImagesGet.end());
  ASSERT_TRUE(client.send(two));
  Bytes expected = intervalReply(1500);
  const Bytes images = withValue(header(0, 9, 4), 0);
  expected.insert(expected.end(), images.begin(), images.end());
  EXPECT_EQ(expected, client.receive(34));

  // A set request split 13 + 4: one reply with the new value.
  const Bytes split = intervalSet(1600);
  ASSERT_TRUE(client.send(Bytes(split.begin(), split.begin() + 13)));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // two receives
  ASSERT_TRUE(client.send(Bytes(split.begin() + 13, split.end())));
  EXPECT_EQ(intervalReply(1600), client.receive(17));

  // 17 bytes with length field 0: the argument behind the header applies.
  ASSERT_TRUE(client.send(withValue(header(1, 6, 0), 1700)));
  EXPECT_EQ(intervalReply(1700), client.receive(17));

  // A receive of garbage is refused and the session goes on.
  ASSERT_TRUE(client.send({0x18, 0x01, 0x00}));
  ASSERT_TRUE(
      server_->out().waitFor("] processCommandMessage(): ERROR, Malformed message received.\n"));
  ASSERT_TRUE(client.send(kImagesGet));
  EXPECT_EQ(images, client.receive(17));
}

// With few descriptors the server cannot accept every connection: it goes
// on serving those it has, says so in a line or two, and takes new clients
// again once descriptors are free.
TEST_F(e2eSessions, RunningOutOfDescriptorsDoesNotStopTheServer) {
  ASSERT_NO_FATAL_FAILURE(start(32));
  const std::size_t linesBefore = splitLines(server_->out().text()).size();
  std::vector<std::unique_ptr<Client>> idle;
  // One request served before the descriptors run out. Besides, the
  // sanitizer builds check an object's type the first time they meet it
  // with a probe that needs descriptors of its own.
  idle.push_back(std::make_unique<Client>(port_));
  ASSERT_TRUE(idle.back()->connected());
  ASSERT_TRUE(idle.back()->send(kImagesGet));
  ASSERT_EQ(withValue(header(0, 9, 4), 0), idle.back()->receive(17));
  for (int i = 1; i < 40; ++i) {
    idle.push_back(std::make_unique<Client>(port_));
    ASSERT_TRUE(idle.back()->connected()) << i;
  }
  ASSERT_TRUE(
      server_->out().waitFor("AcceptConnections(): Error occurred while accepting socket: "))
      << server_->out().text();
  // The first client was accepted before the descriptors ran out.
  ASSERT_TRUE(idle.front()->send(kImagesGet));
  EXPECT_EQ(withValue(header(0, 9, 4), 0), idle.front()->receive(17))
      << server_->out().text() << server_->err().text();

  idle.clear();
  Client late(port_);
  ASSERT_TRUE(late.connected());
  ASSERT_TRUE(late.send(kImagesGet));
  EXPECT_EQ(withValue(header(0, 9, 4), 0), late.receive(17));
  // Per connection a connected, a closed and a shut-down line, and the
  // accept error a few times at most.
  const std::string text = server_->out().text();
  const std::size_t grown = splitLines(text).size() - linesBefore;
  EXPECT_LT(grown, 41u * 3u + 20u) << text;
  std::size_t acceptLines = 0;
  for (const std::string& line : splitLines(text))
    acceptLines += line.find("Error occurred while accepting socket") != std::string::npos;
  EXPECT_LE(acceptLines, 3u) << text;
}

}  // namespace
}  // namespace e2e

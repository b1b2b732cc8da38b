// The remote line's connect gives up in time when the server never answers
// the connection: a listener whose accept queue is full drops every further
// handshake, as a host that is switched off does.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "platform/rfc2217_line.h"

namespace {

TEST(Rfc2217Connect, GivesUpWhenTheHandshakeNeverCompletes) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, listen(listener, 0));
  socklen_t length = sizeof address;
  ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
  // One connection fills the queue; it is never accepted.
  const int filler = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(0, connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address));

  platform::Rfc2217Timing timing;
  timing.connectMs = 300;
  const std::string name = "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  std::unique_ptr<platform::SerialLine> line =
      platform::createRfc2217SerialLine(name.c_str(), timing);
  testing::internal::CaptureStderr();
  auto opened = std::async(std::launch::async, [&] { return line->open(); });
  const bool ended = opened.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  const std::string printed = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(ended) << "the connect did not give up";
  EXPECT_FALSE(opened.get());
  EXPECT_EQ(static_cast<unsigned long>(ETIMEDOUT), line->lastError());
  EXPECT_NE(std::string::npos, printed.find("Cannot connect to 127.0.0.1:")) << printed;
  close(filler);
  close(listener);
}

}  // namespace

// The remote line's connect gives up in time when the server never answers
// the connection: a listener whose accept queue is full drops every further
// handshake, as a host that is switched off does.
#include <errno.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "platform/rfc2217_line.h"
#include "support/loopback_listener.h"

namespace {

TEST(Rfc2217Connect, GivesUpWhenTheHandshakeNeverCompletes) {
  // One connection fills the queue; it is never accepted.
  const testing_support::LoopbackListener listener(true);
  ASSERT_NE(0, listener.port());

  platform::Rfc2217Timing timing;
  timing.connectMs = 300;
  const std::string name = "rfc2217://127.0.0.1:" + std::to_string(listener.port());
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
}

}  // namespace

// Cases that hold only for the POSIX socket layer.
#include <gtest/gtest.h>

#include "channel/listener.h"
#include "support/listener_fixture.h"
#include "core/server_state.h"

namespace {

const char* const kConnected = "AcceptConnections(): Client connected from: 127.0.0.1";

// The server side closes first, so its end of the connection sits in
// TIME_WAIT; without the quick-rebind option the port stays taken for a
// minute.
TEST_F(ListenerTest, RestartRightAfterARunWithAClientBinds) {
  startServer();
  connectClient();
  ASSERT_TRUE(waitForEntry(kConnected));
  stopServer();
  serverSettings.serverPort = port_;
  EXPECT_TRUE(SocketInitialize()) << logText();
  closeListener();
}

TEST(SocketSetPosixTest, DescriptorBeyondTheSetSizeIsRefused) {
  platform::SocketSet set;
  EXPECT_FALSE(set.add(5000));
  EXPECT_FALSE(set.add(-1));
  EXPECT_TRUE(set.add(3));
  EXPECT_EQ(1, set.size());
}

}  // namespace

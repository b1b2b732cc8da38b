#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "channel/image_name_queue.h"
#include "channel/message_queue.h"
#include "core/image_names.h"
#include "jpeg/exif_timestamp.h"

namespace {

TEST(MessageQueueTest, EachDirectionHoldsAHundredInOrderWithTheirSessions) {
  MessageQueue queue;
  unsigned char message[kMaxMessage] = {};
  for (int i = 0; i < 100; ++i) {
    message[0] = static_cast<unsigned char>(i);
    ASSERT_TRUE(queue.pushReceived(1000 + i, message, 1 + i));
    ASSERT_TRUE(queue.pushReply(2000 + i, message, 2));
  }
  message[0] = 0xFF;
  EXPECT_FALSE(queue.pushReceived(7, message, 1)) << "the 101st must be refused";
  EXPECT_FALSE(queue.pushReply(7, message, 1));
  unsigned char out[kMaxMessage];
  for (int i = 0; i < 100; ++i) {
    std::uint32_t count = 0;
    SessionId session = kNoSession;
    ASSERT_TRUE(queue.popReceived(out, &count, &session));
    EXPECT_EQ(static_cast<std::uint32_t>(1 + i), count);
    EXPECT_EQ(i, out[0]) << "the first hundred stay, in order";
    EXPECT_EQ(static_cast<SessionId>(1000 + i), session) << "each keeps its own session";
    ASSERT_TRUE(queue.popReply(out, &count, &session));
    EXPECT_EQ(static_cast<SessionId>(2000 + i), session);
  }
  std::uint32_t count = 0;
  SessionId session = kNoSession;
  EXPECT_FALSE(queue.popReceived(out, &count, &session));
  EXPECT_FALSE(queue.popReply(out, &count, &session));
}

TEST(MessageQueueTest, PoppedMessageHasThePushedCountNotTheClaimedLength) {
  MessageQueue queue;
  // The header claims 4 payload bytes; only the header arrived.
  const unsigned char shortSet[13] = {0x01, 0x18, 0, 1, 6, 0, 0, 0, 0, 4, 0, 0, 0};
  ASSERT_TRUE(queue.pushReceived(3, shortSet, sizeof shortSet));
  unsigned char out[kMaxMessage];
  std::memset(out, 0x5A, sizeof out);
  std::uint32_t count = 0;
  SessionId session = kNoSession;
  ASSERT_TRUE(queue.popReceived(out, &count, &session));
  EXPECT_EQ(13u, count);
  EXPECT_EQ(0, std::memcmp(shortSet, out, 13));
  EXPECT_EQ(0x5A, out[13]) << "nothing beyond the pushed bytes is written";
}

TEST(MessageQueueTest, EmptyPopLeavesTheDestinationAlone) {
  MessageQueue queue;
  unsigned char out[kMaxMessage];
  std::memset(out, 0x77, sizeof out);
  std::uint32_t count = 1234;
  SessionId session = 99;
  EXPECT_FALSE(queue.popReply(out, &count, &session));
  EXPECT_EQ(1234u, count);
  EXPECT_EQ(99u, session);
  EXPECT_EQ(0x77, out[0]);
}

class ImageNameQueueTest : public testing::Test {
 protected:
  void SetUp() override {
    std::strcpy(imageBaseName, "img");
    std::memcpy(jpeg::exifDateString, "2001:01:01 00:00:00", 20);
    std::memcpy(jpeg::exifSubSecString, "000", 4);
  }
  bool push(const std::string& name, const char* date = "2014:02:03 09:05:07",
            const char* subSec = "042") {
    return queue_.pushImageName(name.data(), static_cast<std::int32_t>(name.size()), date, subSec);
  }
  ImageNameQueue queue_;
};

TEST_F(ImageNameQueueTest, FifteenFitASixteenthIsRefusedUntilOneIsTaken) {
  for (int i = 0; i < 15; ++i) ASSERT_TRUE(push("N" + std::to_string(i)));
  EXPECT_FALSE(push("N15"));
  std::int32_t length = 0;
  ASSERT_TRUE(queue_.popImageName(&length));
  EXPECT_STREQ("N0", imageBaseName);
  EXPECT_TRUE(push("N15"));
  for (int i = 1; i <= 15; ++i) {
    ASSERT_TRUE(queue_.popImageName(&length));
    EXPECT_EQ("N" + std::to_string(i), std::string(imageBaseName));
  }
  EXPECT_FALSE(queue_.popImageName(&length));
}

TEST_F(ImageNameQueueTest, DeliversNameAndBothTimestampTexts) {
  ASSERT_TRUE(push("AUV_VARNO_20140203_090507_042", "2014:02:03 09:05:07", "042"));
  std::int32_t length = 0;
  ASSERT_TRUE(queue_.popImageName(&length));
  EXPECT_EQ(29, length);
  EXPECT_STREQ("AUV_VARNO_20140203_090507_042", imageBaseName);
  EXPECT_STREQ("2014:02:03 09:05:07", jpeg::exifDateString);
  EXPECT_STREQ("042", jpeg::exifSubSecString);
}

TEST_F(ImageNameQueueTest, ShorterNameLeavesNoTraceOfALongerOne) {
  ASSERT_TRUE(push("A_LONG_IMAGE_NAME_0001"));
  ASSERT_TRUE(push("B_2"));
  std::int32_t length = 0;
  ASSERT_TRUE(queue_.popImageName(&length));
  ASSERT_TRUE(queue_.popImageName(&length));
  EXPECT_STREQ("B_2", imageBaseName);
  EXPECT_EQ(3, length);
}

TEST_F(ImageNameQueueTest, WithdrawnNameLeavesTheOlderOnesInOrder) {
  ASSERT_TRUE(push("FIRST"));
  ASSERT_TRUE(push("NOT_SENT"));
  EXPECT_TRUE(queue_.withdrawNewest());
  ASSERT_TRUE(push("THIRD"));
  std::int32_t length = 0;
  ASSERT_TRUE(queue_.popImageName(&length));
  EXPECT_STREQ("FIRST", imageBaseName);
  ASSERT_TRUE(queue_.popImageName(&length));
  EXPECT_STREQ("THIRD", imageBaseName);
  EXPECT_FALSE(queue_.withdrawNewest());
}

TEST_F(ImageNameQueueTest, EmptyPopLeavesEverythingAsItWas) {
  std::int32_t length = 99;
  EXPECT_FALSE(queue_.popImageName(&length));
  EXPECT_EQ(99, length);
  EXPECT_STREQ("img", imageBaseName);
  EXPECT_STREQ("2001:01:01 00:00:00", jpeg::exifDateString);
  EXPECT_STREQ("000", jpeg::exifSubSecString);
}

TEST_F(ImageNameQueueTest, OverlongNamesStayInsideTheirFields) {
  const std::string huge(400, 'x');
  ASSERT_TRUE(push(huge));
  std::int32_t length = 0;
  ASSERT_TRUE(queue_.popImageName(&length));
  EXPECT_EQ(256, length) << "the entry holds 256 characters";
  EXPECT_EQ(std::string(127, 'x'), std::string(imageBaseName)) << "cut, and terminated";
}

}  // namespace

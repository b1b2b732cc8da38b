#include "core/repeated_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/core_fixture.h"

namespace {

std::uint32_t fakeNowMs = 0;
std::uint32_t fakeClock() { return fakeNowMs; }

using RepeatedLineTest = CoreTest;

// One fault, hammered every 10 ms for two and a half minutes, then over:
// the line once, a summary a minute, a final summary, and the next fault
// written whole again. Starts near the tick's wrap to show it is harmless.
TEST_F(RepeatedLineTest, AFaultInALoopWritesItsLineThenOneSummaryAMinuteAndAFinalOne) {
  fakeNowMs = 0xFFFFFFFFu - 5000;
  RepeatedLine line(60000, fakeClock);
  for (int pass = 0; pass < 15000; ++pass) {
    line.occurred("Who(): ERROR select: %d\n", 10038);
    fakeNowMs += 10;
  }
  line.ended();
  line.ended();
  line.occurred("Who(): ERROR select: %d\n", 10054);
  EXPECT_EQ((std::vector<std::string>{
                "Who(): ERROR select: 10038",
                "Who(): ERROR select: 10038 (repeated 6000 times in the last 60 s)",
                "Who(): ERROR select: 10038 (repeated 6000 times in the last 60 s)",
                "Who(): ERROR select: 10038 (repeated 2999 times in the last 30 s)",
                "Who(): ERROR select: 10054",
            }),
            logEntries());
}

TEST_F(RepeatedLineTest, AFaultThatEndsAfterOneOccurrenceWritesNoSummary) {
  RepeatedLine line(60000, fakeClock);
  line.occurred("Who(): Queue is full.\n");
  line.ended();
  line.occurred("Who(): Queue is full.\n");
  EXPECT_EQ((std::vector<std::string>{"Who(): Queue is full.", "Who(): Queue is full."}),
            logEntries());
}

}  // namespace

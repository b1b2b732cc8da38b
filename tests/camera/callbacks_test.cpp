// The progress marks (with an injected clock) and the UI request procedure
// (with scripted console input).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "camera/module_callbacks.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace {

std::uint32_t fakeNow = 0;
std::uint32_t fakeClock() { return fakeNow; }

class ProgressProcTest : public testing::Test {
 protected:
  void SetUp() override {
    progressClock = fakeClock;
    lastProgressMark = 0;
  }
  void TearDown() override {
    progressClock = platform::tickMs;
    lastProgressMark = 0;
  }
};

TEST_F(ProgressProcTest, MarksAtMostOneCEvery500Ms) {
  struct Report {
    std::uint32_t now, done, total;
  };
  struct Case {
    const char* name;
    std::vector<Report> reports;
    const char* out;
  };
  std::vector<Report> everyTenthSecond;
  for (std::uint32_t t = 0; t <= 2000; t += 100) everyTenthSecond.push_back({100000 + t, 1, 0});
  const Case cases[] = {
      {"every 100 ms for two seconds: at 0, 600, 1200 and 1800", everyTenthSecond, "cccc"},
      {"a reading below the last mark prints at once", {{5000, 1, 0}, {4990, 1, 0}}, "cc"},
      {"500 ms is not enough, 501 is", {{5000, 1, 0}, {5500, 1, 0}, {5501, 1, 0}}, "cc"},
      {"start and other values", {{5000, 0, 0}, {5000, 2, 0}, {9000, 1, 7}, {9000, 0, 7}}, "o"},
      {"near the 32-bit wrap", {{0xFFFFFF00u, 1, 0}, {0xFFFFFFF0u, 1, 0}, {5, 1, 0}}, "cc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lastProgressMark = 0;
    testing::internal::CaptureStdout();
    for (const Report& r : c.reports) {
      fakeNow = r.now;
      ProgressProc(MODULE_CMD_CAP_START, MODULE_CAP_ACQUIRE, nullptr, r.done, r.total);
    }
    EXPECT_EQ(c.out, testing::internal::GetCapturedStdout());
  }
}

class UIRequestProcTest : public testing::Test {
 protected:
  void TearDown() override {
    uiRequestInput = nullptr;
    if (input_ != nullptr) std::fclose(input_);
  }
  void answers(const std::string& text) {
    if (input_ != nullptr) std::fclose(input_);
    input_ = std::fopen(dir_.write("answers.txt", text).c_str(), "rb");
    ASSERT_NE(nullptr, input_);
    uiRequestInput = input_;
  }
  testing_support::TempDir dir_;
  std::FILE* input_ = nullptr;
};

const char* const Q0 = "\nPress 'O' key. ('O': OK)\n>";
const char* const Q1 = "\nPress 'O' or 'C' key. ('O': OK   'C': Cancel)\n>";
const char* const Q2 = "\nPress 'Y' or 'N' key. ('Y': Yes   'N': No)\n>";
const char* const Q3 = "\nPress 'Y' or 'N' or 'C' key. ('Y': Yes   'N': No   'C': Cancel)\n>";

TEST_F(UIRequestProcTest, AsksUntilAnAcceptedLetter) {
  struct Case {
    std::uint32_t type;
    std::string input;
    std::uint32_t answer;
    std::string questions;  // printed after the prompt and detail lines
  };
  const std::string overlong = std::string(255, 'x') + "c o\n";
  const Case cases[] = {
      {1, "x cancel\n", 2, std::string(Q1) + Q1},
      {0, "o", 1, Q0},
      {1, "OK", 1, Q1},
      {2, "maybe no", 4, std::string(Q2) + Q2},
      {2, "Yes", 3, Q2},
      {3, "  \n\t n", 4, Q3},
      {3, "c", 2, Q3},
      {3, "y", 3, Q3},
      // The tail of an overlong word is no answer of its own.
      {1, overlong, 1, std::string(Q1) + Q1},
      // Nothing is read for an unknown type.
      {7, "c", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " input '" << c.input << "'");
    answers(c.input);
    UIRequestInfo request = {c.type, 0, 0, "Prompt", "Detail"};
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.answer, UIRequestProc(nullptr, &request));
    EXPECT_EQ("\nPrompt\n\nDetail\n" + c.questions, testing::internal::GetCapturedStdout());
  }
}

TEST_F(UIRequestProcTest, EndOfInputTakesTheAnswerThatCommitsToLeast) {
  struct Case {
    std::uint32_t type;
    const char* input;
    std::uint32_t answer;
    std::string out;
  };
  const Case cases[] = {
      {0, "", 1, std::string(Q0) + "\nUIRequestProc(): No console input; answered OK.\n"},
      {1, "x", 2, std::string(Q1) + Q1 + "\nUIRequestProc(): No console input; answered Cancel.\n"},
      {2, "", 4, std::string(Q2) + "\nUIRequestProc(): No console input; answered No.\n"},
      {3, "", 2, std::string(Q3) + "\nUIRequestProc(): No console input; answered Cancel.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    answers(c.input);
    // Without prompt and detail only the question is printed.
    UIRequestInfo request = {c.type, 0, 0, nullptr, nullptr};
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.answer, UIRequestProc(nullptr, &request));
    EXPECT_EQ(c.out, testing::internal::GetCapturedStdout());
  }
}

}  // namespace

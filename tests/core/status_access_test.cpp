#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/server_state.h"
#include "core/status_access.h"
#include "support/core_fixture.h"

namespace {

using StatusAccessTest = CoreTest;

// A log write that blocks holds statusMutex; the readers of the run flag
// must not take that for a stop. Three threads read at once, as the accept
// loop and both workers do; the flag changes meanwhile, unseen, so the
// answer must be the value last read, not a fresh one or false.
TEST_F(StatusAccessTest, TimedOutReadsOfRunningKeepTheLastValueReadAndAreReportedOnce) {
  serverStatus.running = true;
  ASSERT_TRUE(getRunning());
  serverStatus.running = false;
  struct Reads {
    bool values[3] = {false, false, false};
  } reads;
  whileStatusMutexHeldElsewhere(
      [](void* context) {
        auto& r = *static_cast<Reads*>(context);
        std::vector<std::thread> readers;
        for (bool& value : r.values) readers.emplace_back([&value] { value = getRunning(); });
        for (std::thread& reader : readers) reader.join();
      },
      &reads);
  for (bool value : reads.values) EXPECT_TRUE(value);
  EXPECT_EQ(logEntries(), std::vector<std::string>{}) << "nothing can be written while held";

  EXPECT_FALSE(getRunning());
  EXPECT_FALSE(getRunning());
  EXPECT_EQ(logEntries(),
            std::vector<std::string>{"getRunning(): ERROR status mutex busy for 2000 ms, could not "
                                     "read running; kept its last value (1)."});
}

}  // namespace

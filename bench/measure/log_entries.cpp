// bench_log_entries COUNT ROUNDS DIR OUT.csv
//
// Server-log entries per second written to a file in DIR, two ways in
// alternating rounds of COUNT entries: "flushed", through logprintf, which
// hands each entry to the operating system as it is written; and
// "buffered", the same entry under the same mutex left in the stream's
// buffer, as the log was written before. Writes one CSV row per round
// (mode, round, entries, seconds, entries_per_s).
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "bench/measure/bench_files.h"
#include "core/log.h"
#include "core/server_state.h"
#include "platform/clock.h"
#include "platform/mutex.h"

namespace {

// A camera thread's entry, as written once per saved image.
#define ENTRY_FORMAT "%s: GOT FILE [%s]\n"
const char* const kWho = "CameraWorkerThread()";
const char* const kName = "AUV_VARNO_20240501_12.00.00.000.jpg";

// logprintf without the flush after the entry.
void bufferedEntry(std::FILE* stream, const char* format, ...) SKERROW_PRINTF(2, 3);
void bufferedEntry(std::FILE* stream, const char* format, ...) {
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (!hold.obtained()) return;
  const platform::UtcTime now = platform::utcNow();
  std::fprintf(stream, "[%04d%02d%02d %02d:%02d:%02d] ", now.year, now.month, now.day, now.hour,
               now.minute, now.second);
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
}

// Seconds for count entries into a fresh file, the close included, so the
// buffered way pays for its last write too.
double timeRound(const std::string& path, long count, bool flushed) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return -1;
  currentLogStream = file;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    if (flushed) {
      logprintf(currentLogStream, ENTRY_FORMAT, kWho, kName);
    } else {
      bufferedEntry(currentLogStream, ENTRY_FORMAT, kWho, kName);
    }
  }
  currentLogStream = stdout;
  const bool closed = std::fclose(file) == 0;
  const auto end = std::chrono::steady_clock::now();
  std::remove(path.c_str());
  return closed ? std::chrono::duration<double>(end - start).count() : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: bench_log_entries COUNT ROUNDS DIR OUT.csv\n", stderr);
    return 2;
  }
  long count = 0;
  long rounds = 0;
  if (!bench::parseCount(argv[1], "COUNT", 1, 100000000, &count) ||
      !bench::parseCount(argv[2], "ROUNDS", 1, 1000, &rounds)) {
    return 2;
  }
  statusMutex = platform::createTimedMutex().release();
  if (statusMutex == nullptr) {
    std::fputs("cannot create the status mutex\n", stderr);
    return 1;
  }
  std::FILE* out = std::fopen(argv[4], "w");
  if (out == nullptr) {
    std::fprintf(stderr, "cannot create %s\n", argv[4]);
    return 1;
  }
  const std::string path = std::string(argv[3]) + "/server.log";
  std::fputs("mode,round,entries,seconds,entries_per_s\n", out);
  for (long round = 0; round < rounds; ++round) {
    // Alternating, so a change in the machine's load hits both alike.
    for (bool flushed : {true, false}) {
      const double seconds = timeRound(path, count, flushed);
      if (seconds <= 0) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
      }
      std::fprintf(out, "%s,%ld,%ld,%.6f,%.0f\n", flushed ? "flushed" : "buffered", round, count,
                   seconds, static_cast<double>(count) / seconds);
    }
  }
  return std::fclose(out) == 0 ? 0 : 1;
}

// bench_round_trip PORT COUNT SECONDS MAX_GAP_MS OUT.csv
//
// One client on loopback asks the server for its image count (skerrowctl's
// "images") up to COUNT times over one connection, one request at a time,
// and times each from send to whole reply. It stops early after SECONDS.
// Between requests it waits a random 0 to MAX_GAP_MS milliseconds, so the
// requests fall on every phase of the server's polling instead of locking
// onto it. Writes one CSV row per request (request, milliseconds).
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/measure/bench_files.h"
#include "tools/skerrowctl/ctl_client.h"
#include "tools/skerrowctl/ctl_request.h"

namespace {

// A request that gets no reply in this time counts as a failure.
constexpr int kReplyTimeoutMs = 10000;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fputs("usage: bench_round_trip PORT COUNT SECONDS MAX_GAP_MS OUT.csv\n", stderr);
    return 2;
  }
  long port = 0, count = 0, seconds = 0, maxGapMs = 0;
  if (!bench::parseCount(argv[1], "PORT", 1, 65535, &port) ||
      !bench::parseCount(argv[2], "COUNT", 1, 1000000, &count) ||
      !bench::parseCount(argv[3], "SECONDS", 1, 86400, &seconds) ||
      !bench::parseCount(argv[4], "MAX_GAP_MS", 0, 10000, &maxGapMs)) {
    return 2;
  }
  CtlRequest request;
  std::string error;
  if (!buildCtlRequest({"images"}, &request, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  CtlConnection connection;
  if (!connection.open("127.0.0.1", static_cast<int>(port), &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::FILE* out = std::fopen(argv[5], "w");
  if (out == nullptr) {
    std::fprintf(stderr, "cannot create %s\n", argv[5]);
    return 1;
  }
  std::fputs("request,ms\n", out);
  std::mt19937 random(12345);
  std::uniform_int_distribution<long> gapUs(0, maxGapMs * 1000);
  const auto stopAt = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  bool ok = true;
  long done = 0;
  for (; done < count && std::chrono::steady_clock::now() < stopAt; ++done) {
    std::vector<unsigned char> sent, reply;
    const auto start = std::chrono::steady_clock::now();
    ok = connection.exchange(request, kReplyTimeoutMs, &sent, &reply, &error);
    const auto end = std::chrono::steady_clock::now();
    if (!ok) {
      std::fprintf(stderr, "request %ld: %s\n", done + 1, error.c_str());
      break;
    }
    bool unknown = false;
    describeCtlReply(reply.data(), reply.size(), &unknown);
    if (unknown) {
      std::fprintf(stderr, "request %ld: the server did not know the request\n", done + 1);
      ok = false;
      break;
    }
    std::fprintf(out, "%ld,%.4f\n", done + 1,
                 std::chrono::duration<double, std::milli>(end - start).count());
    std::this_thread::sleep_for(std::chrono::microseconds(gapUs(random)));
  }
  const bool closed = std::fclose(out) == 0;
  std::printf("%ld requests\n", done);
  return ok && closed ? 0 : 1;
}

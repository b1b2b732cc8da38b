// skerrowctl: the command-line client of the Skerrow command protocol.
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"
#include "skerrow_version.h"
#include "tools/skerrowctl/ctl_client.h"
#include "tools/skerrowctl/ctl_request.h"

namespace {

const char* const kUsage =
    "usage: skerrowctl [--host H] [--port P] [--timeout MS] [--hex] [--check-args] COMMAND [ARG]\n"
    "       skerrowctl --version | --help\n"
    "\n"
    "  --host H        server address or name (default 127.0.0.1)\n"
    "  --port P        command port (default 2020)\n"
    "  --timeout MS    limit for the connection, then for each reply (default 3000)\n"
    "  --hex           also print the bytes sent and received\n"
    "  --check-args    check the command line only, without connecting\n"
    "\n"
    "Without ARG a command asks for the current value; with ARG it sets it.\n"
    "  none | echo                  test requests\n"
    "  connect [0|1]                camera connection\n"
    "  pretrigger [0|1]             pre-trigger flag\n"
    "  acquire [0|1]                acquisition\n"
    "  lasers [0|1]                 laser power\n"
    "  interval [MS]                trigger interval in milliseconds\n"
    "  prefix [TEXT]                image file prefix\n"
    "  images | triggers            counts since the server started\n"
    "  inifile | triggerport        configuration file, trigger-port settings\n"
    "  raw TYPE ACTION [INT32]      any request\n"
    "  watch                        image and trigger counts every second until Ctrl-C\n"
    "\n"
    "Exit status: 0 on a reply (with --check-args: on a good command line), 2 when\n"
    "the server did not know the type, 1 on a wrong command line, no connection, no\n"
    "reply in time, or a reply that does not answer the request.\n";

std::atomic<bool> stopWatching{false};
void onWatchInterrupt() { stopWatching = true; }

struct Options {
  std::string host = "127.0.0.1";
  int port = 2020;
  int timeoutMs = 3000;
  bool hex = false;
  bool checkOnly = false;
  std::vector<std::string> words;
};

bool parseNumber(const char* text, int low, int high, int* value) {
  const char* end = text + std::strlen(text);
  const auto result = std::from_chars(text, end, *value);
  return result.ec == std::errc() && result.ptr == end && *value >= low && *value <= high;
}

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--host" && hasValue) {
      options->host = argv[++i];
    } else if (arg == "--port" && hasValue) {
      if (!parseNumber(argv[++i], 1, 65535, &options->port)) {
        std::fprintf(stderr, "skerrowctl: --port takes 1-65535, not '%s'\n", argv[i]);
        return false;
      }
    } else if (arg == "--timeout" && hasValue) {
      if (!parseNumber(argv[++i], 1, 3600000, &options->timeoutMs)) {
        std::fprintf(stderr, "skerrowctl: --timeout takes milliseconds, not '%s'\n", argv[i]);
        return false;
      }
    } else if (arg == "--hex") {
      options->hex = true;
    } else if (arg == "--check-args") {
      options->checkOnly = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--version") {
      std::printf("skerrowctl %s (%s)\n", SKERROW_VERSION, SKERROW_BUILD);
      std::exit(0);
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0 && options->words.empty()) {
      std::fprintf(stderr, "skerrowctl: unknown or incomplete option '%s'\n%s", arg.c_str(),
                   kUsage);
      return false;
    } else {
      options->words.push_back(arg);
    }
  }
  if (options->words.empty()) {
    std::fputs(kUsage, stderr);
    return false;
  }
  return true;
}

// One request and its reply; returns the exit status.
int ask(CtlConnection* connection, const Options& options, const CtlRequest& request,
        std::string* line) {
  std::vector<unsigned char> sent;
  std::vector<unsigned char> reply;
  std::string error;
  if (!connection->exchange(request, options.timeoutMs, &sent, &reply, &error)) {
    std::fprintf(stderr, "skerrowctl: %s\n", error.c_str());
    return 1;
  }
  if (options.hex) {
    std::printf("sent:     %s\n", hexBytes(sent.data(), sent.size()).c_str());
    std::printf("received: %s\n", hexBytes(reply.data(), reply.size()).c_str());
  }
  // A reply to another request (another client's, or an earlier one of
  // this connection) is never shown as the answer to this one.
  if (!ctlReplyAnswers(request, reply.data(), reply.size(), &error)) {
    std::fprintf(stderr, "skerrowctl: %s\n", error.c_str());
    return 1;
  }
  bool unknown = false;
  *line = describeCtlReply(reply.data(), reply.size(), &unknown);
  return unknown ? 2 : 0;
}

int watch(CtlConnection* connection, const Options& options) {
  platform::installInterruptRoutine(onWatchInterrupt);
  CtlRequest images;
  CtlRequest triggers;
  std::string error;
  buildCtlRequest({"images"}, &images, &error);
  buildCtlRequest({"triggers"}, &triggers, &error);
  while (!stopWatching) {
    std::string imageLine;
    std::string triggerLine;
    if (ask(connection, options, images, &imageLine) != 0) return 1;
    if (ask(connection, options, triggers, &triggerLine) != 0) return 1;
    std::printf("%s  %s\n", imageLine.c_str(), triggerLine.c_str());
    std::fflush(stdout);
    for (int waited = 0; waited < 1000 && !stopWatching; waited += 50) platform::sleepMs(50);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) return 1;
  CtlRequest request;
  std::string error;
  const bool watching = options.words[0] == "watch";
  if (watching && options.words.size() != 1) {
    std::fputs("skerrowctl: watch takes no argument\n", stderr);
    return 1;
  }
  if (!watching && !buildCtlRequest(options.words, &request, &error)) {
    std::fprintf(stderr, "skerrowctl: %s\n", error.c_str());
    return 1;
  }
  // Everything a real run checks has been checked: the documentation's
  // examples are tested this way without a server.
  if (options.checkOnly) return 0;
  CtlConnection connection;
  if (!connection.open(options.host, options.port, options.timeoutMs, &error)) {
    std::fprintf(stderr, "skerrowctl: %s\n", error.c_str());
    return 1;
  }
  if (watching) return watch(&connection, options);
  std::string line;
  const int status = ask(&connection, options, request, &line);
  if (status != 1) std::printf("%s\n", line.c_str());
  return status;
}

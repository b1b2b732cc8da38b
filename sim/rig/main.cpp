// skerrow-rig: the trigger line, laser line and camera card of a survey rig,
// simulated. See sim/rig/README.md.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <string>

#include "platform/socket.h"
#include "rig/rig.h"
#include "rig/rig_options.h"

int main(int argc, char** argv) {
  rig::RigOptions options;
  std::string error;
  switch (rig::parseRigOptions(argc, argv, &options, &error)) {
    case rig::ParseResult::kHelp:
      std::fputs(rig::rigUsage().c_str(), stdout);
      return 0;
    case rig::ParseResult::kError:
      std::fprintf(stderr, "skerrow-rig: %s (see --help)\n", error.c_str());
      return 2;
    case rig::ParseResult::kRun:
      break;
  }

  // SIGINT and SIGTERM are blocked before any thread starts, so every thread
  // inherits the mask and only sigwait below takes them: the stop then runs
  // as ordinary code, not in a handler.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  if (!platform::socketStartup()) {
    std::fprintf(stderr, "skerrow-rig: cannot start the socket layer\n");
    return 1;
  }
  int status = 0;
  {
    rig::Rig simulated(options);
    if (!simulated.start()) {
      status = 1;
    } else {
      std::printf("skerrow-rig: trigger %s\nskerrow-rig: laser %s\nskerrow-rig: card %s\n",
                  simulated.triggerName().c_str(), simulated.laserName().c_str(),
                  options.cardDir.c_str());
      std::fflush(stdout);
      int received = 0;
      sigwait(&stopSignals, &received);
      std::printf("skerrow-rig: stopping on signal %d\n", received);
      std::fflush(stdout);
    }
    simulated.stop();
  }
  platform::socketCleanup();
  return status;
}

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

  // The signals are blocked before any thread starts, so every thread
  // inherits the mask and only sigwait below takes them: the stop and the
  // stall then run as ordinary code, not in a handler. SIGUSR1 stalls the
  // camera, SIGUSR2 lets it go on.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

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
      for (;;) {
        if (sigwait(&signals, &received) != 0) continue;
        if (received == SIGUSR1 || received == SIGUSR2) {
          simulated.setStalled(received == SIGUSR1);
          continue;
        }
        break;
      }
      std::printf("skerrow-rig: stopping on signal %d\n", received);
      std::fflush(stdout);
    }
    simulated.stop();
  }
  platform::socketCleanup();
  return status;
}

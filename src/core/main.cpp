// Skerrow: start-up, the accept loop and the orderly shutdown.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "camera/camera_worker.h"
#include "channel/image_name_queue.h"
#include "channel/listener.h"
#include "channel/message_queue.h"
#include "core/config.h"
#include "core/interrupt.h"
#include "core/log.h"
#include "core/server_state.h"
#include "core/status_access.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "skerrow_version.h"
#include "trigger/trigger_worker.h"

namespace {

const char* const kWho = "Skerrow:main()";

// The exit status: 0 after a stop on request, 1 when start-up failed or a
// fault ended the run, so that a service manager restarts on failure only.
constexpr int kExitStopped = 0;
constexpr int kExitFailed = 1;

// Set when a stop request came before start-up raised the run flag: the run
// then ends, in order, before it began.
bool stoppedBeforeRun = false;

// Makes one mutex for the process. The handle lives until the process ends.
bool createSharedMutex(std::atomic<platform::TimedMutex*>* mutex) {
  std::unique_ptr<platform::TimedMutex> created = platform::createTimedMutex();
  if (created == nullptr) {
    const unsigned long error = platform::lastSystemError();
    logprintf(currentLogStream, "%s: ERROR CreateMutex: %d\n", kWho, static_cast<int>(error));
    return false;
  }
  *mutex = created.release();
  return true;
}

// Switches the server log to the configured file unless its name begins
// with "stdout".
void switchLogToFile() {
  const char* name = serverSettings.logfilename;
  if (std::strncmp(name, "stdout", 6) == 0) return;
  std::FILE* file = std::fopen(name, "a");
  if (file == nullptr) {
    logprintf(currentLogStream, "%s: Failed to open log for writing. [%s]\n", kWho, name);
    return;
  }
  logprintf(currentLogStream, "%s: Now Writing to Server Log. [%s]\n", kWho, name);
  currentLogStream = file;
  logprintf(currentLogStream, "%s: Start of Server Log. [%s]\n", kWho, name);
  printSettings();
}

// Takes the configuration path from the command line. A path that does not
// fit its field is refused rather than cut, so the server never runs on a
// file other than the one named.
bool chooseConfigPath(int argc, char** argv) {
  std::strcpy(serverSettings.configFilePath, platform::defaultConfigPath());
  if (argc < 2) {
    logprintf(currentLogStream, "%s: No INI file given, using defaults.\n", kWho);
    return true;
  }
  if (std::strlen(argv[1]) >= sizeof serverSettings.configFilePath) {
    logprintf(currentLogStream, "%s: ERROR INI file path is longer than %u characters.\n", kWho,
              static_cast<unsigned>(sizeof serverSettings.configFilePath - 1));
    return false;
  }
  std::strcpy(serverSettings.configFilePath, argv[1]);
  logprintf(currentLogStream, "%s: Loading INI File (%s)...\n", kWho,
            serverSettings.configFilePath);
  return true;
}

bool startUp(int argc, char** argv) {
  if (!createSharedMutex(&statusMutex) || !createSharedMutex(&messageMutex)) return false;
  // A mouse selection in a console with QuickEdit pauses every write to it,
  // and with it every thread that logs; an unattended server must not
  // depend on nobody touching its window. Not worth a stop if it fails.
  if (!platform::disableConsoleQuickEdit()) {
    const unsigned long error = platform::lastSystemError();
    logprintf(currentLogStream, "%s: ERROR cannot switch off the console's QuickEdit mode (%lu)\n",
              kWho, error);
  }
  if (!chooseConfigPath(argc, argv)) return false;
  const bool imported = importIniSettings(serverSettings.configFilePath);
  printSettings();
  if (!imported) {
    logprintf(currentLogStream, "%s: ERROR importing INI settings, exiting...\n", kWho);
    return false;
  }
  switchLogToFile();
  // The interrupt routine may already have run on its own thread; a Ctrl-C
  // during start-up must not be undone here, or nothing could stop the run.
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    if (!hold.obtained()) return false;
    serverStatus.acquisitionActive = false;
    serverStatus.running = !interruptReceived();
    stoppedBeforeRun = !serverStatus.running;
  }
  // Every later user expects the queues to exist, so a server without them
  // does not start.
  messageQueue = new (std::nothrow) MessageQueue();
  imageNameQueue = new (std::nothrow) ImageNameQueue();
  if (messageQueue == nullptr || imageNameQueue == nullptr) {
    logprintf(currentLogStream, "%s: ERROR Failed to create the queues\n", kWho);
    return false;
  }
  if (!startCameraWorkerThread()) {
    logprintf(currentLogStream, "%s: ERROR Failed to create CameraWorkerThread\n", kWho);
    return false;
  }
  if (!startTriggerWorker()) {
    logprintf(currentLogStream, "%s: ERROR Failed to create TriggerWorkerThread\n", kWho);
    return false;
  }
  if (!SocketInitialize()) {
    logprintf(currentLogStream, "%s ERROR Failed to initialize socket.\n", kWho);
    return false;
  }
  return true;
}

void runAcceptLoop() {
  while (getRunning()) AcceptConnections();
}

void shutDown() {
  onInterrupt();
  // The trigger thread may sit in a long timer wait; it ends without firing.
  wakeTriggerWorker();
  joinCameraWorkerThread();
  joinTriggerWorker();
  closeListener();
  logprintf(currentLogStream, "%s: End of program.\n", kWho);
  if (currentLogStream != stdout) {
    std::fclose(currentLogStream);
    currentLogStream = stdout;
  }
  std::fputs("\nPress any key to exit...\n", stdout);
  std::fflush(stdout);
  // The wait keeps a console window open for its reader; a server started by
  // a service manager, a script or a test has no one to press a key.
  if (!platform::stdinIsConsole()) return;
  while (!platform::consoleKeyPressed()) platform::sleepMs(50);
}

bool asksForHelp(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 ||
         std::strcmp(argument, "/?") == 0;
}

void printUsage() {
  std::printf(
      "Usage: skerrow [CONFIG_FILE]\n"
      "       skerrow --version | --help\n"
      "\n"
      "Runs the acquisition server with the settings in CONFIG_FILE (default %s).\n"
      "Ctrl-C or a stop signal ends it in order.\n"
      "\n"
      "  --version       print the version and exit\n"
      "  --help, -h, /?  print this help and exit\n"
      "\n"
      "Exit status: 0 after a stop on request, 1 when start-up fails or a fault\n"
      "ends the run.\n",
      platform::defaultConfigPath());
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before anything else, so that asking which build is installed,
  // or how to call it, never starts a server, writes a log or reads a
  // configuration.
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("skerrow %s (%s)\n", SKERROW_VERSION, SKERROW_BUILD);
    return 0;
  }
  if (argc >= 2 && asksForHelp(argv[1])) {
    printUsage();
    return 0;
  }
  platform::lineBufferStandardOutput();
  platform::installInterruptRoutine(onStopRequest);
  const bool started = startUp(argc, argv);
  if (started) runAcceptLoop();
  shutDown();
  // Read after shutdown, when the interrupt routine has surely finished.
  return started && (stoppedBeforeRun || stopRequestEndedRun()) ? kExitStopped : kExitFailed;
}

#include "core/log.h"

#include <cstdarg>

#include "core/server_state.h"
#include "platform/clock.h"

std::atomic<std::FILE*> currentLogStream{stdout};
char imageBaseName[128] = "img";
char savedFileName[kSavedFileNameSize] = "img";

int logprintf(std::FILE* stream, const char* format, ...) {
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (!hold.obtained()) {
    std::fputs("logprintf():: Error getting status mutex\n", stdout);
    std::fflush(stdout);
    return -1;
  }
  const platform::UtcTime now = platform::utcNow();
  int written = std::fprintf(stream, "[%04d%02d%02d %02d:%02d:%02d] ", now.year, now.month, now.day,
                             now.hour, now.minute, now.second);
  std::va_list args;
  va_start(args, format);
  written += std::vfprintf(stream, format, args);
  va_end(args);
  // Each entry goes to the operating system while the mutex is still held,
  // so a killed process or a power cut loses at most the entry being written,
  // and entries of several threads still never interleave.
  std::fflush(stream);
  return written;
}

void WriteFileToLog() {
  // Room for the longest prefix and the suffix, so the name is never cut;
  // the check below only guards against a prefix without its terminator.
  char logName[kPrefixSize + sizeof "FileLog.log"];
  const int length =
      std::snprintf(logName, sizeof logName, "%.*sFileLog.log", static_cast<int>(kPrefixSize - 1),
                    serverStatus.cameraFilePrefix);
  std::FILE* file = nullptr;
  if (length > 0 && static_cast<unsigned>(length) < sizeof logName) file = std::fopen(logName, "a");

  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (!hold.obtained()) {
    logprintf(currentLogStream, "CameraWorkerThread():: Error getting status mutex\n");
    if (file != nullptr) std::fclose(file);
    return;
  }
  if (file == nullptr) {
    logprintf(currentLogStream,
              "WriteFileToLog(): ERROR cannot open image log file for writing.\n");
    return;
  }
  const platform::UtcTime now = platform::utcNow();
  const int written =
      std::fprintf(file, "%04d %02d %02d %02d %02d %02d %03d %06lu %06lu %s\n", now.year, now.month,
                   now.day, now.hour, now.minute, now.second, now.millisecond,
                   static_cast<unsigned long>(serverStatus.triggerCount),
                   static_cast<unsigned long>(serverStatus.imageCount), savedFileName);
  // Closing hands the line to the operating system before the routine
  // returns. A line that does not get there (a full disk) is reported, not
  // lost in silence: the image's only record is then its file.
  const bool closed = std::fclose(file) == 0;
  if (written < 0 || !closed) {
    logprintf(currentLogStream, "WriteFileToLog(): ERROR cannot write image log line for [%s].\n",
              savedFileName);
  }
}

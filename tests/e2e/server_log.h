// Reading the server log as the tests see it: lines, timestamp prefixes and
// the settings printout.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

struct LogLine {
  bool stamped = false;   // began with a valid "[YYYYMMDD HH:MM:SS] " prefix
  std::time_t stamp = 0;  // that prefix read as UTC, when stamped
  std::string text;       // the line without prefix and line end
};

// Splits text at '\n'. A last line without its line end is kept; the empty
// piece after a final '\n' is not a line.
std::vector<std::string> splitLines(const std::string& text);

// Splits text into lines and takes the timestamp prefix off each line that
// has one. A prefix with a date or time that does not exist (month 13,
// hour 24, ...) does not count as one.
std::vector<LogLine> parseLog(const std::string& text);

// The texts of entries, each marked "[stamped] " or "[plain] ", so that a
// comparison shows both the text and the prefix in one message.
std::vector<std::string> describe(const std::vector<LogLine>& lines);
std::string stamped(const std::string& text);
std::string plain(const std::string& text);

int countText(const std::vector<LogLine>& lines, const std::string& text);

// The values shown by the fourteen-line settings printout, as text.
struct Printout {
  std::string serverPort = "2020";
  std::string serverMaxUsers = "2";
  std::string logfilename = "stdout";
  std::string cameraPreTrigger = "0";
  std::string cameraFilePrefix = "AUV_";
  std::string cameraInterval = "1000";
  std::string triggerPortName = "COM1";
  std::string triggerBaudRate = "1200";
  std::string triggerBits = "8";
  std::string triggerParity = "N";
  std::string triggerStop = "1";
};

// What a settings read that failed shows: zeros and empty texts.
Printout emptyPrintout();

// The fourteen entries of the printout, as describe() shows them.
std::vector<std::string> printoutLines(const Printout& values);

// True once text holds a whole printout, that is its closing rule.
bool holdsPrintout(const std::string& text);

const char* const kInterruptLine = "Siginthandler: Ctrl-c Received Program Terminating...";
const char* const kEndLine = "Skerrow:main(): End of program.";
// What a running server's trigger thread writes when shutdown ends it.
const char* const kTriggerEndLine = "TriggerWorkerThread(): Thread Execution Complete.";
// What the camera thread writes as it starts, finds the camera, and ends.
const char* const kCameraStartLine = "CameraWorkerThread(): Starting Camera Control Thread";
const char* const kCameraConnectedLine =
    "CameraWorkerThread(): Connected to camera on thread start.";
const char* const kCameraEndLine = "CameraWorkerThread(): Thread Execution Complete.";

// What the server writes last on the console: the blank line and the
// prompt, both without a timestamp.
std::vector<std::string> promptLines();

// Succeeds when lines begin with head and end with tail (not overlapping).
// Whatever lies between is stored in *middle when middle is given: other
// subsystems may log there, and tests judge it separately.
testing::AssertionResult framedBy(const std::vector<std::string>& lines,
                                  const std::vector<std::string>& head,
                                  const std::vector<std::string>& tail,
                                  std::vector<std::string>* middle = nullptr);

// framedBy for a running server that was stopped: tail is the interrupt
// line, the end lines of the camera and the trigger thread, the end line,
// then after. The two threads end concurrently, so their lines may come in
// either order; everything else is compared exactly.
testing::AssertionResult framedByShutdown(const std::vector<std::string>& lines,
                                          const std::vector<std::string>& head,
                                          const std::vector<std::string>& after,
                                          std::vector<std::string>* middle = nullptr);

// The console text without the download progress marks ("o" as a download
// starts, "c" as chunks arrive), which come without a line end and so stand
// in front of the next log entry.
std::string withoutProgressMarks(const std::string& text);

// The entries among lines that report an error: those carrying the word
// ERROR or Error, as every error entry of the server does.
std::vector<std::string> errorEntries(const std::vector<std::string>& lines);

// Appends more to lines.
void append(std::vector<std::string>* lines, const std::vector<std::string>& more);

}  // namespace e2e

// The server log and the image log.
#pragma once

#include <atomic>
#include <cstdio>

#include "core/image_names.h"

#if defined(__GNUC__) || defined(__clang__)
#define SKERROW_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define SKERROW_PRINTF(fmt, args)
#endif

// The stream server-log entries go to: standard output until start-up
// switches it to the configured log file. Every caller passes it to
// logprintf. Atomic, since the interrupt routine may log from its own thread
// while start-up switches the stream.
extern std::atomic<std::FILE*> currentLogStream;

// Writes one server-log entry: "[YYYYMMDD HH:MM:SS] " in UTC, then the
// formatted text (callers end it with "\n"), flushed to the operating system
// before it returns. Waits at most kMutexTimeoutMs for statusMutex, which may
// already be held by the caller; when it is not obtained the entry is dropped
// and a fixed error line goes to standard output instead.
int logprintf(std::FILE* stream, const char* format, ...) SKERROW_PRINTF(2, 3);

// Appends one line for the image just saved to "<prefix>FileLog.log": the
// time of writing in UTC to the millisecond, the trigger count, the image
// count and savedFileName. The line has reached the operating system when
// the routine returns; a line that could not be written is reported in the
// server log. Camera thread only, after imageCount was advanced.
void WriteFileToLog();

// The operating system's code for the last failed call.
#pragma once

namespace platform {

// GetLastError() on Windows, errno on POSIX. Read it on the line right after
// the failed call. A missing file is 2 on both.
unsigned long lastSystemError();

// The last socket error: WSAGetLastError() on Windows, errno on POSIX.
unsigned long lastSocketError();

}  // namespace platform

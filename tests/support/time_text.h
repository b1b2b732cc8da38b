// Reading the time texts that the server, the rig and Exif write.
#pragma once

#include <string>

namespace testing_support {

// Milliseconds since 1970 (UTC) of "YYYY?MM?DD?hh:mm:ss.fff..." with any one
// separator in the date and before the time ("2024-05-01T12:00:00.123456Z",
// "2024:05:01 12:00:00.123"); further fraction digits are ignored. -1 when
// the text is not such a time.
long long timeTextMs(const std::string& text);

}  // namespace testing_support

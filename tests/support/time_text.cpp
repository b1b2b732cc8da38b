#include "support/time_text.h"

#include <cstdio>

namespace testing_support {
namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

}  // namespace

long long timeTextMs(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, fraction = 0;
  if (std::sscanf(text.c_str(), "%4d%*c%2d%*c%2d%*c%2d:%2d:%2d.%3d", &y, &mo, &d, &h, &mi, &s,
                  &fraction) != 7) {
    return -1;
  }
  return ((daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 24 + h) * 60 +
          mi) *
             60000LL +
         s * 1000LL + fraction;
}

}  // namespace testing_support

// Runs the trigger worker on fake serial lines with the platform's timer and
// measures the spacing of the trigger bytes against the interval.
#pragma once

#include <cstdint>

struct SpacingResult {
  bool ok;             // every trigger arrived in time
  int spacings;        // measured spacings (triggers - 1)
  double meanErrorMs;  // mean of |spacing - interval|
  double maxErrorMs;   // largest |spacing - interval|
};

// Needs nothing set up; takes over the process-wide status, settings, mutex
// and image-name queue for the run.
SpacingResult measureTriggerSpacing(int triggers, std::int32_t intervalMs);

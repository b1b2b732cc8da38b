// The trigger-spacing measurement as a plain program, for systems without
// Google Benchmark (the Windows build run under Wine).
#include <cstdio>

#include "bench/trigger/spacing_run.h"

int main() {
  const SpacingResult result = measureTriggerSpacing(300, 100);
  std::printf(
      "trigger spacing at 100 ms over %d spacings: mean error %.3f ms, max error %.3f ms%s\n",
      result.spacings, result.meanErrorMs, result.maxErrorMs,
      result.ok ? "" : " (NOT every trigger arrived)");
  return result.ok ? 0 : 1;
}

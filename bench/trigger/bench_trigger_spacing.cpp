// Trigger spacing at a 100 ms interval over 300 triggers, with the platform's
// timer and a fake trigger line that stamps each byte with the counter.
#include <benchmark/benchmark.h>

#include "bench/trigger/spacing_run.h"

namespace {

void BM_TriggerSpacing(benchmark::State& state) {
  SpacingResult result{};
  for (auto _ : state) result = measureTriggerSpacing(300, 100);
  if (!result.ok) state.SkipWithError("not every trigger arrived");
  state.counters["spacings"] = result.spacings;
  state.counters["mean_error_ms"] = result.meanErrorMs;
  state.counters["max_error_ms"] = result.maxErrorMs;
}

BENCHMARK(BM_TriggerSpacing)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Benchmarks that time themselves: each repetition is one whole run, timed
// by its own clock (the work around it, such as a decode, is left out).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

inline void SetTime(benchmark::State& state, int64_t ns) {
  state.SetIterationTime(static_cast<double>(ns) / 1e9);
}

// Registers `body` once per repetition, reported as mean, median and best.
inline void Timed(const std::string& name, int repetitions,
                  const std::function<void(benchmark::State&)>& body) {
  benchmark::RegisterBenchmark(name.c_str(), body)
      ->UseManualTime()
      ->Iterations(1)
      ->Repetitions(repetitions)
      ->ReportAggregatesOnly(true)
      ->ComputeStatistics("min", [](const std::vector<double>& v) { return std::ranges::min(v); })
      ->Unit(benchmark::kMillisecond);
}

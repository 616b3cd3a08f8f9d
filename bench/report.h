// What every benchmark report carries besides its times: the processor
// and the number of them online, and per row the fastest and the slowest
// repetition beside Google Benchmark's mean and median, so a table can give
// a median and its range. Times on a machine shared with other work vary
// from run to run; run with --benchmark_repetitions=5 and trust ratios
// between rows of one run more than any time.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/processor_name.h"

namespace zeverive_bench {

inline void describe_machine() {
    benchmark::AddCustomContext("processor", zeverive_test::processor_name());
    benchmark::AddCustomContext("processors online", std::to_string(sysconf(_SC_NPROCESSORS_ONLN)));
}

inline benchmark::internal::Benchmark* with_range(benchmark::internal::Benchmark* b) {
    return b
        ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
        ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
}

}  // namespace zeverive_bench

#pragma once

#include <algorithm>
#include <vector>

#include <benchmark/benchmark.h>

// The mean hides what a stroke usually takes behind the few that waited for a busy core: the
// median and the 90th percentile too, in microseconds.
inline void reportSpread(benchmark::State& state, std::vector<double> samples) {
    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    state.counters["median_us"] = samples[samples.size() / 2] * 1e6;
    state.counters["p90_us"] = samples[samples.size() * 9 / 10] * 1e6;
}

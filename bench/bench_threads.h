// The thread counts every benchmark runs at, as its last argument: one, the
// powers of two below the machine's cores, and the cores themselves (on
// two cores 1 and 2; on eight 1, 2, 4 and 8), so a plot against threads
// shows how a pass scales where the machine allows.
#pragma once

#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

namespace lumafex {

inline int ThreadsOfMachine() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 1 ? static_cast<int>(cores) : 1;
}

inline std::vector<int> ThreadCounts() {
    std::vector<int> counts;
    for (int n = 1; n < ThreadsOfMachine(); n *= 2) counts.push_back(n);
    counts.push_back(ThreadsOfMachine());
    return counts;
}

// Adds the thread counts after any earlier arguments.
inline void ThreadArguments(benchmark::internal::Benchmark* b) {
    for (int threads : ThreadCounts()) b->Arg(threads);
}

}  // namespace lumafex

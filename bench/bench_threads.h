// The thread counts every benchmark runs at, as its last argument: one, and
// the machine's cores when there are more.
#pragma once

#include <benchmark/benchmark.h>

#include <thread>

namespace lumafex {

inline int ThreadsOfMachine() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 1 ? static_cast<int>(cores) : 1;
}

// Adds the thread counts after any earlier arguments.
inline void ThreadArguments(benchmark::internal::Benchmark* b) {
    b->Arg(1);
    if (ThreadsOfMachine() > 1) b->Arg(ThreadsOfMachine());
}

}  // namespace lumafex

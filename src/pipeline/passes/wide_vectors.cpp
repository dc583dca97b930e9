#include "pipeline/passes/wide_vectors.h"

#include <atomic>

namespace lumafex {

namespace {

std::atomic<bool> allowed{true};

bool ProcessorHasThem() {
#if LUMAFEX_WIDE_VECTORS
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

}  // namespace

bool WideVectorsAvailable() {
    static const bool present = ProcessorHasThem();
    return present && allowed.load(std::memory_order_relaxed);
}

void AllowWideVectors(bool allow) { allowed.store(allow, std::memory_order_relaxed); }

}  // namespace lumafex

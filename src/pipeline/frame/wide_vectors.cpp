#include "pipeline/frame/wide_vectors.h"

#include <atomic>

namespace lumafex {

namespace {

std::atomic<bool> g_allowed{true};

#if LUMAFEX_WIDE_VECTORS
// The single-precision lanes of the softer passes use the fused
// multiply-add beside AVX2; every processor with AVX2 so far has both.
bool ProcessorHasAvx2AndFma() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0;
}
bool ProcessorHasAvx() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;
}
#else
bool ProcessorHasAvx2AndFma() { return false; }
bool ProcessorHasAvx() { return false; }
#endif

}  // namespace

bool WideVectorsAvailable() {
    static const bool present = ProcessorHasAvx2AndFma();
    return present && g_allowed.load(std::memory_order_relaxed);
}

bool WideDoubleVectorsAvailable() {
    static const bool present = ProcessorHasAvx();
    return present && g_allowed.load(std::memory_order_relaxed);
}

void AllowWideVectors(bool allow) { g_allowed.store(allow, std::memory_order_relaxed); }

}  // namespace lumafex

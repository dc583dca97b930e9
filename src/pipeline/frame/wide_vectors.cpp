#include "pipeline/frame/wide_vectors.h"

#include <atomic>

namespace lumafex {

namespace {

std::atomic<bool> g_allowed{true};

#if LUMAFEX_WIDE_VECTORS
bool ProcessorHas(const char* feature) {
    __builtin_cpu_init();
    // __builtin_cpu_supports takes only literals.
    return feature[3] == '2' ? __builtin_cpu_supports("avx2") != 0
                             : __builtin_cpu_supports("avx") != 0;
}
#else
bool ProcessorHas(const char*) { return false; }
#endif

}  // namespace

bool WideVectorsAvailable() {
    static const bool present = ProcessorHas("avx2");
    return present && g_allowed.load(std::memory_order_relaxed);
}

bool WideDoubleVectorsAvailable() {
    static const bool present = ProcessorHas("avx");
    return present && g_allowed.load(std::memory_order_relaxed);
}

void AllowWideVectors(bool allow) { g_allowed.store(allow, std::memory_order_relaxed); }

}  // namespace lumafex

#include "pipeline/frame/wide_vectors.h"

namespace lumafex {

namespace {

InstructionSet Detect() {
#if LUMAFEX_WIDE_VECTORS
    __builtin_cpu_init();
    // The single-precision lanes of the softer passes use the fused
    // multiply-add beside AVX2; every processor with AVX2 so far has both.
    if (__builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0) {
        return InstructionSet::Avx2Fma;
    }
    if (__builtin_cpu_supports("avx") != 0) return InstructionSet::Avx;
#endif
    return InstructionSet::Sse2;
}

}  // namespace

InstructionSet ProcessorInstructionSet() {
    static const InstructionSet set = Detect();
    return set;
}

const char* InstructionSetName(InstructionSet set) {
    switch (set) {
        case InstructionSet::Sse2: return "SSE2";
        case InstructionSet::Avx: return "AVX";
        case InstructionSet::Avx2Fma: return "AVX2+FMA";
    }
    return "?";
}

}  // namespace lumafex

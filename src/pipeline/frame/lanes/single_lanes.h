// Single-precision lanes for the passes' comparisons of depths: SSE2 (4
// floats, the baseline of every x86 target) and, where the frame's
// instruction set allows it, AVX (8). Both offer the same operations with
// the same results per lane, so a loop written over one gives the bytes of
// the other. (The eight lanes with the fused multiply-add are in
// double_lanes.h.)
#pragma once

#include <cstdint>

#include "pipeline/frame/wide_vectors.h"

#if defined(__SSE2__)
#define LUMAFEX_SINGLE_LANES 1
#include <emmintrin.h>
#if LUMAFEX_WIDE_VECTORS
#include <immintrin.h>
#endif
#else
#define LUMAFEX_SINGLE_LANES 0
#endif

namespace lumafex {

#if LUMAFEX_SINGLE_LANES

struct Sse2SingleLanes {
    using V = __m128;
    static constexpr int32_t kCount = 4;
    [[gnu::always_inline]] static V Load(const float* p) { return _mm_loadu_ps(p); }
    [[gnu::always_inline]] static void Store(float* p, V v) { _mm_storeu_ps(p, v); }
    [[gnu::always_inline]] static V Set(float v) { return _mm_set1_ps(v); }
    // a > b ? a : b, lane by lane (so b where either is a NaN).
    [[gnu::always_inline]] static V Max(V a, V b) { return _mm_max_ps(a, b); }
    // Lane k of the result's bit k: a > b (false where either is a NaN).
    [[gnu::always_inline]] static uint32_t GreaterBits(V a, V b) {
        return static_cast<uint32_t>(_mm_movemask_ps(_mm_cmpgt_ps(a, b)));
    }
};

#if LUMAFEX_WIDE_VECTORS
#define LUMAFEX_AVX_LANE [[gnu::always_inline, gnu::target("avx")]] static inline
struct AvxSingleLanes {
    using V = __m256;
    static constexpr int32_t kCount = 8;
    LUMAFEX_AVX_LANE V Load(const float* p) { return _mm256_loadu_ps(p); }
    LUMAFEX_AVX_LANE void Store(float* p, V v) { _mm256_storeu_ps(p, v); }
    LUMAFEX_AVX_LANE V Set(float v) { return _mm256_set1_ps(v); }
    LUMAFEX_AVX_LANE V Max(V a, V b) { return _mm256_max_ps(a, b); }
    LUMAFEX_AVX_LANE uint32_t GreaterBits(V a, V b) {
        return static_cast<uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(a, b, _CMP_GT_OQ)));
    }
};
#undef LUMAFEX_AVX_LANE
#endif

#endif

}  // namespace lumafex

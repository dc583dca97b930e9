// Signed 16-bit lanes holding channel bytes, for the row loops of the
// final pass: SSE2 (8 lanes, the baseline of every x86 target) and,
// where the wide-vector dispatch allows it, AVX2 (16 lanes). Both offer the
// same operations with the same results per lane, so one loop written over
// either gives the same bytes.
#pragma once

#include <cstdint>

#include "pipeline/frame/wide_vectors.h"

#if defined(__SSE2__)
#define LUMAFEX_SHORT_LANES 1
#include <emmintrin.h>
#if LUMAFEX_WIDE_VECTORS
#include <immintrin.h>
#endif
#else
#define LUMAFEX_SHORT_LANES 0
#endif

namespace lumafex {

#if LUMAFEX_SHORT_LANES

struct Sse2ShortLanes {
    using V = __m128i;
    static constexpr int32_t kCount = 8;
    static V Load(const uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    }
    // Stores lanes holding 0..255.
    static void Store(uint8_t* p, V v) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v, v));
    }
    static V Set(int16_t v) { return _mm_set1_epi16(v); }
    static V Zero() { return _mm_setzero_si128(); }
    static V Add(V a, V b) { return _mm_add_epi16(a, b); }
    static V Sub(V a, V b) { return _mm_sub_epi16(a, b); }
    static V Max(V a, V b) { return _mm_max_epi16(a, b); }
    static V Min(V a, V b) { return _mm_min_epi16(a, b); }
    static V Abs(V a) { return _mm_max_epi16(a, _mm_sub_epi16(_mm_setzero_si128(), a)); }
    static V Greater(V a, V b) { return _mm_cmpgt_epi16(a, b); }
    static V Equal(V a, V b) { return _mm_cmpeq_epi16(a, b); }
    static V And(V a, V b) { return _mm_and_si128(a, b); }
    static V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }  // ~a & b
    static V Or(V a, V b) { return _mm_or_si128(a, b); }
    static V MulHigh(V a, V b) { return _mm_mulhi_epi16(a, b); }
    static V Times128(V a) { return _mm_slli_epi16(a, 7); }
    static V ShiftRight(V a, int32_t n) { return _mm_sra_epi16(a, _mm_cvtsi32_si128(n)); }
};

#if LUMAFEX_WIDE_VECTORS
#define LUMAFEX_AVX2_LANE [[gnu::always_inline, gnu::target("avx2")]] static inline
struct Avx2ShortLanes {
    using V = __m256i;
    static constexpr int32_t kCount = 16;
    LUMAFEX_AVX2_LANE V Load(const uint8_t* p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    LUMAFEX_AVX2_LANE void Store(uint8_t* p, V v) {
        const __m128i packed = _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), packed);
    }
    LUMAFEX_AVX2_LANE V Set(int16_t v) { return _mm256_set1_epi16(v); }
    LUMAFEX_AVX2_LANE V Zero() { return _mm256_setzero_si256(); }
    LUMAFEX_AVX2_LANE V Add(V a, V b) { return _mm256_add_epi16(a, b); }
    LUMAFEX_AVX2_LANE V Sub(V a, V b) { return _mm256_sub_epi16(a, b); }
    LUMAFEX_AVX2_LANE V Max(V a, V b) { return _mm256_max_epi16(a, b); }
    LUMAFEX_AVX2_LANE V Min(V a, V b) { return _mm256_min_epi16(a, b); }
    LUMAFEX_AVX2_LANE V Abs(V a) { return _mm256_abs_epi16(a); }
    LUMAFEX_AVX2_LANE V Greater(V a, V b) { return _mm256_cmpgt_epi16(a, b); }
    LUMAFEX_AVX2_LANE V Equal(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
    LUMAFEX_AVX2_LANE V And(V a, V b) { return _mm256_and_si256(a, b); }
    LUMAFEX_AVX2_LANE V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
    LUMAFEX_AVX2_LANE V Or(V a, V b) { return _mm256_or_si256(a, b); }
    LUMAFEX_AVX2_LANE V MulHigh(V a, V b) { return _mm256_mulhi_epi16(a, b); }
    LUMAFEX_AVX2_LANE V Times128(V a) { return _mm256_slli_epi16(a, 7); }
    LUMAFEX_AVX2_LANE V ShiftRight(V a, int32_t n) { return _mm256_sra_epi16(a, _mm_cvtsi32_si128(n)); }
};
#undef LUMAFEX_AVX2_LANE
#endif

#endif

}  // namespace lumafex

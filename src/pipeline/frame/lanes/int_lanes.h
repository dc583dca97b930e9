// Integer lanes for the sums of the plain blur: 16-bit words that wrap
// modulo 2^16 (the narrow blur's sums) and signed 32-bit ints (averaging,
// and the 32-bit column sums). SSE2 (the baseline of every x86 target) and,
// where the wide-vector dispatch allows it, AVX2 with twice the lanes. The
// forms of one kind offer the same operations with the same results per
// lane, so one loop written over either gives the same bytes.
#pragma once

#include <cstdint>
#include <cstring>

#include "pipeline/frame/wide_vectors.h"

#if defined(__SSE2__)
#define LUMAFEX_INT_LANES 1
#include <emmintrin.h>
#if LUMAFEX_WIDE_VECTORS
#include <immintrin.h>
#endif
#else
#define LUMAFEX_INT_LANES 0
#endif

namespace lumafex {

#if LUMAFEX_INT_LANES

#define LUMAFEX_SSE2_LANE [[gnu::always_inline]] static inline

// Eight 16-bit words.
struct Sse2WordLanes {
    using V = __m128i;
    static constexpr int32_t kCount = 8;
    LUMAFEX_SSE2_LANE V Load(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    LUMAFEX_SSE2_LANE void Store(uint16_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
    // kCount bytes, one to a lane.
    LUMAFEX_SSE2_LANE V LoadBytes(const uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const V*>(p)), _mm_setzero_si128());
    }
    // Stores lanes holding 0..255 as kCount bytes.
    LUMAFEX_SSE2_LANE void StoreBytes(uint8_t* p, V v) {
        _mm_storel_epi64(reinterpret_cast<V*>(p), _mm_packus_epi16(v, v));
    }
    LUMAFEX_SSE2_LANE V Set(int16_t v) { return _mm_set1_epi16(v); }
    LUMAFEX_SSE2_LANE V Zero() { return _mm_setzero_si128(); }
    LUMAFEX_SSE2_LANE V Add(V a, V b) { return _mm_add_epi16(a, b); }
    LUMAFEX_SSE2_LANE V Sub(V a, V b) { return _mm_sub_epi16(a, b); }
    // a - b, or 0 where b exceeds a (unsigned).
    LUMAFEX_SSE2_LANE V SubOrZero(V a, V b) { return _mm_subs_epu16(a, b); }
    // The low and (unsigned) high 16 bits of the product.
    LUMAFEX_SSE2_LANE V MulLow(V a, V b) { return _mm_mullo_epi16(a, b); }
    LUMAFEX_SSE2_LANE V MulHigh(V a, V b) { return _mm_mulhi_epu16(a, b); }
    LUMAFEX_SSE2_LANE V And(V a, V b) { return _mm_and_si128(a, b); }
    LUMAFEX_SSE2_LANE V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }  // ~a & b
    LUMAFEX_SSE2_LANE V Or(V a, V b) { return _mm_or_si128(a, b); }
    LUMAFEX_SSE2_LANE V Xor(V a, V b) { return _mm_xor_si128(a, b); }
    LUMAFEX_SSE2_LANE V Equal(V a, V b) { return _mm_cmpeq_epi16(a, b); }
    LUMAFEX_SSE2_LANE V Greater(V a, V b) { return _mm_cmpgt_epi16(a, b); }  // signed
    // Each lane plus the lanes before it, plus carry.
    LUMAFEX_SSE2_LANE V RunningSums(V v, V carry) {
        v = _mm_add_epi16(v, _mm_slli_si128(v, 2));
        v = _mm_add_epi16(v, _mm_slli_si128(v, 4));
        v = _mm_add_epi16(v, _mm_slli_si128(v, 8));
        return _mm_add_epi16(v, carry);
    }
    // The last lane in every lane.
    LUMAFEX_SSE2_LANE V Last(V v) {
        const V high = _mm_shufflehi_epi16(v, 0xFF);
        return _mm_unpackhi_epi64(high, high);
    }
    LUMAFEX_SSE2_LANE uint16_t LastLane(V v) { return static_cast<uint16_t>(_mm_extract_epi16(v, 7)); }
};

// Four signed 32-bit ints.
struct Sse2IntLanes {
    using V = __m128i;
    static constexpr int32_t kCount = 4;
    // Single-precision values, one per lane.
    using Singles = __m128;
    // Double-precision values, one per lane, in two registers.
    struct Doubles {
        __m128d low, high;
    };
    LUMAFEX_SSE2_LANE V Load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    LUMAFEX_SSE2_LANE void Store(uint32_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
    // kCount bytes or 16-bit words, one to a lane.
    LUMAFEX_SSE2_LANE V LoadBytes(const uint8_t* p) {
        int32_t four;
        std::memcpy(&four, p, sizeof four);
        const V zero = _mm_setzero_si128();
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero), zero);
    }
    LUMAFEX_SSE2_LANE V LoadWords(const uint16_t* p) {
        return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const V*>(p)), _mm_setzero_si128());
    }
    // Stores lanes holding 0..255 as kCount bytes.
    LUMAFEX_SSE2_LANE void StoreBytes(uint8_t* p, V v) {
        const V words = _mm_packs_epi32(v, v);
        const int32_t four = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        std::memcpy(p, &four, sizeof four);
    }
    LUMAFEX_SSE2_LANE V Set(int32_t v) { return _mm_set1_epi32(v); }
    LUMAFEX_SSE2_LANE V Zero() { return _mm_setzero_si128(); }
    LUMAFEX_SSE2_LANE V Add(V a, V b) { return _mm_add_epi32(a, b); }
    LUMAFEX_SSE2_LANE V Sub(V a, V b) { return _mm_sub_epi32(a, b); }
    // The low 32 bits of the product, from the two 64-bit products of the
    // even and of the odd lanes.
    LUMAFEX_SSE2_LANE V Mul(V a, V b) {
        const V even = _mm_mul_epu32(a, b);
        const V odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
        return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, 0x08), _mm_shuffle_epi32(odd, 0x08));
    }
    LUMAFEX_SSE2_LANE V Min(V a, V b) {
        const V greater = _mm_cmpgt_epi32(a, b);
        return _mm_or_si128(_mm_and_si128(greater, b), _mm_andnot_si128(greater, a));
    }
    LUMAFEX_SSE2_LANE V And(V a, V b) { return _mm_and_si128(a, b); }
    LUMAFEX_SSE2_LANE V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }  // ~a & b
    LUMAFEX_SSE2_LANE V Or(V a, V b) { return _mm_or_si128(a, b); }
    LUMAFEX_SSE2_LANE V Equal(V a, V b) { return _mm_cmpeq_epi32(a, b); }
    LUMAFEX_SSE2_LANE V Greater(V a, V b) { return _mm_cmpgt_epi32(a, b); }
    LUMAFEX_SSE2_LANE V ShiftRight(V a, int32_t n) { return _mm_sra_epi32(a, _mm_cvtsi32_si128(n)); }
    // Each lane plus the lanes before it, plus carry (modulo 2^32).
    LUMAFEX_SSE2_LANE V RunningSums(V v, V carry) {
        v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
        v = _mm_add_epi32(v, _mm_slli_si128(v, 8));
        return _mm_add_epi32(v, carry);
    }
    // The last lane in every lane.
    LUMAFEX_SSE2_LANE V Last(V v) { return _mm_shuffle_epi32(v, 0xFF); }
    LUMAFEX_SSE2_LANE uint32_t LastLane(V v) {
        return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(v, 0xFF)));
    }
    // fl(1 / d) per lane, d converted exactly (|d| below 2^24).
    LUMAFEX_SSE2_LANE Singles InverseSingle(V d) { return _mm_div_ps(_mm_set1_ps(1.0f), _mm_cvtepi32_ps(d)); }
    // The whole part of fl(fl(num + 0.5) x inverse), num below 2^23.
    LUMAFEX_SSE2_LANE V MidpointTimes(V num, Singles inverse) {
        return _mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(_mm_cvtepi32_ps(num), _mm_set1_ps(0.5f)), inverse));
    }
    // fl(1 / d) per lane in double precision.
    LUMAFEX_SSE2_LANE Doubles InverseDouble(V d) {
        const __m128d one = _mm_set1_pd(1.0);
        return {_mm_div_pd(one, _mm_cvtepi32_pd(d)),
                _mm_div_pd(one, _mm_cvtepi32_pd(_mm_shuffle_epi32(d, 0xEE)))};
    }
    // The whole part of fl((num + 0.5) x inverse) in double precision.
    LUMAFEX_SSE2_LANE V MidpointTimes(V num, const Doubles& inverse) {
        const __m128d half = _mm_set1_pd(0.5);
        const __m128d low = _mm_add_pd(_mm_cvtepi32_pd(num), half);
        const __m128d high = _mm_add_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(num, 0xEE)), half);
        return _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_mul_pd(low, inverse.low)),
                                  _mm_cvttpd_epi32(_mm_mul_pd(high, inverse.high)));
    }
};

#undef LUMAFEX_SSE2_LANE

#if LUMAFEX_WIDE_VECTORS
#define LUMAFEX_AVX2_LANE [[gnu::always_inline, gnu::target("avx2")]] static inline

// Sixteen 16-bit words.
struct Avx2WordLanes {
    using V = __m256i;
    static constexpr int32_t kCount = 16;
    LUMAFEX_AVX2_LANE V Load(const uint16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    LUMAFEX_AVX2_LANE void Store(uint16_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    LUMAFEX_AVX2_LANE V LoadBytes(const uint8_t* p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    LUMAFEX_AVX2_LANE void StoreBytes(uint8_t* p, V v) {
        const __m128i packed = _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), packed);
    }
    LUMAFEX_AVX2_LANE V Set(int16_t v) { return _mm256_set1_epi16(v); }
    LUMAFEX_AVX2_LANE V Zero() { return _mm256_setzero_si256(); }
    LUMAFEX_AVX2_LANE V Add(V a, V b) { return _mm256_add_epi16(a, b); }
    LUMAFEX_AVX2_LANE V Sub(V a, V b) { return _mm256_sub_epi16(a, b); }
    LUMAFEX_AVX2_LANE V SubOrZero(V a, V b) { return _mm256_subs_epu16(a, b); }
    LUMAFEX_AVX2_LANE V MulLow(V a, V b) { return _mm256_mullo_epi16(a, b); }
    LUMAFEX_AVX2_LANE V MulHigh(V a, V b) { return _mm256_mulhi_epu16(a, b); }
    LUMAFEX_AVX2_LANE V And(V a, V b) { return _mm256_and_si256(a, b); }
    LUMAFEX_AVX2_LANE V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
    LUMAFEX_AVX2_LANE V Or(V a, V b) { return _mm256_or_si256(a, b); }
    LUMAFEX_AVX2_LANE V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
    LUMAFEX_AVX2_LANE V Equal(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
    LUMAFEX_AVX2_LANE V Greater(V a, V b) { return _mm256_cmpgt_epi16(a, b); }
    // Sums within each 128-bit half, then the low half's total added to
    // the high half.
    LUMAFEX_AVX2_LANE V RunningSums(V v, V carry) {
        v = _mm256_add_epi16(v, _mm256_slli_si256(v, 2));
        v = _mm256_add_epi16(v, _mm256_slli_si256(v, 4));
        v = _mm256_add_epi16(v, _mm256_slli_si256(v, 8));
        const V lowHalf = _mm256_permute2x128_si256(v, v, 0x08);  // zero, then the low half
        const V lowLast = _mm256_shufflehi_epi16(lowHalf, 0xFF);
        v = _mm256_add_epi16(v, _mm256_unpackhi_epi64(lowLast, lowLast));
        return _mm256_add_epi16(v, carry);
    }
    LUMAFEX_AVX2_LANE V Last(V v) {
        const V top = _mm256_permute4x64_epi64(v, 0xFF);
        return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(top, 0xFF), 0xFF);
    }
    LUMAFEX_AVX2_LANE uint16_t LastLane(V v) { return static_cast<uint16_t>(_mm256_extract_epi16(v, 15)); }
};

// Eight signed 32-bit ints.
struct Avx2IntLanes {
    using V = __m256i;
    static constexpr int32_t kCount = 8;
    using Singles = __m256;
    struct Doubles {
        __m256d low, high;
    };
    LUMAFEX_AVX2_LANE V Load(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    LUMAFEX_AVX2_LANE void Store(uint32_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    LUMAFEX_AVX2_LANE V LoadBytes(const uint8_t* p) {
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    }
    LUMAFEX_AVX2_LANE V LoadWords(const uint16_t* p) {
        return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    LUMAFEX_AVX2_LANE void StoreBytes(uint8_t* p, V v) {
        const V words = _mm256_packs_epi32(v, v);
        const V bytes = _mm256_packus_epi16(words, words);  // four per half, repeated
        const __m128i eight =
            _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), eight);
    }
    LUMAFEX_AVX2_LANE V Set(int32_t v) { return _mm256_set1_epi32(v); }
    LUMAFEX_AVX2_LANE V Zero() { return _mm256_setzero_si256(); }
    LUMAFEX_AVX2_LANE V Add(V a, V b) { return _mm256_add_epi32(a, b); }
    LUMAFEX_AVX2_LANE V Sub(V a, V b) { return _mm256_sub_epi32(a, b); }
    LUMAFEX_AVX2_LANE V Mul(V a, V b) { return _mm256_mullo_epi32(a, b); }
    LUMAFEX_AVX2_LANE V Min(V a, V b) { return _mm256_min_epi32(a, b); }
    LUMAFEX_AVX2_LANE V And(V a, V b) { return _mm256_and_si256(a, b); }
    LUMAFEX_AVX2_LANE V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
    LUMAFEX_AVX2_LANE V Or(V a, V b) { return _mm256_or_si256(a, b); }
    LUMAFEX_AVX2_LANE V Equal(V a, V b) { return _mm256_cmpeq_epi32(a, b); }
    LUMAFEX_AVX2_LANE V Greater(V a, V b) { return _mm256_cmpgt_epi32(a, b); }
    LUMAFEX_AVX2_LANE V ShiftRight(V a, int32_t n) { return _mm256_sra_epi32(a, _mm_cvtsi32_si128(n)); }
    LUMAFEX_AVX2_LANE V RunningSums(V v, V carry) {
        v = _mm256_add_epi32(v, _mm256_slli_si256(v, 4));
        v = _mm256_add_epi32(v, _mm256_slli_si256(v, 8));
        const V lowHalf = _mm256_permute2x128_si256(v, v, 0x08);  // zero, then the low half
        v = _mm256_add_epi32(v, _mm256_shuffle_epi32(lowHalf, 0xFF));
        return _mm256_add_epi32(v, carry);
    }
    LUMAFEX_AVX2_LANE V Last(V v) { return _mm256_shuffle_epi32(_mm256_permute4x64_epi64(v, 0xFF), 0xFF); }
    LUMAFEX_AVX2_LANE uint32_t LastLane(V v) { return static_cast<uint32_t>(_mm256_extract_epi32(v, 7)); }
    LUMAFEX_AVX2_LANE Singles InverseSingle(V d) {
        return _mm256_div_ps(_mm256_set1_ps(1.0f), _mm256_cvtepi32_ps(d));
    }
    LUMAFEX_AVX2_LANE V MidpointTimes(V num, Singles inverse) {
        return _mm256_cvttps_epi32(
            _mm256_mul_ps(_mm256_add_ps(_mm256_cvtepi32_ps(num), _mm256_set1_ps(0.5f)), inverse));
    }
    LUMAFEX_AVX2_LANE Doubles InverseDouble(V d) {
        const __m256d one = _mm256_set1_pd(1.0);
        return {_mm256_div_pd(one, _mm256_cvtepi32_pd(_mm256_castsi256_si128(d))),
                _mm256_div_pd(one, _mm256_cvtepi32_pd(_mm256_extracti128_si256(d, 1)))};
    }
    LUMAFEX_AVX2_LANE V MidpointTimes(V num, const Doubles& inverse) {
        const __m256d half = _mm256_set1_pd(0.5);
        const __m256d low = _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(num)), half);
        const __m256d high = _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(num, 1)), half);
        return _mm256_set_m128i(_mm256_cvttpd_epi32(_mm256_mul_pd(high, inverse.high)),
                                _mm256_cvttpd_epi32(_mm256_mul_pd(low, inverse.low)));
    }
};

#undef LUMAFEX_AVX2_LANE
#endif

#endif

}  // namespace lumafex

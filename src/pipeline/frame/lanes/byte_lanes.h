// Unsigned 8-bit lanes holding channel bytes as they lie in a plane, for the
// table lookups, selections and byte moves of the final pass: SSE2 (16
// lanes, the baseline of every x86 target) and, where the frame's
// instruction set allows it, AVX2 (32 lanes). Both offer the same
// operations with the same results per lane, so one loop written over
// either gives the same bytes. A mask is a lane of all ones or all zeros.
#pragma once

#include <cstdint>
#include <cstring>

#include "pipeline/frame/wide_vectors.h"

#if defined(__SSE2__)
#define LUMAFEX_BYTE_LANES 1
#include <emmintrin.h>
#if LUMAFEX_WIDE_VECTORS
#include <immintrin.h>
#endif
#else
#define LUMAFEX_BYTE_LANES 0
#endif

namespace lumafex {

#if LUMAFEX_BYTE_LANES

struct Sse2ByteLanes {
    using V = __m128i;
    static constexpr int32_t kCount = 16;
    static V Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void Store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static V Set(uint8_t v) { return _mm_set1_epi8(static_cast<char>(v)); }
    static V Zero() { return _mm_setzero_si128(); }
    static V Ones() { return _mm_cmpeq_epi8(Zero(), Zero()); }
    static V SubWrap(V a, V b) { return _mm_sub_epi8(a, b); }
    static V SubSaturate(V a, V b) { return _mm_subs_epu8(a, b); }
    static V Equal(V a, V b) { return _mm_cmpeq_epi8(a, b); }
    static V And(V a, V b) { return _mm_and_si128(a, b); }
    static V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }  // ~a & b
    static V Or(V a, V b) { return _mm_or_si128(a, b); }
    // a where mask is set, b elsewhere.
    static V Select(V mask, V a, V b) { return Or(And(mask, a), AndNot(mask, b)); }
    static bool Any(V mask) { return _mm_movemask_epi8(mask) != 0; }
    // The lanes in reverse order: the four words reversed, then the halves
    // of each word swapped, then the bytes of each half.
    static V Reverse(V v) {
        v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
        v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
        v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
        return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
    }
    // table[indices[i]] for every lane. SSE2 has no byte shuffle, so the
    // indices are read a machine word at a time and taken apart in
    // registers, which keeps the loads few next to the lookups.
    static V LookUp(const uint8_t* table, const uint8_t* indices) {
#if defined(__x86_64__)
        using Word = uint64_t;
#else
        using Word = uint32_t;
#endif
        constexpr int kBytes = static_cast<int>(sizeof(Word));
        Word in[16 / kBytes];
        std::memcpy(in, indices, sizeof in);
        Word out[16 / kBytes] = {};
        for (int i = 0; i < 16; ++i) {
            const auto index = static_cast<uint32_t>((in[i / kBytes] >> (8 * (i % kBytes))) & 0xFFu);
            out[i / kBytes] |= static_cast<Word>(table[index]) << (8 * (i % kBytes));
        }
#if defined(__x86_64__)
        return _mm_set_epi64x(static_cast<long long>(out[1]), static_cast<long long>(out[0]));
#else
        return _mm_set_epi32(static_cast<int>(out[3]), static_cast<int>(out[2]), static_cast<int>(out[1]),
                             static_cast<int>(out[0]));
#endif
    }
};

#if LUMAFEX_WIDE_VECTORS
#define LUMAFEX_AVX2_LANE [[gnu::always_inline, gnu::target("avx2")]] static inline
struct Avx2ByteLanes {
    using V = __m256i;
    static constexpr int32_t kCount = 32;
    LUMAFEX_AVX2_LANE V Load(const uint8_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    LUMAFEX_AVX2_LANE void Store(uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    LUMAFEX_AVX2_LANE V Set(uint8_t v) { return _mm256_set1_epi8(static_cast<char>(v)); }
    LUMAFEX_AVX2_LANE V Zero() { return _mm256_setzero_si256(); }
    LUMAFEX_AVX2_LANE V Ones() { return _mm256_cmpeq_epi8(Zero(), Zero()); }
    LUMAFEX_AVX2_LANE V SubWrap(V a, V b) { return _mm256_sub_epi8(a, b); }
    LUMAFEX_AVX2_LANE V SubSaturate(V a, V b) { return _mm256_subs_epu8(a, b); }
    LUMAFEX_AVX2_LANE V Equal(V a, V b) { return _mm256_cmpeq_epi8(a, b); }
    LUMAFEX_AVX2_LANE V And(V a, V b) { return _mm256_and_si256(a, b); }
    LUMAFEX_AVX2_LANE V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
    LUMAFEX_AVX2_LANE V Or(V a, V b) { return _mm256_or_si256(a, b); }
    LUMAFEX_AVX2_LANE V Select(V mask, V a, V b) { return _mm256_blendv_epi8(b, a, mask); }
    LUMAFEX_AVX2_LANE bool Any(V mask) { return !_mm256_testz_si256(mask, mask); }
    LUMAFEX_AVX2_LANE V Reverse(V v) {
        const __m256i inHalves = _mm256_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1,
                                                 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        return _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, inHalves), _MM_SHUFFLE(1, 0, 3, 2));
    }
    // The byte shuffle picks from sixteen bytes by the low four bits of each
    // index and yields 0 where the index's top bit is set. The table goes in
    // sixteen pieces: adding 0x70 with saturation sets the top bit of every
    // index of 16 or more and keeps the low four bits of the others, so each
    // piece gives the bytes of the indices that fall in it and 0 elsewhere;
    // then 16 comes off every index (those that fell in it wrap to 240 and
    // more).
    LUMAFEX_AVX2_LANE V LookUp(const uint8_t* table, const uint8_t* indices) {
        const __m256i toTop = _mm256_set1_epi8(0x70);
        const __m256i piece = _mm256_set1_epi8(16);
        __m256i index = Load(indices);
        __m256i out = _mm256_setzero_si256();
        for (int k = 0; k < 16; ++k) {
            const __m256i bytes = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * k)));
            out = _mm256_or_si256(out, _mm256_shuffle_epi8(bytes, _mm256_adds_epu8(index, toTop)));
            index = _mm256_sub_epi8(index, piece);
        }
        return out;
    }
};
#undef LUMAFEX_AVX2_LANE
#endif

#endif

}  // namespace lumafex

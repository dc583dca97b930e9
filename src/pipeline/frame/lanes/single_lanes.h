// Single-precision lanes for the passes' comparisons of depths: SSE2 (4
// floats, the baseline of every x86 target) and, where the frame's
// instruction set allows it, AVX (8). Both offer the same operations with
// the same results per lane, so a loop written over one gives the bytes of
// the other. (The eight lanes with the fused multiply-add are in
// double_lanes.h.)
#pragma once

#include <cstdint>
#include <cstring>

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

// The colours of neighbouring pixels picked by a mask of bits (bit i:
// pixel i), summed without a branch for each: the picked bytes are kept by
// a mask of whole bytes and added up eight at a time, with a 1 for each.
class PickedColourSums {
public:
    // Adds the picked pixels among the Bytes (4 or 8) at red, green and
    // blue; picked is below 2^Bytes.
    template <int Bytes>
    [[gnu::always_inline]] void Add(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                                    uint32_t picked) {
        static_assert(Bytes == 4 || Bytes == 8);
        const uint64_t keep = kKeep[picked];
        const __m128i zero = _mm_setzero_si128();
        const __m128i redGreen = _mm_set_epi64x(static_cast<long long>(Read<Bytes>(green) & keep),
                                                static_cast<long long>(Read<Bytes>(red) & keep));
        const __m128i blueCount = _mm_set_epi64x(static_cast<long long>(keep & 0x0101010101010101u),
                                                 static_cast<long long>(Read<Bytes>(blue) & keep));
        redGreen_ = _mm_add_epi64(redGreen_, _mm_sad_epu8(redGreen, zero));
        blueCount_ = _mm_add_epi64(blueCount_, _mm_sad_epu8(blueCount, zero));
    }

    // sums (red, green, blue, count) += what was added.
    void AddTo(uint32_t sums[4]) const {
        uint64_t values[4];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(values), redGreen_);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(values + 2), blueCount_);
        for (int i = 0; i < 4; ++i) sums[i] += static_cast<uint32_t>(values[i]);
    }

private:
    // Bit i of the index: byte i all ones.
    static constexpr auto kKeep = [] {
        struct Table {
            uint64_t values[256];
            constexpr uint64_t operator[](uint32_t i) const { return values[i]; }
        } table{};
        for (uint32_t bits = 0; bits < 256; ++bits) {
            for (int i = 0; i < 8; ++i) {
                if ((bits >> i) & 1u) table.values[bits] |= uint64_t{0xFF} << (8 * i);
            }
        }
        return table;
    }();

    template <int Bytes>
    [[gnu::always_inline]] static uint64_t Read(const uint8_t* p) {
        if constexpr (Bytes == 8) {
            uint64_t v;
            std::memcpy(&v, p, sizeof v);
            return v;
        } else {
            uint32_t v;
            std::memcpy(&v, p, sizeof v);
            return v;
        }
    }

    __m128i redGreen_ = _mm_setzero_si128();
    __m128i blueCount_ = _mm_setzero_si128();
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

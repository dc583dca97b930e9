// The last step of the softer blur: every receiver's colour sums over its
// weight sum, each quotient rounded to double precision, limited to
// 0 .. 255 and truncated; a receiver whose weight sum is not above 0 keeps
// its own colour.
#pragma once

#include <cstdint>

#include "pipeline/frame/wide_vectors.h"

#if LUMAFEX_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace lumafex {

// out[x] = sum[x] / weight[x] limited and truncated, or own[x] (a NaN
// quotient limits to 0, and is not kept anyway). The limits are
// LimitToByte's, written as selects the compiler can work on many pixels
// at once; the rows are separate parameters, so that it knows they do not
// overlap.
[[gnu::always_inline]] inline void AverageRow(const double* __restrict sum,
                                              const double* __restrict weight,
                                              const uint8_t* __restrict own, int32_t width,
                                              uint8_t* __restrict out) {
    for (int32_t x = 0; x < width; ++x) {
        const double v = sum[x] / weight[x];
        double limited = v > 0.0 ? v : 0.0;
        limited = limited < 255.0 ? limited : 255.0;
        const auto average = static_cast<uint8_t>(static_cast<int32_t>(limited));
        const auto keep = static_cast<uint8_t>(weight[x] > 0.0 ? 0 : 0xFF);
        out[x] = static_cast<uint8_t>((average & ~keep) | (own[x] & keep));
    }
}

#if LUMAFEX_WIDE_VECTORS
// AverageRow for the three colours at once, with AVX2, four receivers at a
// time and one division for the three instead of three.
//
// Only the truncated quotient matters. q = sum x (1 / weight), with each
// step rounded to double, lies within about 2^-44 of sum / weight while
// that is below 256, and the rounded quotient within 2^-45: where q lies
// further than 2^-40 from every whole number, the two truncate alike, and
// where q is 256 or more, both limit to 255. Receivers for which neither
// holds, or whose weight is not a positive finite number, take the
// division. sums[3] is the weight row; reciprocals, when given, holds
// 1 / weight for each of its receivers, made once for rows that share
// their weights.
[[gnu::target("avx2")]] inline void AverageRowsWide(const double* const* sums,
                                                    const double* reciprocals,
                                                    const uint8_t* const* own, int32_t width,
                                                    uint8_t* const* out) {
    const __m256d zero = _mm256_setzero_pd();
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d top = _mm256_set1_pd(256.0);
    const __m256d limit = _mm256_set1_pd(255.0);
    const __m256d near = _mm256_set1_pd(0x1p-40);
    const __m256d far = _mm256_set1_pd(1.0 - 0x1p-40);
    const __m256d largest = _mm256_set1_pd(0x1p1000);
    int32_t x = 0;
    for (; width - x >= 4; x += 4) {
        const __m256d weight = _mm256_loadu_pd(sums[3] + x);
        // 0 < weight < 2^1000 (false for a NaN): a positive finite weight
        // whose reciprocal is a normal number.
        const __m256d sound = _mm256_and_pd(_mm256_cmp_pd(weight, zero, _CMP_GT_OQ),
                                            _mm256_cmp_pd(weight, largest, _CMP_LT_OQ));
        const int soundLanes = _mm256_movemask_pd(sound);
        // A byte of all ones for each receiver whose weight is above 0.
        const __m128i positive = _mm256_cvtpd_epi32(
            _mm256_and_pd(_mm256_cmp_pd(weight, zero, _CMP_GT_OQ), one));
        const auto taken = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_sub_epi8(
            _mm_setzero_si128(),
            _mm_packus_epi16(_mm_packs_epi32(positive, positive), _mm_setzero_si128()))));
        const __m256d reciprocal = reciprocals != nullptr ? _mm256_loadu_pd(reciprocals + x)
                                                          : _mm256_div_pd(one, weight);
        for (int c = 0; c < 3; ++c) {
            const __m256d sum = _mm256_loadu_pd(sums[c] + x);
            const __m256d q = _mm256_mul_pd(sum, reciprocal);
            const __m256d whole = _mm256_floor_pd(q);
            const __m256d fraction = _mm256_sub_pd(q, whole);
            const __m256d clear = _mm256_and_pd(
                _mm256_and_pd(_mm256_cmp_pd(q, zero, _CMP_GE_OQ),
                              _mm256_cmp_pd(fraction, near, _CMP_GE_OQ)),
                _mm256_cmp_pd(fraction, far, _CMP_LE_OQ));
            const __m256d beyond = _mm256_cmp_pd(q, top, _CMP_GE_OQ);
            __m256d limited = _mm256_min_pd(whole, limit);
            if ((_mm256_movemask_pd(_mm256_or_pd(clear, beyond)) & soundLanes) != 15) {
                // The limits as LimitToByte's: max(v, 0) yields 0 for a NaN.
                limited = _mm256_min_pd(_mm256_max_pd(_mm256_div_pd(sum, weight), zero), limit);
            }
            // Four whole numbers 0 .. 255, a byte each, where the weight is
            // above 0, and the receivers' own bytes elsewhere.
            const __m128i averages = _mm256_cvttpd_epi32(limited);
            const auto packed = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(
                _mm_packs_epi32(averages, averages), _mm_setzero_si128())));
            uint32_t mine = 0;
            __builtin_memcpy(&mine, own[c] + x, 4);
            const uint32_t result = (packed & taken) | (mine & ~taken);
            __builtin_memcpy(out[c] + x, &result, 4);
        }
    }
    for (int c = 0; c < 3; ++c) AverageRow(sums[c] + x, sums[3] + x, own[c] + x, width - x,
                                           out[c] + x);
}
#endif

}  // namespace lumafex

// One depth-of-field centre's contributions to a row of receivers, four
// receivers at a time with SSE2, for 32-bit sums.
//
// Each receiver that is not hidden behind the separator and takes part
// adds trunc(c x t + n x u) per channel, with t the smaller blur over the
// larger rounded to single precision (1 when the blurs are equal) and
// u = 1 - t in single precision, and counts one. t and u come from single-
// precision division and subtraction here: for single-precision operands
// these give exactly the double-precision result rounded to single, since
// a double carries more than twice a float's digits plus two. The mix
// itself is formed in double as everywhere else. Blurs are never NaN (a
// receiver that takes no part has a negative one), so the minimum and
// maximum are the smaller and the larger.
#pragma once

#include <cstdint>
#include <cstring>

#include "pipeline/passes/accumulators.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumafex {

// The receiving row's values the lanes read, from column 0.
struct ReceivingRow {
    const float* depth;
    const float* blur;
    const uint8_t* red;
    const uint8_t* green;
    const uint8_t* blue;
    SumCell<int32_t>* cells;
};

// The centre: its blur (above 0), depth and colour.
struct MixingCentre {
    float blur;
    double depth;
    uint8_t red, green, blue;
};

#if defined(__SSE2__)

namespace mixed_lanes_detail {

inline __m128i FourBytes(const uint8_t* p) {
    int32_t word;
    std::memcpy(&word, p, sizeof word);
    const __m128i zero = _mm_setzero_si128();
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero);
}

// trunc(c x t + n x u) of four receivers of one channel, formed in double.
inline __m128i Mix(__m128d c, const __m128d (&t)[2], const __m128d (&u)[2], __m128i n) {
    const __m128d n01 = _mm_cvtepi32_pd(n);
    const __m128d n23 = _mm_cvtepi32_pd(_mm_shuffle_epi32(n, _MM_SHUFFLE(3, 2, 3, 2)));
    const __m128d m01 = _mm_add_pd(_mm_mul_pd(c, t[0]), _mm_mul_pd(n01, u[0]));
    const __m128d m23 = _mm_add_pd(_mm_mul_pd(c, t[1]), _mm_mul_pd(n23, u[1]));
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(m01), _mm_cvttpd_epi32(m23));
}

inline void AddToCell(SumCell<int32_t>* cell, __m128i v) {
    auto* p = reinterpret_cast<__m128i*>(cell);
    _mm_storeu_si128(p, _mm_add_epi32(_mm_loadu_si128(p), v));
}

}  // namespace mixed_lanes_detail

// Adds the centre's contributions to the receivers first .. last of the
// row, four at a time, and returns the first column left for the caller.
// The last group may run past last, its extra lanes adding nothing, while
// the row has columns for all four (columns: the row's width); only at
// the row's right end can receivers be left.
inline int32_t MixFourAtATime(const ReceivingRow& row, const MixingCentre& centre,
                              double separator, int32_t first, int32_t last, int32_t columns) {
    using namespace mixed_lanes_detail;
    const __m128 bc = _mm_set1_ps(centre.blur);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128d dc = _mm_set1_pd(centre.depth);
    const __m128d sep = _mm_set1_pd(separator);
    const __m128d cr = _mm_set1_pd(centre.red);
    const __m128d cg = _mm_set1_pd(centre.green);
    const __m128d cb = _mm_set1_pd(centre.blue);
    const __m128i lastColumn = _mm_set1_epi32(last);
    const __m128i laneOffsets = _mm_set_epi32(3, 2, 1, 0);
    int32_t x = first;
    for (; x <= last && (last - x >= 3 || columns - x >= 4); x += 4) {
        // Hidden: depth + separator < the centre's depth, the sum in double.
        const __m128 d = _mm_loadu_ps(row.depth + x);
        const __m128d h01 = _mm_cmplt_pd(_mm_add_pd(_mm_cvtps_pd(d), sep), dc);
        const __m128d h23 = _mm_cmplt_pd(_mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(d, d)), sep), dc);
        const __m128 hidden =
            _mm_shuffle_ps(_mm_castpd_ps(h01), _mm_castpd_ps(h23), _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 bn = _mm_loadu_ps(row.blur + x);
        const __m128 past = _mm_castsi128_ps(
            _mm_cmpgt_epi32(_mm_add_epi32(_mm_set1_epi32(x), laneOffsets), lastColumn));
        const __m128 out =
            _mm_or_ps(_mm_or_ps(hidden, past), _mm_cmplt_ps(bn, _mm_setzero_ps()));
        if (_mm_movemask_ps(out) == 15) continue;
        const __m128 equal = _mm_cmpeq_ps(bn, bc);
        const __m128 ratio = _mm_div_ps(_mm_min_ps(bn, bc), _mm_max_ps(bn, bc));
        const __m128 t = _mm_or_ps(_mm_and_ps(equal, one), _mm_andnot_ps(equal, ratio));
        const __m128 u = _mm_sub_ps(one, t);
        const __m128d td[2] = {_mm_cvtps_pd(t), _mm_cvtps_pd(_mm_movehl_ps(t, t))};
        const __m128d ud[2] = {_mm_cvtps_pd(u), _mm_cvtps_pd(_mm_movehl_ps(u, u))};
        const __m128i take = _mm_castps_si128(_mm_andnot_ps(out, _mm_castsi128_ps(
                                                                   _mm_set1_epi32(-1))));
        const __m128i r = _mm_and_si128(Mix(cr, td, ud, FourBytes(row.red + x)), take);
        const __m128i g = _mm_and_si128(Mix(cg, td, ud, FourBytes(row.green + x)), take);
        const __m128i b = _mm_and_si128(Mix(cb, td, ud, FourBytes(row.blue + x)), take);
        const __m128i n = _mm_and_si128(_mm_set1_epi32(1), take);
        // From a channel per vector to a receiver per vector.
        const __m128i rg01 = _mm_unpacklo_epi32(r, g);
        const __m128i rg23 = _mm_unpackhi_epi32(r, g);
        const __m128i bn01 = _mm_unpacklo_epi32(b, n);
        const __m128i bn23 = _mm_unpackhi_epi32(b, n);
        SumCell<int32_t>* const cells = row.cells + x;
        AddToCell(cells, _mm_unpacklo_epi64(rg01, bn01));
        AddToCell(cells + 1, _mm_unpackhi_epi64(rg01, bn01));
        AddToCell(cells + 2, _mm_unpacklo_epi64(rg23, bn23));
        AddToCell(cells + 3, _mm_unpackhi_epi64(rg23, bn23));
    }
    return x;
}

#else

inline int32_t MixFourAtATime(const ReceivingRow&, const MixingCentre&, double, int32_t first,
                              int32_t, int32_t) {
    return first;
}

#endif

}  // namespace lumafex

// Conversions of real values to channel bytes shared by the stages.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumafex {

// Limits v to 0.0..255.0 and truncates toward zero. A NaN (possible only
// from a null channel) gives 0 instead of undefined behaviour.
// On SSE2 the limits are one max and one min instruction instead of jumps
// that detailed frames would mispredict; maxsd(v, 0) yields 0 for a NaN.
inline uint8_t LimitToByte(double v) {
#if defined(__SSE2__)
    const __m128d limited =
        _mm_min_sd(_mm_max_sd(_mm_set_sd(v), _mm_setzero_pd()), _mm_set_sd(255.0));
    return static_cast<uint8_t>(_mm_cvttsd_si32(limited));
#else
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v);
#endif
}

}  // namespace lumafex

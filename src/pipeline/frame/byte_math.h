// Conversions of real values to channel bytes shared by the stages.
#pragma once

#include <cstdint>

#include "pipeline/frame/lanes/double_lanes.h"

namespace lumafex {

// Limits v to 0.0..255.0 and truncates toward zero. A NaN (possible only
// from a null channel) gives 0 instead of undefined behaviour.
// On SSE2 the limits are one max and one min instruction instead of jumps
// that detailed frames would mispredict; Max(v, 0) yields 0 for a NaN.
inline uint8_t LimitToByte(double v) {
#if LUMAFEX_DOUBLE_LANES
    using L = Sse2DoubleLanes;
    double limited[L::kCount];
    L::Store(limited, L::Min(L::Max(L::Set(v), L::Zero()), L::Set(255.0)));
    return static_cast<uint8_t>(static_cast<int32_t>(limited[0]));
#else
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v);
#endif
}

}  // namespace lumafex

// Conversions of real values to channel bytes shared by the stages.
#pragma once

#include <cstdint>

namespace lumafex {

// Limits v to 0.0..255.0 and truncates toward zero. A NaN (possible only
// from a null channel) gives 0 instead of undefined behaviour.
inline uint8_t LimitToByte(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v);
}

}  // namespace lumafex

// Conversion of a null channel's value to a record integer.
#pragma once

#include <cstdint>
#include <limits>

namespace lumafex {

// trunc(v): v converted to an integer toward zero. A host can place an
// object anywhere, so values beyond the 32-bit range saturate at its ends
// and a NaN gives 0 instead of an undefined conversion.
inline int32_t TruncateChannelValue(double v) {
    if (v != v) return 0;
    // 2^31 and -2^31 - 1 are exact in double; everything strictly between
    // them truncates to a representable value.
    if (v >= 2147483648.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483649.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

}  // namespace lumafex

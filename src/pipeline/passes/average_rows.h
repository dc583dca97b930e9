// The last step of the softer blur: every receiver's colour sums over its
// weight sum, each quotient rounded to double precision, limited to
// 0 .. 255 and truncated; a receiver whose weight sum is not above 0 keeps
// its own colour. average_rows_lanes.h works on several receivers at once.
#pragma once

#include <cstdint>

namespace lumafex {

// out[x] = sum[x] / weight[x] limited and truncated, or own[x] (a NaN
// quotient limits to 0, and is not kept anyway). The limits are
// LimitToByte's, written as selects the compiler can work on many pixels
// at once; the rows are separate parameters, so that it knows they do not
// overlap.
[[gnu::always_inline]] inline void AverageRow(const double* __restrict sum, const double* __restrict weight,
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

}  // namespace lumafex

// What both forms of the plain blur share: how a receiver takes what it
// gathers, the values gathered per receiver, and whole-number division of
// their totals.
#pragma once

#include <cstdint>

#include "pipeline/frame/frame_view.h"
#include "pipeline/frame/selection.h"
#include "settings/filter_settings.h"

namespace lumafex::blur_sums {

// How a receiving pixel takes a contribution, by selection mode: the whole
// colour, the average of its own and the spread colour, or nothing.
enum class Take { Full, Half, None };

template <int32_t Mode>
inline Take TakeOf(const FilterSettings& s, const FrameView& f, std::size_t j) {
    if constexpr (Mode == kIncludeObjects) return f.alpha[j] != 0 ? Take::Full : Take::Half;
    if constexpr (Mode == kIncludeBackground) return f.alpha[j] == 0 ? Take::Full : Take::None;
    if constexpr (Mode == kIncludeShadows) return f.shadow[j] != 0 ? Take::Full : Take::Half;
    if constexpr (Mode == kIncludeColorRange) {
        return InColorRange(s, f.red[j], f.green[j], f.blue[j]) ? Take::Full : Take::Half;
    }
    return Take::Full;
}

// Whether some receivers of this mode average their own colour with the
// spread one; only those need the counts of odd values.
template <int32_t Mode>
constexpr bool kHasHalf =
    Mode == kIncludeObjects || Mode == kIncludeShadows || Mode == kIncludeColorRange;

// The sum of (own + c) / 2 over n spreading values c, each division dropping
// its remainder: (n x own + sum of c - number of odd own + c) / 2, where
// own + c is odd for the odd c when own is even and for the even c when
// own is odd. The numerator is even, so the division is exact.
inline int64_t HalfSum(int64_t own, int64_t n, int64_t sum, int64_t odd) {
    const int64_t oddTotals = (own & 1) != 0 ? n - odd : odd;
    return (n * own + sum - oddTotals) / 2;
}

// Reciprocals for whole-number division by 1 .. 256: with
// M = ceil(2^32 / d) = (2^32 + e) / d, 0 <= e < d, n x M / 2^32 exceeds
// n / d by n x e / (d x 2^32), less than 1 / d whenever n x e < 2^32; then
// the product truncates to the quotient n / d exactly. Here n < 2^17 and
// e < 2^8.
struct Reciprocals {
    uint64_t of[257];  // 2^32 itself for d = 1
    constexpr Reciprocals() : of{} {
        for (uint64_t d = 1; d <= 256; ++d) {
            of[d] = ((uint64_t{1} << 32) + d - 1) / d;
        }
    }
};
inline constexpr Reciprocals kReciprocals;

// numerator / denominator, truncated. Sixteen-bit sums come from footprints
// of at most 255 pixels (numerator below 2^17, denominator at most 256);
// larger ones divide in double precision, whose quotient of two whole
// numbers below 2^53 never rounds up to the next whole number.
template <typename U>
inline uint64_t Quotient(uint64_t numerator, uint64_t denominator) {
    if constexpr (sizeof(U) == 2) {
        return (numerator * kReciprocals.of[denominator]) >> 32;
    } else {
        return static_cast<uint64_t>(static_cast<double>(numerator) /
                                     static_cast<double>(denominator));
    }
}

// The gathered values: colour sums, count, and odd counts per channel.
constexpr int kValues = 7;
enum Value { kRed, kGreen, kBlue, kCount, kOddRed, kOddGreen, kOddBlue };

}  // namespace lumafex::blur_sums

// One strength k applied to a channel byte v against a difference d: the
// byte LimitToByte(d x k + v), for every d in -255..255. Enhance and
// antialias form it per frame in two shapes: a table for scalar code, and
// a multiply-and-shift on 16-bit lanes for vector code, checked against the
// table for every difference before it is used.
#pragma once

#include <cstdint>

namespace lumafex {

// LimitToByte(d x k + v) for a whole number v in 0..255 and a difference d
// in -255..255 is v + floor(d x k), limited to 0..255: d x k (k single
// precision) is exact in double, and so is adding v wherever the sum could
// land inside 0..255; far outside it both limit alike. So the pass keeps
// floor(d x k) per difference, held within -512..512 (a NaN product gives
// 0, as LimitToByte does), and no pixel converts to floating point.
struct StepTable {
    int16_t by[511];
    void Fill(double k);
    uint8_t Apply(int32_t v, int32_t d) const {
        const int32_t r = v + by[d + 255];
        return static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
    }
};

// The same steps as vector lanes compute them:
//   floor(floor((d x 128) x multiplier / 65536) / 2^shift)
// (the high half of a signed 16-bit product, then an arithmetic shift),
// plus a fixed correction at up to kMaxFixes differences where that misses
// the table. Lane sums v + step stay within 16 bits.
struct LaneSteps {
    static constexpr int kMaxFixes = 4;
    int16_t multiplier = 0;
    int32_t shift = 0;
    int32_t fixes = 0;
    int16_t fixAt[kMaxFixes] = {};
    int16_t fixBy[kMaxFixes] = {};

    // The step for difference d exactly as the lanes compute it.
    int32_t Step(int32_t d) const {
        const auto scaled = static_cast<int16_t>(d * 128);
        int32_t step = ((scaled * multiplier) >> 16) >> shift;
        for (int32_t i = 0; i < fixes; ++i) step += d == fixAt[i] ? fixBy[i] : 0;
        return step;
    }

    // Finds a form for strength k giving the table's byte for every v and
    // every d with |d| >= from (smaller differences are never applied).
    // False when none with kMaxFixes corrections exists (|k| of 64 or more,
    // or NaN); the caller then uses the table.
    bool Match(double k, const StepTable& table, int32_t from);

    // Whether Step(d) lies between 0 and d for every d with |d| >= from:
    // then v + Step(d) lies between v and v + d and needs no limiting.
    bool StaysBetween(int32_t from) const;
};

}  // namespace lumafex

#include "pipeline/passes/weighted_lanes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>

namespace lumafex {
namespace {

// Rounding on the bits must give what a conversion to single precision
// gives, ties included, for every value that is 0 or normal there.
TEST(WeightedLanesTest, RoundingOnTheBitsMatchesTheConversion) {
    std::mt19937_64 random(7);
    for (int i = 0; i < 200000; ++i) {
        // Exponents across the normal range, fractions with ties and
        // near-ties at the 29th bit as often as arbitrary ones.
        uint64_t bits = random() & 0x000FFFFFFFFFFFFFull;
        switch (i % 4) {
            case 0: bits = (bits & ~0x1FFFFFFFull) | 0x10000000u; break;  // a tie
            case 1: bits = (bits & ~0x1FFFFFFFull) | 0x0FFFFFFFu; break;  // just below
            case 2: bits |= 0x1FFFFFFFull; break;  // carries into the exponent
            default: break;
        }
        const uint64_t exponent = 1023 - 125 + random() % 252;
        bits |= exponent << 52;
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        if (i % 1000 == 0) value = 0.0;
        LaneVectors<2>::Doubles lanes = {value, value * 0.75};
        RoundToSingle<2, true>(lanes);
        ASSERT_EQ(lanes[0], static_cast<double>(static_cast<float>(value))) << value;
        ASSERT_EQ(lanes[1], static_cast<double>(static_cast<float>(value * 0.75))) << value;
    }
}

}  // namespace
}  // namespace lumafex

#include <gtest/gtest.h>

#include <cmath>

#include "pipeline/passes/portable_sine.h"

namespace lumafex {
namespace {

// Angles (single-precision values, as the footprint's accumulator holds
// them) whose sine some runtime libraries round the wrong way; the expected
// values are the exactly rounded ones, worked out to 60 digits.
TEST(PortableSine, IsExactlyRounded) {
    EXPECT_EQ(PortableSine(static_cast<double>(2.92811656f)), 0.21185836057724242);
    EXPECT_EQ(PortableSine(static_cast<double>(0.332380146f)), 0.32629382710156679);
    EXPECT_EQ(PortableSine(static_cast<double>(0.0940198079f)), 0.093881350889104542);
    EXPECT_EQ(PortableSine(0.0), 0.0);
}

TEST(PortableSine, AgreesWithTheRuntimeToAnUlp) {
    for (int i = 0; i <= 4000; ++i) {
        const double x = i * 0.001;
        const double s = PortableSine(x);
        EXPECT_LE(std::fabs(s - std::sin(x)), std::ldexp(1.0, -52)) << x;
    }
}

// The footprint trusts QuickSine to 1e-14 when it decides a row without a
// full sine, so that bound is what matters, up to just past pi.
TEST(PortableSine, QuickSineStaysWithinItsBound) {
    double worst = 0.0;
    for (int i = 0; i <= 325000; ++i) {
        const double x = i * 1e-5;
        worst = std::fmax(worst, std::fabs(QuickSine(x) - PortableSine(x)));
    }
    EXPECT_LE(worst, 1e-14);
    EXPECT_TRUE(std::isnan(QuickSine(-0.1)));
    EXPECT_TRUE(std::isnan(QuickSine(3.3)));
}

}  // namespace
}  // namespace lumafex

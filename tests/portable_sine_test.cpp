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

}  // namespace
}  // namespace lumafex

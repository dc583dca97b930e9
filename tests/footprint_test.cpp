#include "pipeline/passes/footprint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/portable_sine.h"
#include "support/instruction_sets.h"

namespace lumafex {
namespace {

// Half-widths of an unclipped footprint, top row first.
std::vector<int32_t> Profile(float radius, float angleConstant) {
    FootprintProfile footprint;
    EXPECT_TRUE(footprint.Reserve(64, 64, FootprintReach(radius, 64)));
    footprint.Set(radius, angleConstant);
    std::vector<int32_t> widths;
    const int32_t y = 32;
    for (int32_t yy = footprint.Top(y); yy <= footprint.Bottom(y); ++yy) {
        widths.push_back(footprint.HalfWidth(yy - footprint.Top(y)));
    }
    return widths;
}

using Widths = std::vector<int32_t>;

TEST(FootprintTest, AngleConstantsAreTheSinglePrecisionValues) {
    EXPECT_EQ(static_cast<double>(kBlurAngleConstant), 1.5707963705062866);
    EXPECT_EQ(kBlurAngleConstant, static_cast<float>(std::numbers::pi / 2));
    EXPECT_EQ(static_cast<double>(kSofterAngleConstant), 1.5707950592041016);
}

TEST(FootprintTest, PlainBlurHalfWidths) {
    EXPECT_EQ(Profile(0.95f, kBlurAngleConstant), (Widths{0}));
    EXPECT_EQ(Profile(1.0f, kBlurAngleConstant), (Widths{0, 0, 0}));
    EXPECT_EQ(Profile(2.0f, kBlurAngleConstant), (Widths{1, 1, 1, 1, 1}));
    EXPECT_EQ(Profile(3.0f, kBlurAngleConstant), (Widths{1, 2, 2, 2, 2, 2, 1}));
    EXPECT_EQ(Profile(5.0f, kBlurAngleConstant), (Widths{1, 2, 3, 4, 4, 4, 4, 4, 3, 2, 1}));
    EXPECT_EQ(Profile(10.0f, kBlurAngleConstant),
              (Widths{1, 2, 4, 5, 6, 7, 8, 9, 9, 9, 9, 9, 9, 9, 8, 7, 6, 5, 4, 2, 1}));
}

TEST(FootprintTest, DepthOfFieldHalfWidths) {
    EXPECT_EQ(Profile(0.5f, kSofterAngleConstant), (Widths{0}));
    EXPECT_EQ(Profile(1.0f, kSofterAngleConstant), (Widths{0, 0, 0}));
    EXPECT_EQ(Profile(1.2f, kSofterAngleConstant), (Widths{0, 1, 1}));
    EXPECT_EQ(Profile(1.5f, kSofterAngleConstant), (Widths{0, 1, 1}));
    EXPECT_EQ(Profile(2.0f, kSofterAngleConstant), (Widths{0, 1, 1, 1, 1}));
    EXPECT_EQ(Profile(3.0f, kSofterAngleConstant), (Widths{1, 2, 2, 2, 2, 2, 1}));
    EXPECT_EQ(Profile(5.0f, kSofterAngleConstant), (Widths{1, 2, 3, 4, 4, 4, 4, 4, 3, 2, 1}));
    EXPECT_EQ(Profile(7.0f, kSofterAngleConstant),
              (Widths{1, 2, 3, 4, 5, 6, 6, 6, 6, 6, 5, 4, 3, 2, 1}));
}

TEST(FootprintTest, TheTwoAngleConstantsGiveDifferentRows) {
    // Radii 2 and 8 are where the small difference decides a half-width.
    EXPECT_NE(Profile(2.0f, kBlurAngleConstant), Profile(2.0f, kSofterAngleConstant));
    EXPECT_EQ(Profile(8.0f, kBlurAngleConstant),
              (Widths{1, 2, 4, 5, 6, 6, 7, 7, 7, 7, 7, 6, 6, 5, 4, 2, 1}));
    EXPECT_EQ(Profile(8.0f, kSofterAngleConstant),
              (Widths{1, 2, 3, 5, 6, 6, 7, 7, 7, 7, 7, 6, 6, 5, 4, 2, 1}));
}

TEST(FootprintTest, WholeRadiusReachesOneLessThanItself) {
    for (int32_t r = 1; r <= 20; ++r) {
        for (float k : {kBlurAngleConstant, kSofterAngleConstant}) {
            const Widths w = Profile(static_cast<float>(r), k);
            ASSERT_EQ(w.size(), static_cast<std::size_t>(2 * r + 1));
            EXPECT_EQ(*std::max_element(w.begin(), w.end()), r - 1) << "r " << r;
        }
    }
}

TEST(FootprintTest, EdgeRowsStartWithTheNarrowRows) {
    FootprintProfile footprint;
    ASSERT_TRUE(footprint.Reserve(40, 30, 7));
    footprint.Set(5.0f, kBlurAngleConstant);
    // Top edge: rows 0..5, the angle starting in row 0.
    EXPECT_EQ(footprint.Top(0), 0);
    EXPECT_EQ(footprint.Bottom(0), 5);
    Widths top;
    for (int32_t k = 0; k <= 5; ++k) top.push_back(footprint.HalfWidth(k));
    EXPECT_EQ(top, (Widths{1, 2, 3, 4, 4, 4}));
    // Bottom edge: the last six rows with the same widths, widest in its own row.
    EXPECT_EQ(footprint.Top(29), 24);
    EXPECT_EQ(footprint.Bottom(29), 29);
    // Second row: rows 0..6, still from the narrow end.
    EXPECT_EQ(footprint.Top(1), 0);
    EXPECT_EQ(footprint.Bottom(1), 6);

    footprint.Set(7.0f, kSofterAngleConstant);
    EXPECT_EQ(footprint.Bottom(0), 7);
    Widths dof;
    for (int32_t k = 0; k <= 7; ++k) dof.push_back(footprint.HalfWidth(k));
    EXPECT_EQ(dof, (Widths{1, 2, 3, 4, 5, 6, 6, 6}));
}

TEST(FootprintTest, ColumnsAreClippedToTheFrame) {
    EXPECT_EQ(FootprintColumns(0, 3, 8).first, 0);
    EXPECT_EQ(FootprintColumns(0, 3, 8).last, 3);
    EXPECT_EQ(FootprintColumns(6, 3, 8).first, 3);
    EXPECT_EQ(FootprintColumns(6, 3, 8).last, 7);
    const ColumnSpan empty = FootprintColumns(4, -1, 8);
    EXPECT_GT(empty.first, empty.last);
}

TEST(FootprintTest, ReachOfOddRadii) {
    EXPECT_EQ(FootprintReach(5.9f, 100), 5);
    EXPECT_EQ(FootprintReach(0.0f, 100), 0);
    EXPECT_EQ(FootprintReach(-3.0f, 100), 0);
    EXPECT_EQ(FootprintReach(std::numeric_limits<float>::quiet_NaN(), 100), 0);
    EXPECT_EQ(FootprintReach(1e30f, 100), 100);
    EXPECT_EQ(FootprintReach(std::numeric_limits<float>::infinity(), 100), 100);
}

TEST(FootprintTest, HugeRadiiStayWithinTheFrame) {
    for (float r : {1e6f, 1e30f, std::numeric_limits<float>::infinity()}) {
        FootprintProfile footprint;
        ASSERT_TRUE(footprint.Reserve(16, 10, FootprintReach(r, 10)));
        footprint.Set(r, kSofterAngleConstant);
        EXPECT_EQ(footprint.Top(5), 0);
        EXPECT_EQ(footprint.Bottom(5), 9);
        for (int32_t k = 0; k < 10; ++k) {
            EXPECT_GE(footprint.HalfWidth(k), -1);
            EXPECT_LE(footprint.HalfWidth(k), 16);
        }
    }
}

// Rows are settled in batches from a quick sine; every width must be the
// one the row's own angle and the exactly rounded sine give, whatever the
// radius (batch edges at 32 and 64 rows included).
TEST(FootprintTest, EveryRowAsTheExactSineGivesIt) {
    for (InstructionSet set : testing::SetsOfThisProcessor()) {
        std::mt19937 random(7);
        std::uniform_real_distribution<float> radii(0.01f, 60.0f);
        FootprintProfile footprint;
        ASSERT_TRUE(footprint.Reserve(100, 200, 60, set));
        for (int trial = 0; trial < 20000; ++trial) {
            const float r = trial < 61 ? static_cast<float>(trial) : radii(random);
            const float k = trial % 2 == 0 ? kBlurAngleConstant : kSofterAngleConstant;
            footprint.Set(r, k);
            const float step = static_cast<float>(static_cast<double>(k) / (r + 1.0));
            float angle = 0.0f;
            for (int32_t row = 0; row <= 2 * footprint.Reach(); ++row) {
                angle = static_cast<float>(static_cast<double>(angle) + static_cast<double>(step));
                const double hw = static_cast<double>(r) * PortableSine(angle);
                const int32_t expected = hw >= 100.0 ? 100 : (hw <= -1.0 ? -1 : static_cast<int32_t>(hw));
                ASSERT_EQ(footprint.HalfWidth(row), expected)
                    << "r " << r << " row " << row << " " << InstructionSetName(set);
            }
        }
    }
}

// Radii that come back, share a slot of the kept profiles or change only
// the angle constant get the profile made afresh, row for row.
TEST(FootprintTest, KeptProfilesAreTheProfilesMadeAfresh) {
    FootprintProfile kept;
    FootprintProfile fresh;
    ASSERT_TRUE(kept.Reserve(40, 30, 20) && kept.KeepRecent());
    ASSERT_TRUE(fresh.Reserve(40, 30, 20));
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, 3000);
    for (int i = 0; i < 20000; ++i) {
        // Few enough radii that slots are shared and radii recur.
        const float radius = 0.5f + static_cast<float>(pick(random)) / 128.0f;
        const float k = i % 7 == 0 ? kBlurAngleConstant : kSofterAngleConstant;
        kept.Set(radius, k);
        fresh.Set(radius, k);
        ASSERT_EQ(kept.Reach(), fresh.Reach());
        ASSERT_EQ(kept.MaxHalfWidth(), fresh.MaxHalfWidth());
        for (int32_t row = 0; row <= 2 * fresh.Reach() && row < 30; ++row) {
            ASSERT_EQ(kept.HalfWidth(row), fresh.HalfWidth(row)) << radius << " row " << row;
        }
    }
}

TEST(FootprintTest, ALargerRadiusThanReservedIsCutNotOverrun) {
    FootprintProfile footprint;
    ASSERT_TRUE(footprint.Reserve(64, 64, 2));
    footprint.Set(9.0f, kSofterAngleConstant);
    EXPECT_LE(footprint.Bottom(30) - footprint.Top(30) + 1, 5);
}

TEST(FootprintTest, WideSumsOnlyBeyondThe32BitRange) {
    // 255 x (1 + rows x columns) must stay within 2^31 - 1.
    EXPECT_FALSE(NeedsWideSums(11, 9));
    EXPECT_FALSE(NeedsWideSums(1, 8421503));
    EXPECT_TRUE(NeedsWideSums(1, 8421504));
    EXPECT_FALSE(NeedsWideSums(2053, 4102));  // 8421406
    EXPECT_TRUE(NeedsWideSums(2064, 4096));
    EXPECT_FALSE(NeedsWideSums(0, 1 << 30));
}

}  // namespace
}  // namespace lumafex

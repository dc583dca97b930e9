#include "pipeline/passes/blur.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "pipeline/frame/selection.h"
#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/wide_vectors.h"
#include "support/instruction_sets.h"
#include "reference/blur.h"
#include "support/test_frame.h"

namespace lumafex {
namespace {

using testing::Rgb;
using testing::TestFrame;
using reference::RandomFrame;

FilterSettings BlurSettings(int32_t blurPercent, int32_t mode = kIncludeFullFrame) {
    FilterSettings s{};
    ResetToDefaults(s);
    s.BlurFlag = 1;
    s.BlurPercent = blurPercent;
    s.FilterInclude = mode;
    return s;
}

bool Blur(TestFrame& frame, FilterSettings s, InstructionSet set = ProcessorInstructionSet()) {
    FrameParameters p = ComputeFrameParameters(s);
    p.instructionSet = set;
    return BlurPass(frame.View(), s, p);
}

TEST(BlurPassTest, MatchesTheReferenceInEveryMode) {
    for (int32_t mode = 0; mode <= 4; ++mode) {
        for (int32_t percent : {20, 24, 30, 40, 60, 100, 147, 160, 500, 2000}) {
            for (auto [w, h] : {std::pair{24, 17}, std::pair{8, 1}, std::pair{8, 30}}) {
                TestFrame frame = RandomFrame(w, h, static_cast<uint32_t>(mode * 131 + percent));
                TestFrame expected = frame;
                FilterSettings s = BlurSettings(percent, mode);
                s.r1 = 0;
                s.r2 = 200;
                ASSERT_TRUE(Blur(frame, s));
                reference::Blur(expected, s, ComputeFrameParameters(s).BlurAmount);
                ASSERT_EQ(frame.red, expected.red) << "mode " << mode << " % " << percent;
                ASSERT_EQ(frame.green, expected.green);
                ASSERT_EQ(frame.blue, expected.blue);
            }
        }
    }
}

// A frame wide enough to be cut into strips of eight rows, with radii up to
// and beyond its height: footprints cut off at the top edge and strips
// that start below them.
TEST(BlurPassTest, MatchesTheReferenceAcrossStrips) {
    for (int32_t mode : {kIncludeObjects, kIncludeFullFrame}) {
        for (int32_t percent : {100, 160, 300}) {
            TestFrame frame = RandomFrame(8192, 13, static_cast<uint32_t>(mode + percent));
            TestFrame expected = frame;
            FilterSettings s = BlurSettings(percent, mode);
            ASSERT_TRUE(Blur(frame, s));
            reference::Blur(expected, s, ComputeFrameParameters(s).BlurAmount);
            ASSERT_EQ(frame.red, expected.red) << "mode " << mode << " % " << percent;
            ASSERT_EQ(frame.blue, expected.blue);
        }
    }
}

// Random frames, settings and sizes: widths that are no multiple of the
// vector width, frames of one or a few pixels, radii beyond the frame,
// colour ranges reaching past 0 and 255, with and without the wider
// vector instructions.
TEST(BlurPassTest, MatchesTheReferenceOnRandomCases) {
    std::mt19937 rng(20261209);
    auto pick = [&rng](int32_t lo, int32_t hi) {
        return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
    };
    for (int32_t round = 0; round < 300; ++round) {
        const int32_t w = pick(1, 45);
        const int32_t h = pick(1, 12);
        TestFrame frame = RandomFrame(w, h, static_cast<uint32_t>(round));
        FilterSettings s = BlurSettings(pick(0, 9) == 0 ? pick(500, 5000) : pick(20, 200),
                                        pick(kIncludeObjects, kIncludeColorRange));
        s.r1 = pick(-5, 150);
        s.r2 = pick(100, 260);
        s.g1 = pick(-5, 100);
        s.b2 = pick(150, 300);
        TestFrame expected = frame;
        reference::Blur(expected, s, ComputeFrameParameters(s).BlurAmount);
        for (InstructionSet set : testing::SetsOfThisProcessor()) {
            TestFrame blurred = frame;
            ASSERT_TRUE(Blur(blurred, s, set));
            ASSERT_EQ(blurred.red, expected.red) << w << "x" << h << " mode " << s.FilterInclude
                                                 << " % " << s.BlurPercent << " "
                                                 << InstructionSetName(set);
            ASSERT_EQ(blurred.green, expected.green);
            ASSERT_EQ(blurred.blue, expected.blue);
        }
    }
}

TEST(BlurPassTest, SingleBrightPixel) {
    TestFrame frame(40, 40);
    frame.Fill({0, 0, 0});
    frame.Set(20, 20, {255, 255, 255});
    ASSERT_TRUE(Blur(frame, BlurSettings(100)));
    // Each pixel of the footprint holds 76 values: its own and those of the 75
    // pixels whose footprints cover it, one of them the bright one.
    const int32_t halfWidths[] = {1, 2, 3, 4, 4, 4, 4, 4, 3, 2, 1};
    int32_t changed = 0;
    for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
            const int32_t dy = y - 20;
            const bool inside = dy >= -5 && dy <= 5 && std::abs(x - 20) <= halfWidths[dy + 5];
            const uint8_t want = (x == 20 && y == 20) ? 6 : inside ? 3 : 0;
            ASSERT_EQ(frame.Get(x, y), (Rgb{want, want, want})) << x << "," << y;
            changed += want != 0;
        }
    }
    EXPECT_EQ(changed, 75);
}

TEST(BlurPassTest, OneRowWorkedExample) {
    TestFrame frame(8, 1);
    const uint8_t c[8] = {10, 200, 37, 255, 0, 90, 91, 250};
    for (int32_t x = 0; x < 8; ++x) frame.Set(x, 0, {c[x], c[7 - x], 128});
    const TestFrame before = frame;
    ASSERT_TRUE(Blur(frame, BlurSettings(100)));
    for (int32_t x = 0; x < 8; ++x) {
        auto expect = [&](const std::vector<uint8_t>& p) {
            if (x == 0) return (2 * p[0] + p[1]) / 3;
            if (x == 7) return (p[6] + 2 * p[7]) / 3;
            return (p[x - 1] + 2 * p[x] + p[x + 1]) / 4;
        };
        EXPECT_EQ(frame.red[x], expect(before.red)) << x;
        EXPECT_EQ(frame.green[x], expect(before.green)) << x;
        EXPECT_EQ(frame.blue[x], 128);
    }
}

TEST(BlurPassTest, SmallAndNonPositiveRadiiLeaveTheFrameUnchanged) {
    for (int32_t percent : {1, 7, 19, 0, -1, -100, std::numeric_limits<int32_t>::min()}) {
        TestFrame frame = RandomFrame(16, 12, 5);
        const TestFrame before = frame;
        ASSERT_TRUE(Blur(frame, BlurSettings(percent)));
        EXPECT_EQ(frame.red, before.red) << percent;
        EXPECT_EQ(frame.green, before.green) << percent;
        EXPECT_EQ(frame.blue, before.blue) << percent;
    }
}

TEST(BlurPassTest, TwentyPercentBlursOnlyVertically) {
    TestFrame frame(8, 5);
    frame.Fill({0, 0, 0});
    frame.Set(3, 2, {255, 255, 255});
    ASSERT_TRUE(Blur(frame, BlurSettings(20)));
    EXPECT_EQ(frame.Get(3, 1).r, 255 / 4);
    EXPECT_EQ(frame.Get(3, 2).r, 510 / 4);
    EXPECT_EQ(frame.Get(3, 3).r, 255 / 4);
    EXPECT_EQ(frame.Get(2, 2).r, 0);
    EXPECT_EQ(frame.Get(4, 2).r, 0);
}

TEST(BlurPassTest, BackgroundOnlyNeverChangesAnObject) {
    TestFrame frame = RandomFrame(32, 24, 9);
    const TestFrame before = frame;
    ASSERT_TRUE(Blur(frame, BlurSettings(200, kIncludeBackground)));
    int32_t backgroundChanged = 0;
    for (std::size_t i = 0; i < frame.red.size(); ++i) {
        if (before.alpha[i] != 0) {
            ASSERT_EQ(frame.red[i], before.red[i]);
            ASSERT_EQ(frame.green[i], before.green[i]);
            ASSERT_EQ(frame.blue[i], before.blue[i]);
        } else {
            backgroundChanged += frame.red[i] != before.red[i];
        }
    }
    EXPECT_GT(backgroundChanged, 0);
}

TEST(BlurPassTest, ObjectsOnlyBleedsHalfIntoNearbyBackground) {
    TestFrame frame(24, 24);
    frame.Fill({40, 40, 40}, 0);
    frame.Set(12, 12, {240, 240, 240}, 255);
    ASSERT_TRUE(Blur(frame, BlurSettings(100, kIncludeObjects)));
    // A neighbour gets (40 + 240) / 2 once besides its own 40.
    EXPECT_EQ(frame.Get(13, 12).r, (40 + 140) / 2);
    // The object pixel counts its own colour twice.
    EXPECT_EQ(frame.Get(12, 12).r, 240);
    // Out of the footprint nothing changes.
    EXPECT_EQ(frame.Get(12, 18).r, 40);
    EXPECT_EQ(frame.Get(17, 12).r, 40);
}

TEST(BlurPassTest, UnknownSelectionModeChangesNothing) {
    for (int32_t mode : {5, -1, 100, std::numeric_limits<int32_t>::min()}) {
        TestFrame frame = RandomFrame(16, 16, 3);
        const TestFrame before = frame;
        ASSERT_TRUE(Blur(frame, BlurSettings(100, mode)));
        EXPECT_EQ(frame.red, before.red);
        EXPECT_EQ(frame.green, before.green);
        EXPECT_EQ(frame.blue, before.blue);
        EXPECT_EQ(frame.alpha, before.alpha);
    }
}

TEST(BlurPassTest, AlphaAndShadowAreNeverWritten) {
    TestFrame frame = RandomFrame(16, 16, 4);
    const TestFrame before = frame;
    ASSERT_TRUE(Blur(frame, BlurSettings(150)));
    EXPECT_EQ(frame.alpha, before.alpha);
    EXPECT_EQ(frame.shadow, before.shadow);
}

TEST(BlurPassTest, HugeRadiiStayInsideTheFrame) {
    // Only a null channel could ask for these; footprints are clipped.
    for (float r : {1e6f, 1e30f, std::numeric_limits<float>::infinity()}) {
        TestFrame frame = RandomFrame(8, 6, 11);
        FilterSettings s = BlurSettings(100);
        FrameParameters p = ComputeFrameParameters(s);
        p.BlurAmount = r;
        ASSERT_TRUE(BlurPass(frame.View(), s, p));
    }
    TestFrame frame = RandomFrame(8, 6, 11);
    FilterSettings s = BlurSettings(100);
    FrameParameters p = ComputeFrameParameters(s);
    p.BlurAmount = std::numeric_limits<float>::quiet_NaN();
    const TestFrame before = frame;
    ASSERT_TRUE(BlurPass(frame.View(), s, p));
    EXPECT_EQ(frame.red, before.red);
}

// A frame large enough that 32-bit sums could overflow under a huge radius:
// the pass then sums in 64 bits and gives the same averages.
TEST(BlurPassTest, WideSumsGiveTheSameAverages) {
    const int32_t w = 4096;
    const int32_t h = 2064;
    TestFrame frame(w, h);
    std::fill(frame.red.begin(), frame.red.end(), 10);
    std::fill(frame.green.begin(), frame.green.end(), 11);
    frame.Set(100, 0, {250, 251, 0}, 255);  // the one object
    FilterSettings s = BlurSettings(100, kIncludeObjects);
    FrameParameters p = ComputeFrameParameters(s);
    p.BlurAmount = 1e6f;
    ASSERT_TRUE(BlurPass(frame.View(), s, p));
    // Receivers average (10 + (10 + 250) / 2) / 2; the object keeps 250.
    EXPECT_EQ(frame.Get(100, 0), (Rgb{250, 251, 0}));
    EXPECT_EQ(frame.Get(101, 0).r, 70);
    EXPECT_EQ(frame.Get(101, 0).g, (11 + (11 + 251) / 2) / 2);
    EXPECT_EQ(frame.Get(100, h - 1).r, 70);  // the footprint spans every row
    EXPECT_EQ(frame.Get(w - 1, 0).r, 10);    // but only one column in row 0
}

// A frame whose working arrays cannot be had: the pass says so and does not
// touch the planes (they are far smaller than the frame claims).
TEST(BlurPassTest, MissingMemorySkipsThePass) {
    uint8_t plane[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    FrameView view;
    view.width = std::numeric_limits<int32_t>::max();
    view.height = std::numeric_limits<int32_t>::max();
    view.red = view.green = view.blue = view.alpha = view.shadow = plane;
    FilterSettings s = BlurSettings(100);
    const FrameParameters p = ComputeFrameParameters(s);
    EXPECT_FALSE(BlurPass(view, s, p));
    EXPECT_EQ(plane[0], 1);
    EXPECT_EQ(plane[7], 8);
}

}  // namespace
}  // namespace lumafex

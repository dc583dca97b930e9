#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

#include "pipeline/final/enhance_antialias.h"
#include "pipeline/frame/selection.h"
#include "pipeline/frame/wide_vectors.h"
#include "reference/enhance_antialias.h"
#include "support/instruction_sets.h"
#include "support/final_pass_runner.h"
#include "ui/dialog_fields.h"

namespace lumafex::testing {
namespace {

// Runs only enhance and antialias over the frame, as the final pass does.
void Apply(TestFrame& frame, const FilterSettings& s, const FrameParameters& p) {
    const std::size_t w = static_cast<std::size_t>(frame.width);
    std::vector<uint8_t> lines(w * 10);
    uint8_t* b = lines.data();
    const WorkLines work{b, b + w, b + 2 * w, b + 3 * w, b + 4 * w,
                         b + 5 * w, b + 6 * w, b + 7 * w, b + 8 * w, b + 9 * w};
    EnhanceAndAntialias(frame.View(), s, p, work);
}

FilterSettings Enhance() {
    FilterSettings s = DefaultSettings();
    s.SharpenFlag = 1;
    return s;
}

FilterSettings Antialias() {
    FilterSettings s = DefaultSettings();
    s.SmoothFlag = 1;
    return s;
}

TEST(Enhance, SharpensAgainstTheUnenhancedLeftNeighbour) {
    TestFrame f(3, 5);
    f.Fill({0, 0, 0});
    f.Set(0, 2, {100, 30, 0});
    f.Set(1, 2, {150, 10, 0});
    f.Set(2, 2, {150, 10, 0});
    FilterSettings s = Enhance();
    Apply(f, s, ComputeFrameParameters(s));
    EXPECT_EQ(f.Get(0, 2), (Rgb{100, 30, 0}));
    EXPECT_EQ(f.Get(1, 2), (Rgb{200, 0, 0}));  // 150 + 50; 10 - 20 clamps to 0
    EXPECT_EQ(f.Get(2, 2), (Rgb{150, 10, 0}));
}

TEST(Enhance, LeavesRows01AndLastAndColumn0Alone) {
    TestFrame f(9, 7);
    f.FillPattern(5);
    const TestFrame before = f;
    FilterSettings s = Enhance();
    s.SharpenPercent = 250;
    Apply(f, s, ComputeFrameParameters(s));
    for (int32_t x = 0; x < 9; ++x) {
        for (int32_t y : {0, 1, 6}) EXPECT_EQ(f.Get(x, y), before.Get(x, y)) << x << "," << y;
    }
    for (int32_t y = 0; y < 7; ++y) EXPECT_EQ(f.Get(0, y), before.Get(0, y));
    EXPECT_NE(f.red, before.red);
}

TEST(EnhanceAndAntialias, FramesOfThreeRowsOrFewerAreUnchanged) {
    for (int32_t h : {1, 2, 3}) {
        TestFrame f(8, h);
        f.FillPattern(static_cast<uint32_t>(h));
        const TestFrame before = f;
        FilterSettings s = DefaultSettings();
        s.SharpenFlag = s.SmoothFlag = 1;
        s.AntialiasVariance = 300;
        Apply(f, s, ComputeFrameParameters(s));
        EXPECT_EQ(f.red, before.red) << h;
        EXPECT_EQ(f.green, before.green) << h;
    }
}

// A 5x5 grey frame of 200 with one pixel of the given value at (1, 2).
TestFrame WithLeftNeighbour(uint8_t centre, uint8_t left) {
    TestFrame f(5, 5);
    f.Fill({centre, centre, centre});
    f.Set(1, 2, {left, left, left});
    return f;
}

TEST(Antialias, PullsTowardNeighboursBeyondTheThreshold) {
    TestFrame f = WithLeftNeighbour(200, 50);
    FilterSettings s = Antialias();
    Apply(f, s, ComputeFrameParameters(s));
    // (2, 2): -150 x 0.21881838 + 200 = 167.18; the other neighbours are equal.
    EXPECT_EQ(f.Get(2, 2), (Rgb{167, 167, 167}));
    // (1, 2) is pulled toward its left neighbour (50 -> 82), then toward
    // its right one from the value it has reached (82 -> 107).
    EXPECT_EQ(f.Get(1, 2).r, 107);
}

TEST(Antialias, TruncatesTowardZero) {
    TestFrame up = WithLeftNeighbour(0, 100);
    TestFrame down = WithLeftNeighbour(100, 0);
    FilterSettings s = Antialias();
    const FrameParameters p = ComputeFrameParameters(s);
    Apply(up, s, p);
    Apply(down, s, p);
    EXPECT_EQ(up.Get(2, 2).r, 21);
    EXPECT_EQ(down.Get(2, 2).r, 78);
}

TEST(Antialias, StrengthZeroMarksEdgesWhite) {
    TestFrame f = WithLeftNeighbour(200, 50);
    FilterSettings s = Antialias();
    s.AntialiasPercent = 0;
    Apply(f, s, ComputeFrameParameters(s));
    EXPECT_EQ(f.Get(2, 2), (Rgb{255, 255, 255}));
    EXPECT_EQ(f.Get(1, 2), (Rgb{255, 255, 255}));
    EXPECT_EQ(f.Get(3, 2), (Rgb{200, 200, 200}));
    EXPECT_EQ(f.Get(0, 2), (Rgb{200, 200, 200}));  // column 0 is never changed
    EXPECT_EQ(f.Get(1, 1), (Rgb{200, 200, 200}));  // row 1 is never changed
}

TEST(Antialias, ThresholdOfZeroOrLessTakesEveryNeighbour) {
    TestFrame f(4, 5);
    f.Fill({100, 100, 100});
    FilterSettings s = Antialias();
    s.AntialiasVariance = 200;  // threshold 0: equal neighbours qualify too
    s.AntialiasPercent = 0;
    Apply(f, s, ComputeFrameParameters(s));
    for (int32_t x = 1; x <= 2; ++x) {
        for (int32_t y = 2; y <= 3; ++y) EXPECT_EQ(f.Get(x, y), (Rgb{255, 255, 255}));
    }
    EXPECT_EQ(f.Get(3, 2), (Rgb{100, 100, 100}));  // the last column stays
    EXPECT_EQ(f.Get(1, 4), (Rgb{100, 100, 100}));  // the last row stays
}

// Beyond the T range its dialog row gives, a value acts as the nearer end:
// from 200 on every difference counts (equal neighbours too), from -56
// down none does (not even black beside white).
TEST(Antialias, TStopsChangingWhereItsRowSays) {
    const auto row =
        std::find_if(std::begin(ui::kDialogFields), std::end(ui::kDialogFields),
                     [](const ui::DialogField& r) { return r.member == &FilterSettings::AntialiasVariance; });
    ASSERT_NE(row, std::end(ui::kDialogFields));
    auto run = [](int32_t t) {
        TestFrame f(16, 8);
        f.Fill({100, 100, 100});
        for (int32_t y = 0; y < 8; ++y) f.Set(8, y, {255, 255, 255});
        for (int32_t y = 0; y < 8; ++y) f.Set(9, y, {0, 0, 0});
        FilterSettings s = Antialias();
        s.AntialiasVariance = t;
        s.AntialiasPercent = 0;  // marks what qualifies
        Apply(f, s, ComputeFrameParameters(s));
        std::vector<Rgb> pixels;
        for (int32_t y = 0; y < 8; ++y) {
            for (int32_t x = 0; x < 16; ++x) pixels.push_back(f.Get(x, y));
        }
        return pixels;
    };
    const int32_t most = row->effectMax, least = row->effectMin;
    EXPECT_NE(run(most - 1), run(most));
    for (int32_t t : {most + 1, most + 1000, std::numeric_limits<int32_t>::max()})
        EXPECT_EQ(run(t), run(most)) << t;
    EXPECT_NE(run(least + 1), run(least));
    for (int32_t t : {least - 1, least - 1000, std::numeric_limits<int32_t>::min()})
        EXPECT_EQ(run(t), run(least)) << t;
}

TEST(Antialias, FieldRenderingUsesOnlyLeftAndRight) {
    TestFrame f(4, 6);
    f.Fill({0, 0, 0});
    for (int32_t x = 0; x < 4; ++x) f.Set(x, 3, {250, 250, 250});
    FilterSettings s = Antialias();
    FrameParameters p = ComputeFrameParameters(s);
    TestFrame fields = f;
    p.FieldRendering = 8;
    Apply(fields, s, p);
    EXPECT_EQ(fields.red, f.red);  // rows differ strongly but stay sharp
    p.FieldRendering = 0;
    Apply(f, s, p);
    EXPECT_NE(f.Get(1, 3).r, 250);
}

TEST(Antialias, StrengthsOutsideZeroToOneAreClampedNotWrapped) {
    // A lone 200 in a black frame: every neighbour differs by 200.
    for (const auto& [percent, expected] : {std::pair{1000, 0}, std::pair{-1000, 255}}) {
        TestFrame f(5, 5);
        f.Fill({0, 0, 0});
        f.Set(2, 2, {200, 200, 200});
        FilterSettings s = Antialias();
        s.AntialiasPercent = percent;  // strength +-2.19
        Apply(f, s, ComputeFrameParameters(s));
        EXPECT_EQ(f.Get(2, 2).r, expected) << percent;
    }
}

TEST(EnhanceAndAntialias, MatchTheCopyingReferenceOnRandomFrames) {
    uint32_t seed = 17;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int32_t>((seed >> 8) % n);
    };
    // The last rounds use frames wide enough to be worked in several strips.
    for (int round = 0; round < 64; ++round) {
        FilterSettings s = DefaultSettings();
        s.SharpenFlag = next(2);
        s.SmoothFlag = next(4) != 0;
        s.SharpenPercent = next(300) - 50;
        s.AntialiasVariance = next(260);
        s.AntialiasPercent = next(5) == 0 ? 0 : next(600) - 60;
        s.FilterInclude = next(6);
        FrameParameters p = ComputeFrameParameters(s);
        s.Passes = 1 + next(3);
        p.FieldRendering = next(2) * 8;
        TestFrame f = round < 60 ? TestFrame(3 + next(14), 2 + next(12))
                                 : TestFrame(2048 + 8 * next(16), 33 + next(70));
        f.FillPattern(static_cast<uint32_t>(round));
        TestFrame expected = f;
        reference::EnhanceAndAntialias(expected, s, p);
        Apply(f, s, p);
        ASSERT_EQ(f.red, expected.red) << "round " << round;
        ASSERT_EQ(f.green, expected.green) << "round " << round;
        ASSERT_EQ(f.blue, expected.blue) << "round " << round;
    }
}

// Every width from too narrow for a run of lanes to several runs with a
// partial one at the end, on both kinds of lanes, with strengths whose
// lane form needs corrections (101%, 201%, 301%) or matches none (10000%,
// 30000%), every mode and colour ranges that select some pixels.
TEST(EnhanceAndAntialias, LanesMatchTheCopyingReferenceOnEveryWidth) {
    uint32_t seed = 5;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int32_t>((seed >> 8) % n);
    };
    const int32_t enhance[] = {100, 101, 201, 10000, -40};
    const int32_t antialias[] = {0, 100, 301, 30000, -60};
    for (InstructionSet set : testing::SetsOfThisProcessor()) {
        for (int32_t width = 3; width <= 50; ++width) {
            FilterSettings s = DefaultSettings();
            s.SharpenFlag = next(3) != 0;
            s.SmoothFlag = next(3) != 0;
            s.SharpenPercent = next(2) ? enhance[next(5)] : next(300) - 50;
            s.AntialiasPercent = next(2) ? antialias[next(5)] : next(600) - 60;
            s.AntialiasVariance = next(260);
            s.FilterInclude = next(6);
            s.r1 = next(200) - 20;
            s.g1 = next(100) - 20;
            s.b1 = next(100);
            s.r2 = s.r1 + next(300);
            s.g2 = s.g1 + next(300);
            s.b2 = 300;
            FrameParameters p = ComputeFrameParameters(s);
            p.FieldRendering = next(2) * 8;
            p.instructionSet = set;
            TestFrame f(width, 4 + next(6));
            f.FillPattern(static_cast<uint32_t>(width));
            TestFrame expected = f;
            reference::EnhanceAndAntialias(expected, s, p);
            Apply(f, s, p);
            ASSERT_EQ(f.red, expected.red) << "width " << width << " " << InstructionSetName(set);
            ASSERT_EQ(f.green, expected.green) << "width " << width;
            ASSERT_EQ(f.blue, expected.blue) << "width " << width;
        }
    }
}

TEST(EnhanceAndAntialias, RepeatsForEveryPass) {
    TestFrame once = WithLeftNeighbour(250, 0);
    TestFrame twice = once;
    FilterSettings s = Antialias();
    s.AntialiasVariance = 150;  // threshold 50
    const FrameParameters p = ComputeFrameParameters(s);
    Apply(once, s, p);
    s.Passes = 2;
    Apply(twice, s, p);
    TestFrame again = once;
    s.Passes = 1;
    Apply(again, s, p);
    EXPECT_EQ(twice.red, again.red);
    EXPECT_NE(twice.red, once.red);
}

}  // namespace
}  // namespace lumafex::testing

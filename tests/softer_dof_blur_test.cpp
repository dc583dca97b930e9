#include "pipeline/passes/softer_dof_blur.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

#include "pipeline/frame/selection.h"
#include "pipeline/frame/frame_parameters.h"
#include "pipeline/passes/depth_of_field.h"
#include "reference/depth_of_field.h"
#include "support/instruction_sets.h"
#include "support/test_frame.h"

namespace lumafex {
namespace {

using testing::Rgb;
using testing::TestFrame;
using reference::DepthMap;
using reference::RandomScene;
using reference::Scene;

FilterSettings SofterDofSettings(int32_t mode = kIncludeFullFrame) {
    FilterSettings s{};
    ResetToDefaults(s);
    s.DOFBlurFlag = 1;
    s.SofterBlurFlag = 1;
    s.FilterInclude = mode;
    s.DOFBlurPercent = 100;
    s.DOFBlurFocalPoint = 100;
    return s;
}

// Long runs of centres with the same blur: one depth over the whole frame
// but for a block in focus (every blur the limit or 0), a gentle depth
// ramp, wide enough that whole groups of receivers lie inside one run, and
// (ramp -1) depths scattered far behind the focus, all at the limit, so
// that the separator keeps receivers from some centres of their run.
TEST(SofterDepthOfFieldBlurTest, MatchesTheReferenceOnLongRuns) {
    for (float ramp : {0.0f, 0.01f, 0.05f, -1.0f}) {
        Scene sc = RandomScene(160, 30, 900);
        uint32_t scatter = 7;
        for (int32_t y = 0; y < 30; ++y) {
            for (int32_t x = 0; x < 160; ++x) {
                const bool inFocus = ramp == 0.0f && x >= 60 && x < 90 && y >= 8 && y < 20;
                scatter = scatter * 1664525u + 1013904223u;
                const float far = ramp < 0.0f ? static_cast<float>(scatter >> 24) / 8.0f
                                              : ramp * static_cast<float>(x);
                sc.depth.At(x, y) = inFocus ? 100.0f : 110.0f + far;
            }
        }
        FilterSettings s = SofterDofSettings();
        const FrameParameters p = ComputeFrameParameters(s);
        TestFrame expected = sc.frame;
        ASSERT_TRUE(SofterDepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
        reference::SofterDepthOfField(expected, sc.depth, s, p);
        ASSERT_EQ(sc.frame.red, expected.red) << "ramp " << ramp;
        ASSERT_EQ(sc.frame.green, expected.green) << "ramp " << ramp;
        ASSERT_EQ(sc.frame.blue, expected.blue) << "ramp " << ramp;
    }
}

// Depths constant over blocks, so that long runs of centres share their
// blur, with edges where blurs change or the separator hides a block.
TEST(SofterDepthOfFieldBlurTest, MatchesTheReferenceOnBlockyDepths) {
    const float levels[] = {100.0f, 99.9f, 101.0f, 101.4f, 102.0f, 98.0f, 103.0f, 101.45f};
    for (int32_t mode : {3, 0, 1}) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            Scene sc = RandomScene(40, 23, seed * 11 + static_cast<uint32_t>(mode));
            for (int32_t y = 0; y < 23; ++y) {
                for (int32_t x = 0; x < 40; ++x) {
                    const uint32_t block = static_cast<uint32_t>((x + static_cast<int32_t>(seed)) / 9 * 7 + y / 6) * seed;
                    sc.depth.At(x, y) = levels[(block * 2654435761u >> 13) % 8];
                }
            }
            FilterSettings s = SofterDofSettings(mode);
            FrameParameters p = ComputeFrameParameters(s);
            p.DOFBlurAmount = 5.0f;
            p.FocalNear = 100.0f;
            p.FocalFar = 100.0f;
            TestFrame expected = sc.frame;
            ASSERT_TRUE(SofterDepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
            reference::SofterDepthOfField(expected, sc.depth, s, p);
            ASSERT_EQ(sc.frame.red, expected.red) << "mode " << mode << " seed " << seed;
            ASSERT_EQ(sc.frame.green, expected.green);
            ASSERT_EQ(sc.frame.blue, expected.blue);
        }
    }
}

TEST(SofterDepthOfFieldBlurTest, MatchesTheReference) {
    struct Case {
        int32_t mode;
        float separator, focalNear, focalFar, amount;
    };
    const Case cases[] = {
        {3, 0.4f, 100.0f, 100.0f, 5.0f}, {3, 0.4f, 99.0f, 101.0f, 4.0f},
        {0, 0.4f, 99.0f, 101.0f, 5.0f},  {0, 0.4f, 100.0f, 100.0f, 4.0f},
        {1, 0.4f, 99.0f, 101.0f, 5.0f},  {2, 0.4f, 100.0f, 100.0f, 5.0f},
        {4, 0.4f, 99.5f, 100.0f, 4.0f},  {3, -0.3f, 99.0f, 101.0f, 5.0f},
        {3, 2.0f, 100.0f, 100.0f, 4.0f},
    };
    uint32_t seed = 100;
    for (const Case& c : cases) {
        for (auto [w, h] : {std::pair{24, 19}, std::pair{8, 1}, std::pair{8, 24}}) {
            Scene sc = RandomScene(w, h, seed++);
            FilterSettings s = SofterDofSettings(c.mode);
            s.r2 = 200;
            FrameParameters p = ComputeFrameParameters(s);
            p.DOFSeperator = c.separator;
            p.FocalNear = c.focalNear;
            p.FocalFar = c.focalFar;
            p.DOFBlurAmount = c.amount;
            TestFrame expected = sc.frame;
            ASSERT_TRUE(SofterDepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
            reference::SofterDepthOfField(expected, sc.depth, s, p);
            ASSERT_EQ(sc.frame.red, expected.red) << "mode " << c.mode;
            ASSERT_EQ(sc.frame.green, expected.green);
            ASSERT_EQ(sc.frame.blue, expected.blue);
        }
    }
}

// Blurs larger than the frame (only a null channel raises the limit): one
// frame shorter than its blurs, and one so large that the weights are worked
// out row by row rather than kept in a table.
TEST(SofterDepthOfFieldBlurTest, BlursLargerThanTheFrame) {
    struct Case {
        int32_t w, h;
        float maxBlur;
        bool everyPixel;
    };
    for (const Case c : {Case{40, 8, 20.0f, true}, Case{1104, 1000, 3000.0f, false}}) {
        Scene sc = RandomScene(c.w, c.h, 500);
        if (!c.everyPixel) {
            // Two far centres; everything else in focus.
            std::fill(sc.depth.values.begin(), sc.depth.values.end(), 100.0f);
            sc.depth.At(5, 990) = 1e6f;
            sc.depth.At(1000, 3) = 1e6f;
        }
        FilterSettings s = SofterDofSettings();
        FrameParameters p = ComputeFrameParameters(s);
        p.MaxDOFBlur = c.maxBlur;
        TestFrame expected = sc.frame;
        ASSERT_TRUE(SofterDepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
        reference::SofterDepthOfField(expected, sc.depth, s, p);
        ASSERT_EQ(sc.frame.red, expected.red) << c.w;
        ASSERT_EQ(sc.frame.blue, expected.blue) << c.w;
    }
}

// Depth blurs far beyond the frame, with the limit a "3MaxDOFBlur%" null
// sets (5000 pixels at 100000, infinite for a vast value, none for NaN),
// with both vector forms. A depth ramp over 48x30 gives nearly every pixel
// a blur of its own, up to 2500 pixels; a frame 16384 wide, cut into
// strips, has centres of 5000 pixels in each, whose footprint rows the
// weights of that blur serve in turn. No blur exceeds 5000, so every one
// of these limits gives the blurs and bytes of the reference at 5000. Infinite and NaN depths with no limit must merely finish, as
// quickly as the rest.
TEST(SofterDepthOfFieldBlurTest, LimitsFarBeyondTheFrameMatchTheReference) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int32_t mode : {kIncludeFullFrame, kIncludeObjects}) {
        for (auto [w, h] : {std::pair{48, 30}, std::pair{16384, 24}}) {
            Scene sc = RandomScene(w, h, 41);
            for (int32_t y = 0; y < h; ++y) {
                for (int32_t x = 0; x < w; ++x) {
                    sc.depth.At(x, y) =
                        w > 48 ? 100.0f
                               : static_cast<float>(100.0 + 300.0 * x / w + 200.0 * y / h);
                }
            }
            if (w > 48) {
                // Centres with a blur of 5000 in every strip, two of their own.
                for (int32_t y : {1, 9, 10, 22}) sc.depth.At(y * 700, y) = 1100.0f;
                sc.depth.At(8000, 12) = 150.0f;
                sc.depth.At(8003, 15) = 700.0f;
            }
            FilterSettings s = SofterDofSettings(mode);
            FrameParameters p = ComputeFrameParameters(s);
            p.MaxDOFBlur = 5000.0f;
            TestFrame expected = sc.frame;
            reference::SofterDepthOfField(expected, sc.depth, s, p);
            for (InstructionSet set : testing::SetsOfThisProcessor()) {
                p.instructionSet = set;
                for (float limit : {5000.0f, 1e30f, inf, nan}) {
                    TestFrame frame = sc.frame;
                    p.MaxDOFBlur = limit;
                    ASSERT_TRUE(SofterDepthOfFieldBlurPass(sc.depth.Attach(frame), s, p));
                    ASSERT_EQ(frame.red, expected.red)
                        << "mode " << mode << " limit " << limit << " width " << w << " "
                        << InstructionSetName(set);
                    ASSERT_EQ(frame.green, expected.green);
                    ASSERT_EQ(frame.blue, expected.blue);
                }
            }
        }
    }
    Scene sc = RandomScene(64, 40, 43);
    sc.depth.At(3, 3) = inf;
    sc.depth.At(40, 20) = nan;
    sc.depth.At(10, 30) = 3e38f;
    FilterSettings s = SofterDofSettings();
    FrameParameters p = ComputeFrameParameters(s);
    for (float limit : {inf, nan}) {
        p.MaxDOFBlur = limit;
        EXPECT_TRUE(SofterDepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
    }
}

// A gain of 30 % gives 1.5 exactly at one unit behind the focal point.
FilterSettings OneAndAHalf(FilterSettings s) {
    s.DOFBlurPercent = 30;
    return s;
}

// One bright pixel among black ones, every pixel at the same depth with blur
// 1.5 (footprint rows y - 1, y, y + 1 with half-widths 0, 1, 1). A pixel
// receives from the centres whose footprints hold it, with the weights of
// the example: 0.5 at distance 1, 1.5 - sqrt(2) = 0.08579 diagonally, 1.5
// from itself. So every pixel's weight sum is 1 + 1.5 + 4 x 0.5 + 2 x 0.08579.
TEST(SofterDepthOfFieldBlurTest, WeightsOfABlurOfOneAndAHalf) {
    TestFrame frame(16, 9);
    frame.Fill({0, 0, 0});
    frame.Set(8, 4, {255, 255, 255});
    DepthMap depth(16, 9, 101.0f);
    FilterSettings s = OneAndAHalf(SofterDofSettings());
    const FrameParameters p = ComputeFrameParameters(s);
    ASSERT_EQ(DepthBlur(101.0f, p), 1.5f);
    ASSERT_TRUE(SofterDepthOfFieldBlurPass(depth.Attach(frame), s, p));
    const double diagonal = static_cast<float>(1.5 - std::sqrt(2.0));
    EXPECT_NEAR(diagonal, 0.08579, 1e-5);
    const double total = 1.0 + 1.5 + 4.0 * 0.5 + 2.0 * diagonal;
    auto value = [&](double w) { return static_cast<int>(255.0 * w / total); };
    EXPECT_EQ(frame.Get(8, 4).r, value(1.0 + 1.5));  // its own colour twice
    EXPECT_EQ(frame.Get(8, 4).r, 136);
    // The bright pixel's footprint: the row above, its own row, the row below.
    EXPECT_EQ(frame.Get(8, 3).r, value(0.5));
    EXPECT_EQ(frame.Get(7, 4).r, value(0.5));
    EXPECT_EQ(frame.Get(9, 4).r, value(0.5));
    EXPECT_EQ(frame.Get(8, 5).r, value(0.5));
    EXPECT_EQ(frame.Get(8, 5).r, 27);
    EXPECT_EQ(frame.Get(7, 5).r, value(diagonal));
    EXPECT_EQ(frame.Get(9, 5).r, 4);
    // Outside it: the upper corners and anything two steps away.
    EXPECT_EQ(frame.Get(7, 3).r, 0);
    EXPECT_EQ(frame.Get(9, 3).r, 0);
    EXPECT_EQ(frame.Get(8, 2).r, 0);
    EXPECT_EQ(frame.Get(10, 4).r, 0);
}

TEST(SofterDepthOfFieldBlurTest, ObjectsOnlyMixesLessThanFullFrame) {
    // Every pixel an object at the same depth: both modes select every
    // centre, and every t is 1. Full Frame hands a neighbour the whole
    // colour; Objects Only only min(1, t x w) = 0.5 of it at weight 0.5.
    TestFrame full(16, 9);
    full.Fill({0, 0, 0}, 255);
    full.Set(8, 4, {255, 255, 255}, 255);
    TestFrame objects = full;
    DepthMap depth(16, 9, 101.0f);
    FilterSettings s = OneAndAHalf(SofterDofSettings(kIncludeFullFrame));
    ASSERT_TRUE(SofterDepthOfFieldBlurPass(depth.Attach(full), s, ComputeFrameParameters(s)));
    s.FilterInclude = kIncludeObjects;
    ASSERT_TRUE(SofterDepthOfFieldBlurPass(depth.Attach(objects), s, ComputeFrameParameters(s)));
    EXPECT_EQ(full.Get(9, 4).r, 27);
    EXPECT_EQ(objects.Get(9, 4).r, 13);  // 255 x 0.5 x 0.5 over the same weights
    EXPECT_NE(full.red, objects.red);
}

TEST(SofterDepthOfFieldBlurTest, ObjectsOnlyBleedsIntoOutOfFocusBackground) {
    TestFrame frame(16, 9);
    frame.Fill({0, 0, 0}, 0);
    frame.Set(8, 4, {255, 255, 255}, 255);
    DepthMap depth(16, 9, 101.0f);
    FilterSettings s = OneAndAHalf(SofterDofSettings(kIncludeObjects));
    ASSERT_TRUE(SofterDepthOfFieldBlurPass(depth.Attach(frame), s, ComputeFrameParameters(s)));
    // Receivers are not tested against the selection: the background next
    // to the object takes some of its colour.
    EXPECT_GT(frame.Get(9, 4).r, 0);
    EXPECT_GT(frame.Get(8, 5).r, 0);
}

TEST(SofterDepthOfFieldBlurTest, InFocusPixelsKeepTheirColourUpToRounding) {
    for (int32_t mode = 0; mode <= 4; ++mode) {
        Scene sc = RandomScene(32, 24, 300 + static_cast<uint32_t>(mode));
        const TestFrame before = sc.frame;
        FilterSettings s = SofterDofSettings(mode);
        FrameParameters p = ComputeFrameParameters(s);
        p.FocalNear = 99.0f;
        p.FocalFar = 101.0f;
        ASSERT_TRUE(SofterDepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
        for (std::size_t i = 0; i < before.red.size(); ++i) {
            const float d = sc.depth.values[i];
            if (!(d >= p.FocalNear && d < p.FocalFar)) continue;
            // Only its own colour reaches it, as single-precision sums.
            ASSERT_LE(sc.frame.red[i], before.red[i]);
            ASSERT_GE(sc.frame.red[i] + 1, before.red[i]);
            ASSERT_LE(sc.frame.blue[i], before.blue[i]);
            ASSERT_GE(sc.frame.blue[i] + 1, before.blue[i]);
        }
    }
}

TEST(SofterDepthOfFieldBlurTest, SeparatorAndIgnoredSide) {
    TestFrame frame(8, 1);
    frame.Fill({0, 0, 0});
    frame.Set(3, 0, {200, 200, 200});
    DepthMap depth(8, 1, 120.0f);
    depth.At(3, 0) = 90.0f;
    FilterSettings s = SofterDofSettings();
    FrameParameters p = ComputeFrameParameters(s);
    TestFrame sided = frame;
    ASSERT_TRUE(SofterDepthOfFieldBlurPass(depth.Attach(frame), s, p));
    // The foreground receives nothing from the background behind it: only
    // its own colour, weighted, so it stays.
    EXPECT_EQ(frame.Get(3, 0).r, 200);
    EXPECT_GT(frame.Get(4, 0).r, 0);
    // DOFBlurSide has no say here.
    p.DOFBlurSide = 1;
    ASSERT_TRUE(SofterDepthOfFieldBlurPass(depth.Attach(sided), s, p));
    EXPECT_EQ(sided.red, frame.red);
}

TEST(SofterDepthOfFieldBlurTest, NothingChangesWithoutBlurSelectionOrDepth) {
    for (auto [percent, mode] : {std::pair{0, 3}, std::pair{-100, 3}, std::pair{100, 5},
                                 std::pair{100, -1}}) {
        Scene sc = RandomScene(16, 12, 77);
        const TestFrame before = sc.frame;
        FilterSettings s = SofterDofSettings(mode);
        s.DOFBlurPercent = percent;
        ASSERT_TRUE(
            SofterDepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, ComputeFrameParameters(s)));
        EXPECT_EQ(sc.frame.red, before.red);
        EXPECT_EQ(sc.frame.green, before.green);
        EXPECT_EQ(sc.frame.blue, before.blue);
    }
    Scene sc = RandomScene(16, 12, 78);
    const TestFrame before = sc.frame;
    FilterSettings s = SofterDofSettings();
    EXPECT_FALSE(SofterDepthOfFieldBlurPass(sc.frame.View(), s, ComputeFrameParameters(s)));
    EXPECT_EQ(sc.frame.red, before.red);
}

TEST(SofterDepthOfFieldBlurTest, DepthRowsAreFetchedOncePerRow) {
    Scene sc = RandomScene(24, 20, 5);
    FilterSettings s = SofterDofSettings();
    const FrameParameters p = ComputeFrameParameters(s);
    ASSERT_TRUE(SofterDepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
    for (int32_t count : sc.depth.fetches) EXPECT_EQ(count, 1);
}

TEST(SofterDepthOfFieldBlurTest, MissingMemorySkipsThePass) {
    uint8_t plane[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    DepthMap depth(8, 1, 150.0f);
    FrameView view;
    view.width = std::numeric_limits<int32_t>::max();
    view.height = std::numeric_limits<int32_t>::max();
    view.red = view.green = view.blue = view.alpha = view.shadow = plane;
    view.depthRow = DepthMap::Row;
    view.depthContext = &depth;
    FilterSettings s = SofterDofSettings();
    EXPECT_FALSE(SofterDepthOfFieldBlurPass(view, s, ComputeFrameParameters(s)));
    EXPECT_EQ(plane[0], 1);
    EXPECT_EQ(depth.fetches[0], 0);
}

}  // namespace
}  // namespace lumafex

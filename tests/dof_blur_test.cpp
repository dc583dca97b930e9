#include "pipeline/passes/dof_blur.h"

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
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/dof_blur_kernels.h"
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

FilterSettings DofSettings(int32_t mode = kIncludeFullFrame) {
    FilterSettings s{};
    ResetToDefaults(s);
    s.DOFBlurFlag = 1;
    s.FilterInclude = mode;
    return s;
}

// Default working values with the focal point at 100 and 5 units of blur per
// unit of depth.
FrameParameters DofParams(FilterSettings& s) {
    s.DOFBlurPercent = 100;
    s.DOFBlurFocalPoint = 100;
    return ComputeFrameParameters(s);
}

TEST(DepthOfFieldBlurTest, BlurAmountPerDepth) {
    FilterSettings s = DofSettings();
    const FrameParameters p = DofParams(s);
    EXPECT_EQ(DepthBlur(101.0f, p), 5.0f);    // one unit behind
    EXPECT_EQ(DepthBlur(99.0f, p), 5.0f);     // one unit in front
    EXPECT_EQ(DepthBlur(100.0f, p), 0.0f);    // exactly at the focal distance
    EXPECT_EQ(DepthBlur(100.2f, p), static_cast<float>((double{100.2f} - 100.0) * 5.0));
    EXPECT_EQ(DepthBlur(101.5f, p), 7.0f);    // limited to MaxDOFBlur
    EXPECT_EQ(DepthBlur(98.5f, p), 7.0f);
    EXPECT_EQ(DepthBlur(1e30f, p), 7.0f);
    EXPECT_EQ(DepthBlur(std::numeric_limits<float>::infinity(), p), 7.0f);
    EXPECT_EQ(DepthBlur(std::numeric_limits<float>::quiet_NaN(), p), 0.0f);

    FrameParameters range = p;
    range.FocalNear = 90.0f;
    range.FocalFar = 110.0f;
    EXPECT_EQ(DepthBlur(95.0f, range), 0.0f);
    EXPECT_EQ(DepthBlur(110.0f, range), 0.0f);  // the far end tested first: 0 x amount
    EXPECT_EQ(DepthBlur(89.0f, range), 5.0f);
    EXPECT_EQ(DepthBlur(110.5f, range), 2.5f);

    // Focal point 0: every depth is on the far side.
    s.DOFBlurFocalPoint = 0;
    FrameParameters zero = ComputeFrameParameters(s);
    EXPECT_EQ(DepthBlur(1.0f, zero), 5.0f);
    EXPECT_EQ(DepthBlur(0.0f, zero), 0.0f);
    // Depth 0 in front of a positive focal point: FocalNear x amount, limited.
    EXPECT_EQ(DepthBlur(0.0f, p), 7.0f);

    // No gain, or a negative one: everything in focus, even at infinity.
    s.DOFBlurPercent = 0;
    const FrameParameters none = ComputeFrameParameters(s);
    EXPECT_EQ(DepthBlur(1e30f, none), 0.0f);
    EXPECT_EQ(DepthBlur(std::numeric_limits<float>::infinity(), none), 0.0f);
    s.DOFBlurPercent = -100;
    EXPECT_EQ(DepthBlur(150.0f, ComputeFrameParameters(s)), 0.0f);
}

TEST(DepthOfFieldBlurTest, SeparatorIsTestedWithoutRoundingTheSum) {
    // 100.6f + 0.4f is below 101 in double though it rounds to 101 in single.
    EXPECT_TRUE(HiddenBehindSeparator(100.6f, 101.0f, 0.4f));
    EXPECT_FALSE(HiddenBehindSeparator(100.5f, 101.0f, 0.5f));  // equal: receives
    EXPECT_FALSE(HiddenBehindSeparator(120.0f, 90.0f, 0.4f));   // behind the centre
    EXPECT_TRUE(HiddenBehindSeparator(90.0f, 120.0f, 0.4f));
    // A negative separator hides the centre from itself.
    EXPECT_TRUE(HiddenBehindSeparator(100.0f, 100.0f, -0.3f));
}

// Depths constant over blocks, so that long runs of centres share their
// blur, with edges where blurs change or the separator hides a block.
// Limits of 7 and 12 gather the centres at the limit with 16-bit and 32-bit
// windows (at 12 most blocks reach the limit and are bright, so totals pass
// 2^16); the wide frame's prefix sums wrap around 16 bits. Every form of
// the processor's sets gives the reference's bytes.
TEST(DepthOfFieldBlurTest, MatchesTheReferenceOnBlockyDepths) {
    // 101.6f + 0.4 lies below 102 in double, though it rounds to 102 in single.
    const float levels[] = {100.0f, 99.9f, 101.0f, 101.4f, 102.0f, 98.0f, 103.0f, 101.45f, 101.6f};
    struct Shape {
        int32_t w, h;
        float limit, amount;
    };
    const Shape shapes[] = {{40, 23, 7.0f, 5.0f}, {40, 23, 12.0f, 20.0f}, {600, 9, 7.0f, 5.0f}};
    for (int32_t mode : {3, 0, 1}) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            for (const Shape& shape : shapes) {
                const int32_t w = shape.w;
                Scene sc = RandomScene(w, shape.h, seed * 11 + static_cast<uint32_t>(mode));
                for (int32_t y = 0; y < shape.h; ++y) {
                    for (int32_t x = 0; x < w; ++x) {
                        const auto block =
                            static_cast<uint32_t>((x + static_cast<int32_t>(seed)) / 9 * 7 +
                                                  y / 6) *
                            seed;
                        sc.depth.At(x, y) = levels[(block * 2654435761u >> 13) % 9];
                        if (shape.limit > 8.0f) {
                            for (auto* plane : {&sc.frame.red, &sc.frame.green, &sc.frame.blue}) {
                                (*plane)[sc.frame.At(x, y)] |= 0xC0;
                            }
                        }
                    }
                }
                FilterSettings s = DofSettings(mode);
                FrameParameters p = ComputeFrameParameters(s);
                p.DOFBlurAmount = shape.amount;
                p.MaxDOFBlur = shape.limit;
                p.FocalNear = 100.0f;
                p.FocalFar = 100.0f;
                TestFrame expected = sc.frame;
                reference::DepthOfField(expected, sc.depth, s, p);
                for (InstructionSet set : testing::SetsOfThisProcessor()) {
                    p.instructionSet = set;
                    TestFrame frame = sc.frame;
                    ASSERT_TRUE(DepthOfFieldBlurPass(sc.depth.Attach(frame), s, p));
                    ASSERT_EQ(frame.red, expected.red)
                        << "mode " << mode << " seed " << seed << " width " << w << " "
                        << InstructionSetName(set);
                    ASSERT_EQ(frame.green, expected.green);
                    ASSERT_EQ(frame.blue, expected.blue);
                }
            }
        }
    }
}

// The mixed contributions of every form, against the rule in double, where
// the ratio of the blurs is extreme: tiny and subnormal receiving blurs, t
// next to 2^-25 (where 1 - t rounds to a tie) and next to 1, huge ones.
TEST(DepthOfFieldBlurTest, MixedContributionsAtExtremeRatiosFollowTheRule) {
    constexpr int32_t kWidth = 64;
    const float bc = 5.25f;
    const float blurs[] = {0.0f, -1.0f, 1e-45f, 1e-39f, bc * 0x1p-30f, bc * 0x1p-25f,
                           std::nextafter(bc * 0x1p-25f, 1.0f), bc * (1.0f - 0x1p-24f), bc,
                           std::nextafter(bc, 10.0f), 3.0f, 7.7f, 1e30f, 0.3f};
    std::mt19937 random(5);
    std::vector<float> depth(kWidth), blur(kWidth);
    std::vector<uint8_t> red(kWidth), green(kWidth), blue(kWidth);
    for (int32_t x = 0; x < kWidth; ++x) {
        blur[static_cast<std::size_t>(x)] = blurs[static_cast<std::size_t>(x) % std::size(blurs)];
        depth[static_cast<std::size_t>(x)] = random() % 5 == 0 ? 40.0f : 100.0f;
        red[static_cast<std::size_t>(x)] = static_cast<uint8_t>(random());
        green[static_cast<std::size_t>(x)] = static_cast<uint8_t>(random());
        blue[static_cast<std::size_t>(x)] = static_cast<uint8_t>(random());
    }
    const MixingCentre centre{bc, 100.0, 255, 1, 128};
    for (InstructionSet set : testing::SetsOfThisProcessor()) {
        std::vector<SumCell<int32_t>> cells(kWidth);
        const ReceivingRow row{depth.data(), blur.data(),  red.data(),
                               green.data(), blue.data(), cells.data()};
        MixingSpan span{&row, 3, kWidth - 2};
        ChooseDepthBlurKernels(set).mix(&span, 1, centre, 0.4, kWidth);
        ASSERT_GT(span.first, kWidth - 2) << InstructionSetName(set);
        for (int32_t x = 3; x < span.first; ++x) {
            const auto i = static_cast<std::size_t>(x);
            const float bn = blur[i];
            SumCell<int32_t> want{};
            if (bn >= 0.0f && !(depth[i] + 0.4 < centre.depth)) {
                const float t = static_cast<float>(static_cast<double>(std::min(bn, bc)) / std::max(bn, bc));
                const float u = static_cast<float>(1.0 - t);
                auto mix = [&](uint8_t c, uint8_t n) {
                    return static_cast<int32_t>(static_cast<double>(c) * t + static_cast<double>(n) * u);
                };
                want = {mix(centre.red, red[i]), mix(centre.green, green[i]), mix(centre.blue, blue[i]), 1};
            }
            EXPECT_EQ(cells[i].red, want.red)
                << "x " << x << " blur " << bn << " " << InstructionSetName(set);
            EXPECT_EQ(cells[i].green, want.green) << "x " << x;
            EXPECT_EQ(cells[i].blue, want.blue) << "x " << x;
            EXPECT_EQ(cells[i].count, want.count) << "x " << x;
        }
    }
}

TEST(DepthOfFieldBlurTest, MatchesTheReference) {
    struct Case {
        int32_t mode, side;
        float separator, focalNear, focalFar, amount;
    };
    // An amount of 4 gives whole blurs 1 to 7 on the quarter-unit depths,
    // 2.0 among them, where the angle constant decides a half-width.
    const Case cases[] = {
        {3, 0, 0.4f, 100.0f, 100.0f, 5.0f}, {3, 1, 0.4f, 99.0f, 101.0f, 5.0f},
        {3, 2, 0.4f, 99.0f, 101.0f, 4.0f},  {0, 0, 0.4f, 99.0f, 101.0f, 5.0f},
        {1, 1, 0.4f, 99.0f, 101.0f, 4.0f},  {2, 0, 0.4f, 100.0f, 100.0f, 5.0f},
        {4, 2, 0.4f, 99.5f, 100.0f, 5.0f},  {3, 0, -0.3f, 99.0f, 101.0f, 5.0f},
        {3, 0, 2.0f, 100.0f, 100.0f, 4.0f}, {3, 0, 0.4f, 100.0f, 100.0f, 4.0f},
    };
    int32_t seed = 1;
    for (const Case& c : cases) {
        for (auto [w, h] : {std::pair{24, 19}, std::pair{8, 1}, std::pair{8, 24}}) {
            Scene sc = RandomScene(w, h, static_cast<uint32_t>(seed++));
            FilterSettings s = DofSettings(c.mode);
            s.r2 = 200;
            FrameParameters p = DofParams(s);
            p.DOFBlurSide = c.side;
            p.DOFSeperator = c.separator;
            p.FocalNear = c.focalNear;
            p.FocalFar = c.focalFar;
            p.DOFBlurAmount = c.amount;
            TestFrame expected = sc.frame;
            ASSERT_TRUE(DepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
            reference::DepthOfField(expected, sc.depth, s, p);
            ASSERT_EQ(sc.frame.red, expected.red) << "mode " << c.mode << " side " << c.side;
            ASSERT_EQ(sc.frame.green, expected.green);
            ASSERT_EQ(sc.frame.blue, expected.blue);
        }
    }
}

// Blurs taller and wider than the frame, as a lifted limit gives: every
// footprint then reaches every row. One depth nearly everywhere (spans taken
// whole), with blocks nearer and farther that mix, hide or are hidden.
TEST(DepthOfFieldBlurTest, MatchesTheReferenceForBlursLargerThanTheFrame) {
    for (int32_t mode : {3, 0}) {
        for (float blockDepth : {200.0f, 150.0f, 130.0f}) {
            Scene sc = RandomScene(72, 21, 70 + static_cast<uint32_t>(mode));
            std::fill(sc.depth.values.begin(), sc.depth.values.end(), 200.0f);
            for (int32_t y = 5; y < 9; ++y) {
                for (int32_t x = 30; x < 41; ++x) sc.depth.At(x, y) = blockDepth;
            }
            sc.depth.At(60, 17) = 100.0f;  // in focus
            FilterSettings s = DofSettings(mode);
            FrameParameters p = DofParams(s);
            p.MaxDOFBlur = 1e6f;
            TestFrame expected = sc.frame;
            ASSERT_TRUE(DepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
            reference::DepthOfField(expected, sc.depth, s, p);
            ASSERT_EQ(sc.frame.red, expected.red) << "mode " << mode << " depth " << blockDepth;
            ASSERT_EQ(sc.frame.green, expected.green);
            ASSERT_EQ(sc.frame.blue, expected.blue);
        }
    }
}

// Depth blurs far beyond a 64x40 frame, with the limit a "3MaxDOFBlur%"
// null sets (5000 pixels at 100000, infinite for a vast value, none for
// NaN). A depth ramp gives nearly every pixel a blur of its own, up to
// 2500 pixels, so every one of these limits gives the blurs and bytes of
// the reference at 5000. Infinite and NaN depths with no limit must merely
// finish, as quickly as the rest.
TEST(DepthOfFieldBlurTest, LimitsFarBeyondTheFrameMatchTheReference) {
    const float inf = std::numeric_limits<float>::infinity();
    for (int32_t mode : {kIncludeFullFrame, kIncludeObjects}) {
        Scene sc = RandomScene(64, 40, 31);
        for (int32_t y = 0; y < 40; ++y) {
            for (int32_t x = 0; x < 64; ++x) {
                sc.depth.At(x, y) = static_cast<float>(100.0 + 300.0 * x / 64 + 200.0 * y / 40);
            }
        }
        FilterSettings s = DofSettings(mode);
        FrameParameters p = DofParams(s);
        p.MaxDOFBlur = 5000.0f;
        TestFrame expected = sc.frame;
        reference::DepthOfField(expected, sc.depth, s, p);
        for (float limit : {5000.0f, 1e30f, inf, std::numeric_limits<float>::quiet_NaN()}) {
            TestFrame frame = sc.frame;
            p.MaxDOFBlur = limit;
            ASSERT_TRUE(DepthOfFieldBlurPass(sc.depth.Attach(frame), s, p));
            ASSERT_EQ(frame.red, expected.red) << "mode " << mode << " limit " << limit;
            ASSERT_EQ(frame.green, expected.green);
            ASSERT_EQ(frame.blue, expected.blue);
        }
        sc.depth.At(3, 3) = inf;
        sc.depth.At(40, 20) = std::numeric_limits<float>::quiet_NaN();
        sc.depth.At(10, 30) = 3e38f;
        for (float limit : {inf, std::numeric_limits<float>::quiet_NaN()}) {
            p.MaxDOFBlur = limit;
            EXPECT_TRUE(DepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
        }
    }
}

TEST(DepthOfFieldBlurTest, ForegroundSpillsOverBackgroundButNotTheReverse) {
    TestFrame frame(8, 1);
    frame.Fill({0, 0, 0});
    frame.Set(3, 0, {200, 200, 200});
    DepthMap depth(8, 1, 120.0f);  // background far behind: blur 7
    depth.At(3, 0) = 90.0f;        // foreground far in front: blur 7
    FilterSettings s = DofSettings();
    const FrameParameters p = DofParams(s);
    ASSERT_TRUE(DepthOfFieldBlurPass(depth.Attach(frame), s, p));
    // In a one-row frame a blur of 7 reaches one pixel to each side. The
    // foreground keeps its colour: the background behind it gives it nothing.
    EXPECT_EQ(frame.Get(3, 0).r, 200);
    // Its neighbours take its whole colour once among four values.
    EXPECT_EQ(frame.Get(2, 0).r, 50);
    EXPECT_EQ(frame.Get(4, 0).r, 50);
    EXPECT_EQ(frame.Get(5, 0).r, 0);
}

TEST(DepthOfFieldBlurTest, OneSideOnly) {
    for (int32_t side : {1, 2}) {
        Scene sc = RandomScene(32, 24, 40 + static_cast<uint32_t>(side));
        const TestFrame before = sc.frame;
        FilterSettings s = DofSettings();
        FrameParameters p = DofParams(s);
        p.FocalNear = 99.0f;
        p.FocalFar = 101.0f;
        p.DOFBlurSide = side;
        ASSERT_TRUE(DepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
        int32_t changed = 0;
        for (std::size_t i = 0; i < before.red.size(); ++i) {
            const float d = sc.depth.values[i];
            const bool farSide = d >= p.FocalFar;
            const bool nearSide = d < p.FocalNear;
            const bool kept = !(side == 1 ? nearSide : farSide);
            if (kept) {
                ASSERT_EQ(sc.frame.red[i], before.red[i]) << "side " << side << " depth " << d;
                ASSERT_EQ(sc.frame.green[i], before.green[i]);
            } else {
                changed += sc.frame.red[i] != before.red[i];
            }
        }
        EXPECT_GT(changed, 0) << "side " << side;
    }
}

TEST(DepthOfFieldBlurTest, InFocusAndUnselectedPixelsNeverChange) {
    for (int32_t mode = 0; mode <= 4; ++mode) {
        Scene sc = RandomScene(32, 24, 60 + static_cast<uint32_t>(mode));
        const TestFrame before = sc.frame;
        FilterSettings s = DofSettings(mode);
        FrameParameters p = DofParams(s);
        p.FocalNear = 99.0f;
        p.FocalFar = 101.0f;
        ASSERT_TRUE(DepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
        for (std::size_t i = 0; i < before.red.size(); ++i) {
            const float d = sc.depth.values[i];
            const bool inFocus = d >= p.FocalNear && d < p.FocalFar;
            const bool selected = PixelSelected(s, before.alpha[i], before.shadow[i],
                                                before.red[i], before.green[i], before.blue[i]);
            if (inFocus || !selected) {
                ASSERT_EQ(sc.frame.Get(static_cast<int32_t>(i % 32), static_cast<int32_t>(i / 32)),
                          before.Get(static_cast<int32_t>(i % 32), static_cast<int32_t>(i / 32)))
                    << "mode " << mode << " pixel " << i;
            }
        }
    }
}

TEST(DepthOfFieldBlurTest, NothingChangesWithoutBlurOrSelection) {
    struct Case {
        int32_t percent, mode;
    };
    for (const Case c : {Case{0, 3}, Case{-100, 3}, Case{100, 5}, Case{100, -1}}) {
        Scene sc = RandomScene(16, 12, 77);
        const TestFrame before = sc.frame;
        FilterSettings s = DofSettings(c.mode);
        FrameParameters p = DofParams(s);
        s.DOFBlurPercent = c.percent;
        p = ComputeFrameParameters(s);
        ASSERT_TRUE(DepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
        EXPECT_EQ(sc.frame.red, before.red);
        EXPECT_EQ(sc.frame.green, before.green);
        EXPECT_EQ(sc.frame.blue, before.blue);
    }
}

TEST(DepthOfFieldBlurTest, DepthRowsAreFetchedOncePerRow) {
    Scene sc = RandomScene(24, 20, 5);
    FilterSettings s = DofSettings();
    const FrameParameters p = DofParams(s);
    ASSERT_TRUE(DepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
    for (int32_t count : sc.depth.fetches) EXPECT_EQ(count, 1);
}

TEST(DepthOfFieldBlurTest, NoDepthLeavesTheFrameUnchanged) {
    Scene sc = RandomScene(16, 12, 8);
    const TestFrame before = sc.frame;
    FilterSettings s = DofSettings();
    const FrameParameters p = DofParams(s);
    EXPECT_FALSE(DepthOfFieldBlurPass(sc.frame.View(), s, p));  // no depth buffer at all
    sc.depth.missingRow = 7;                                     // one row the host cannot give
    EXPECT_FALSE(DepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
    EXPECT_EQ(sc.frame.red, before.red);
    EXPECT_EQ(sc.frame.green, before.green);
    EXPECT_EQ(sc.frame.blue, before.blue);
}

TEST(DepthOfFieldBlurTest, OddWorkingValuesStayInsideTheFrame) {
    // Values only a null channel could produce.
    for (float maxBlur : {1e9f, std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN(), -3.0f}) {
        Scene sc = RandomScene(16, 12, 9);
        sc.depth.At(3, 3) = std::numeric_limits<float>::infinity();
        sc.depth.At(4, 4) = std::numeric_limits<float>::quiet_NaN();
        sc.depth.At(5, 5) = -1e30f;
        FilterSettings s = DofSettings();
        FrameParameters p = DofParams(s);
        p.MaxDOFBlur = maxBlur;
        EXPECT_TRUE(DepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
    }
}

TEST(DepthOfFieldBlurTest, MissingMemorySkipsThePass) {
    uint8_t plane[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    DepthMap depth(8, 1, 150.0f);
    FrameView view;
    view.width = std::numeric_limits<int32_t>::max();
    view.height = std::numeric_limits<int32_t>::max();
    view.red = view.green = view.blue = view.alpha = view.shadow = plane;
    view.depthRow = DepthMap::Row;
    view.depthContext = &depth;
    FilterSettings s = DofSettings();
    const FrameParameters p = DofParams(s);
    EXPECT_FALSE(DepthOfFieldBlurPass(view, s, p));
    EXPECT_EQ(plane[0], 1);
    EXPECT_EQ(depth.fetches[0], 0);
}

}  // namespace
}  // namespace lumafex

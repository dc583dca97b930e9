#include "pipeline/passes/softer_blur.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/lanes/double_lanes.h"
#include "pipeline/frame/lanes/lanes_target.h"
#include "pipeline/frame/selection.h"
#include "pipeline/frame/wide_vectors.h"
#include "pipeline/passes/average_rows.h"
#include "reference/blur.h"
#include "support/instruction_sets.h"
#include "support/test_frame.h"

namespace lumafex {
namespace {

using reference::RandomFrame;
using testing::Rgb;
using testing::TestFrame;

FilterSettings SofterSettings(int32_t blurPercent, int32_t mode = kIncludeFullFrame) {
    FilterSettings s{};
    ResetToDefaults(s);
    s.BlurFlag = 1;
    s.SofterBlurFlag = 1;
    s.BlurPercent = blurPercent;
    s.FilterInclude = mode;
    return s;
}

bool SofterBlur(TestFrame& frame, FilterSettings s) {
    const FrameParameters p = ComputeFrameParameters(s);
    return SofterBlurPass(frame.View(), s, p);
}

// Runs the pass at radius r over frame and expects the reference's bytes.
void ExpectTheReferencesBytes(TestFrame& frame, const FilterSettings& s, float r,
                              InstructionSet set = ProcessorInstructionSet()) {
    TestFrame expected = frame;
    FrameParameters p = ComputeFrameParameters(s);
    p.BlurAmount = r;
    p.instructionSet = set;
    ASSERT_TRUE(SofterBlurPass(frame.View(), s, p));
    reference::SofterBlur(expected, s, r);
    EXPECT_EQ(frame.red, expected.red)
        << "mode " << s.FilterInclude << " r " << r << " " << InstructionSetName(set);
    EXPECT_EQ(frame.green, expected.green);
    EXPECT_EQ(frame.blue, expected.blue);
}

TEST(SofterBlurTest, MatchesTheReferenceInEveryMode) {
    for (int32_t mode = 0; mode <= 4; ++mode) {
        for (int32_t percent : {20, 21, 30, 40, 50, 100, 147, 160}) {
            for (auto [w, h] : {std::pair{24, 17}, std::pair{8, 1}, std::pair{8, 30}}) {
                TestFrame frame = RandomFrame(w, h, static_cast<uint32_t>(mode * 17 + percent));
                TestFrame expected = frame;
                FilterSettings s = SofterSettings(percent, mode);
                s.r1 = 0;
                s.r2 = 200;
                ASSERT_TRUE(SofterBlur(frame, s));
                reference::SofterBlur(expected, s, ComputeFrameParameters(s).BlurAmount);
                ASSERT_EQ(frame.red, expected.red) << "mode " << mode << " % " << percent;
                ASSERT_EQ(frame.green, expected.green);
                ASSERT_EQ(frame.blue, expected.blue);
            }
        }
    }
}

// Frames wide enough for runs of receivers away from both edges (and, in
// the full frame, a weight sum they share) and tall enough for rows whose
// sources' footprints no edge cuts, with and without the wider vectors,
// and radii beyond the frame, up to infinite ones.
TEST(SofterBlurTest, MatchesTheReferenceOnWideFramesAndHugeRadii) {
    const float huge[] = {499.95f, 0x1p41f, std::numeric_limits<float>::infinity()};
    for (InstructionSet set : testing::SetsOfThisProcessor()) {
        for (int32_t mode = 0; mode <= 4; ++mode) {
            for (float r : {5.0f, 7.35f, huge[0], huge[1], huge[2]}) {
                const bool big = r > 100.0f;
                TestFrame frame = big ? RandomFrame(24, 9, 7) : RandomFrame(136, 40, 3);
                FilterSettings s = SofterSettings(100, mode);
                s.r1 = 0;
                s.r2 = 200;
                ExpectTheReferencesBytes(frame, s, r, set);
            }
        }
    }
}

// Settings far beyond a 64x40 frame, stored (BlurPercent 100000, the
// largest int32) or from a null channel (NaN), with both vector forms: the
// reference's bytes, and a small frame's cost whatever the radius.
TEST(SofterBlurTest, SettingsFarBeyondTheFrameMatchTheReference) {
    const float radii[] = {
        ComputeFrameParameters(SofterSettings(100000)).BlurAmount,
        ComputeFrameParameters(SofterSettings(std::numeric_limits<int32_t>::max())).BlurAmount,
        std::numeric_limits<float>::quiet_NaN()};
    for (InstructionSet set : testing::SetsOfThisProcessor()) {
        for (int32_t mode : {kIncludeFullFrame, kIncludeObjects}) {
            for (float r : radii) {
                TestFrame frame = RandomFrame(64, 40, 17);
                ExpectTheReferencesBytes(frame, SofterSettings(100, mode), r, set);
            }
        }
    }
}

TEST(SofterBlurTest, SingleBrightPixel) {
    TestFrame frame(40, 40);
    frame.Fill({0, 0, 0});
    frame.Set(20, 20, {255, 255, 255});
    ASSERT_TRUE(SofterBlur(frame, SofterSettings(100)));
    // Every pixel near the bright one has received from 69 pixels with
    // positive weights adding up to about 130.27, besides its own weight 1.
    const double weightSum = 131.27;
    EXPECT_EQ(frame.Get(20, 20).r, 11);  // 255 x 6 / 131.27
    EXPECT_EQ(static_cast<int>(255 * 6 / weightSum), 11);
    for (auto [dx, dy] : {std::pair{1, 0}, std::pair{-1, 0}, std::pair{0, 1}, std::pair{0, -1}}) {
        EXPECT_EQ(frame.Get(20 + dx, 20 + dy).r, 7);  // weight 4
    }
    for (auto [dx, dy] : {std::pair{1, 1}, std::pair{-1, 1}, std::pair{1, -1}, std::pair{-1, -1}}) {
        EXPECT_EQ(frame.Get(20 + dx, 20 + dy).r, 6);  // weight 5 - sqrt(2)
    }
    for (auto [dx, dy] : {std::pair{2, 0}, std::pair{-2, 0}, std::pair{0, 2}, std::pair{0, -2}}) {
        EXPECT_EQ(frame.Get(20 + dx, 20 + dy).r, 5);  // weight 3
    }
    // The top and bottom rows lie at distance 5: weight 0, nothing received.
    EXPECT_EQ(frame.Get(20, 15).r, 0);
    EXPECT_EQ(frame.Get(20, 25).r, 0);
    int32_t changed = 0;
    for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 40; ++x) changed += frame.Get(x, y).r != 0;
    }
    EXPECT_LE(changed, 69);
}

TEST(SofterBlurTest, OneRowWorkedExample) {
    TestFrame frame(8, 1);
    const uint8_t c[8] = {10, 200, 37, 255, 0, 90, 91, 250};
    for (int32_t x = 0; x < 8; ++x) frame.Set(x, 0, {c[x], c[7 - x], 128});
    const TestFrame before = frame;
    ASSERT_TRUE(SofterBlur(frame, SofterSettings(100)));
    for (int32_t x = 0; x < 8; ++x) {
        auto expect = [&](const std::vector<uint8_t>& p) {
            if (x == 0) return (6 * p[0] + 4 * p[1]) / 10;
            if (x == 7) return (4 * p[6] + 6 * p[7]) / 10;
            return (4 * p[x - 1] + 6 * p[x] + 4 * p[x + 1]) / 14;
        };
        EXPECT_EQ(frame.red[x], expect(before.red)) << x;
        EXPECT_EQ(frame.green[x], expect(before.green)) << x;
        EXPECT_EQ(frame.blue[x], 128);
    }
}

TEST(SofterBlurTest, RadiusUpToOneOnlyRoundsItsOwnColourDown) {
    for (int32_t percent : {1, 10, 19, 20}) {
        TestFrame frame = RandomFrame(16, 12, 21);
        const TestFrame before = frame;
        ASSERT_TRUE(SofterBlur(frame, SofterSettings(percent)));
        for (std::size_t i = 0; i < frame.red.size(); ++i) {
            ASSERT_LE(frame.red[i], before.red[i]);
            ASSERT_GE(frame.red[i] + 1, before.red[i]);
            ASSERT_LE(frame.blue[i], before.blue[i]);
            ASSERT_GE(frame.blue[i] + 1, before.blue[i]);
        }
    }
    // Pixels that do not spread keep their colours exactly.
    TestFrame frame = RandomFrame(16, 12, 22);
    const TestFrame before = frame;
    ASSERT_TRUE(SofterBlur(frame, SofterSettings(20, kIncludeObjects)));
    for (std::size_t i = 0; i < frame.red.size(); ++i) {
        if (before.alpha[i] == 0) {
            ASSERT_EQ(frame.red[i], before.red[i]);
        }
    }
}

TEST(SofterBlurTest, TwentyOnePercentReachesAPlusShape) {
    TestFrame frame(8, 5);
    frame.Fill({0, 0, 0});
    frame.Set(3, 2, {255, 255, 255});
    ASSERT_TRUE(SofterBlur(frame, SofterSettings(21)));
    // Each of the four neighbours: 255 x 0.05 over its own weight 1, its own
    // spread weight 1.05 and 0.05 from each of its four neighbours.
    for (auto [x, y] : {std::pair{2, 2}, std::pair{4, 2}, std::pair{3, 1}, std::pair{3, 3}}) {
        EXPECT_EQ(frame.Get(x, y).r, 5) << x << "," << y;
    }
    EXPECT_EQ(frame.Get(2, 1).r, 0);
    EXPECT_EQ(frame.Get(4, 3).r, 0);
}

TEST(SofterBlurTest, NonPositiveRadiusAndUnknownModeLeaveTheFrameUnchanged) {
    for (auto [percent, mode] : {std::pair{0, 3}, std::pair{-5, 3}, std::pair{100, 5}, std::pair{100, -1}}) {
        TestFrame frame = RandomFrame(16, 12, 5);
        const TestFrame before = frame;
        ASSERT_TRUE(SofterBlur(frame, SofterSettings(percent, mode)));
        EXPECT_EQ(frame.red, before.red);
        EXPECT_EQ(frame.green, before.green);
        EXPECT_EQ(frame.blue, before.blue);
    }
}

TEST(SofterBlurTest, BackgroundOnlyNeverChangesAnObject) {
    TestFrame frame = RandomFrame(32, 24, 9);
    const TestFrame before = frame;
    ASSERT_TRUE(SofterBlur(frame, SofterSettings(200, kIncludeBackground)));
    for (std::size_t i = 0; i < frame.red.size(); ++i) {
        if (before.alpha[i] == 0) continue;
        ASSERT_EQ(frame.red[i], before.red[i]);
        ASSERT_EQ(frame.green[i], before.green[i]);
        ASSERT_EQ(frame.blue[i], before.blue[i]);
    }
}

TEST(SofterBlurTest, ColourRangeBlendsIntoPixelsOutsideIt) {
    TestFrame frame(16, 8);
    frame.Fill({200, 200, 0});  // outside the default range of blues
    frame.Set(8, 4, {0, 0, 255});
    ASSERT_TRUE(SofterBlur(frame, SofterSettings(100, kIncludeColorRange)));
    // The neighbour takes w (t x blue + (1 - t) x own), t = 4 / 5, besides
    // its own colour with weight 1: red (200 + 4 x 40) / 5, blue 4 x 204 / 5.
    EXPECT_EQ(frame.Get(9, 4), (Rgb{72, 72, 163}));
}

}  // namespace

// The averages in each lanes form.
namespace plainform {
using L = ScalarDoubleLanes;
#include "pipeline/passes/average_rows_lanes.h"
}  // namespace plainform
#if LUMAFEX_DOUBLE_LANES
namespace narrow {
using L = Sse2DoubleLanes;
#include "pipeline/passes/average_rows_lanes.h"
}  // namespace narrow
#endif
#if LUMAFEX_WIDE_VECTORS
LUMAFEX_LANES_BEGIN_AVX2
namespace wide {
using L = Avx2DoubleLanes;
#include "pipeline/passes/average_rows_lanes.h"
}  // namespace wide
LUMAFEX_LANES_END
#endif

namespace {

using AverageFunction = void (*)(const double* const*, const double*, const uint8_t* const*, int32_t,
                                 uint8_t* const*);

// The forms this processor runs, by name.
std::vector<std::pair<const char*, AverageFunction>> AverageForms() {
    std::vector<std::pair<const char*, AverageFunction>> forms = {{"plain", plainform::AverageRows}};
#if LUMAFEX_DOUBLE_LANES
    forms.emplace_back("SSE2", narrow::AverageRows);
#endif
#if LUMAFEX_WIDE_VECTORS
    if (Allows(ProcessorInstructionSet(), InstructionSet::Avx2Fma)) {
        forms.emplace_back("AVX2", wide::AverageRows);
    }
#endif
    return forms;
}

// The three-colour averages of every lanes form must truncate exactly as
// the division does, above all where a quotient lies at or next to a whole
// number, and keep the own colour where the weight is not a positive
// number.
TEST(SofterBlurTest, LaneAveragesTruncateAsTheDivisionDoes) {
    constexpr int32_t kWidth = 4003;  // a tail past the last four
    std::vector<double> sums[4];
    std::vector<uint8_t> own[3];
    std::vector<uint8_t> wide[3];
    std::vector<uint8_t> plain[3];
    for (int c = 0; c < 4; ++c) sums[c].resize(kWidth + 3);
    for (int c = 0; c < 3; ++c) {
        own[c].assign(kWidth, 0);
        wide[c].assign(kWidth, 0);
        plain[c].assign(kWidth, 0);
    }
    uint32_t seed = 5;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const double odd[] = {
        0.0,      -1.0,     std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        0x1p1001, 0x1p-1060};
    for (int32_t x = 0; x < kWidth; ++x) {
        const auto weight = static_cast<float>(1.0 + (next() % 100000) / 997.0);
        sums[3][x] = next() % 50 == 0 ? odd[next() % 6] : weight;
        for (int c = 0; c < 3; ++c) {
            own[c][x] = static_cast<uint8_t>(next());
            // A whole multiple of the weight, a step either side of one,
            // any sum, or one past 255 times the weight.
            const double whole = static_cast<double>(next() % 256) * weight;
            const auto near = static_cast<float>(whole);
            double sum = whole;
            switch (next() % 6) {
                case 0: sum = std::nextafter(near, 0.0f); break;
                case 1: sum = std::nextafter(near, 1e30f); break;
                case 2: sum = static_cast<float>((next() % 2560000) / 10000.0 * weight); break;
                case 3: sum = 256.5 * weight; break;
                case 4: sum = next() % 40 == 0 ? odd[next() % 6] : near; break;
                default: break;
            }
            sums[c][x] = sum;
        }
    }
    const double* const rows[4] = {sums[0].data(), sums[1].data(), sums[2].data(), sums[3].data()};
    const uint8_t* const mine[3] = {own[0].data(), own[1].data(), own[2].data()};
    uint8_t* const out[3] = {wide[0].data(), wide[1].data(), wide[2].data()};
    std::vector<double> reciprocals(kWidth);
    for (int32_t x = 0; x < kWidth; ++x) reciprocals[x] = 1.0 / sums[3][x];
    for (int c = 0; c < 3; ++c) AverageRow(rows[c], rows[3], mine[c], kWidth, plain[c].data());
    const double* const given[] = {nullptr, reciprocals.data()};
    for (const auto& [name, average] : AverageForms()) {
        for (const double* reciprocal : given) {
            average(rows, reciprocal, mine, kWidth, out);
            for (int c = 0; c < 3; ++c) ASSERT_EQ(wide[c], plain[c]) << name << " colour " << c;
        }
    }
}

TEST(SofterBlurTest, MissingMemorySkipsThePass) {
    uint8_t plane[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    FrameView view;
    view.width = std::numeric_limits<int32_t>::max();
    view.height = std::numeric_limits<int32_t>::max();
    view.red = view.green = view.blue = view.alpha = view.shadow = plane;
    FilterSettings s = SofterSettings(100);
    const FrameParameters p = ComputeFrameParameters(s);
    EXPECT_FALSE(SofterBlurPass(view, s, p));
    EXPECT_EQ(plane[0], 1);
    EXPECT_EQ(plane[7], 8);
}

}  // namespace
}  // namespace lumafex

#include <gtest/gtest.h>

#include "support/final_pass_runner.h"

namespace lumafex::testing {
namespace {

struct PixelOut {
    Rgb colour;
    uint8_t alpha;
};

std::vector<PixelOut> RunKeys(const FilterSettings& settings, std::initializer_list<PixelOut> pixels) {
    TestFrame frame(static_cast<int32_t>(pixels.size()), 1);
    int32_t x = 0;
    for (const PixelOut& p : pixels) frame.Set(x++, 0, p.colour, p.alpha);
    FilterSettings s = settings;
    const FrameParameters params = ComputeFrameParameters(s);
    RandomGenerator random;
    RecordingOutput out(frame.width, 1);
    RunFinalPass(frame.View(), s, params, random, out);
    std::vector<PixelOut> result;
    for (int32_t i = 0; i < frame.width; ++i) {
        result.push_back({out.Get(i, 0), out.alpha[static_cast<std::size_t>(i)]});
    }
    return result;
}

TEST(KeyStages, KeyPrepKeepsChannelsOffBlackOrWhite) {
    FilterSettings s = DefaultSettings();
    s.KeyPrepFlag = 1;
    EXPECT_EQ(FilterPixel(s, {0, 10, 30}), (Rgb{21, 21, 30}));
    s.KeyPrepFlag = 2;
    EXPECT_EQ(FilterPixel(s, {250, 234, 100}), (Rgb{234, 234, 100}));
    s.KeyPrepFlag = 3;
    EXPECT_EQ(FilterPixel(s, {0, 255, 100}), (Rgb{0, 255, 100}));
}

TEST(KeyStages, FullBlackAndWhitePaintSelectedPixels) {
    FilterSettings s = DefaultSettings();
    s.BlackFlag = 1;
    EXPECT_EQ(RunKeys(s, {{{9, 8, 7}, 40}})[0].colour, (Rgb{0, 0, 0}));
    EXPECT_EQ(RunKeys(s, {{{9, 8, 7}, 40}})[0].alpha, 40);
    s.WhiteFlag = 1;  // white comes after black
    EXPECT_EQ(FilterPixel(s, {9, 8, 7}), (Rgb{255, 255, 255}));
    // With the colour range, black takes the blue pixel out of the range.
    s.FilterInclude = 4;
    EXPECT_EQ(FilterRow(s, {{0, 0, 200}, {200, 0, 0}}),
              (std::vector<Rgb>{{0, 0, 0}, {200, 0, 0}}));
}

TEST(KeyStages, NegativeAlphaInvertsEveryPixel) {
    FilterSettings s = DefaultSettings();
    s.ReverseAlphaFlag = 1;
    s.FilterInclude = 0;  // objects only does not limit it
    const auto out = RunKeys(s, {{{1, 2, 3}, 0}, {{1, 2, 3}, 200}});
    EXPECT_EQ(out[0].alpha, 255);
    EXPECT_EQ(out[1].alpha, 55);
    EXPECT_EQ(out[1].colour, (Rgb{1, 2, 3}));
}

TEST(KeyStages, RangeAlphaMakesRangePixelsOpaqueWhite) {
    FilterSettings s = DefaultSettings();
    s.RangeAlphaFlag = 1;
    s.FilterInclude = 1;  // ignored by range alpha
    const auto out = RunKeys(s, {{{0, 0, 255}, 10}, {{100, 0, 255}, 10}});
    EXPECT_EQ(out[0].colour, (Rgb{255, 255, 255}));
    EXPECT_EQ(out[0].alpha, 255);
    EXPECT_EQ(out[1].colour, (Rgb{100, 0, 255}));
    EXPECT_EQ(out[1].alpha, 10);

    s.ReverseAlphaFlag = 1;  // negative alpha first, then range alpha
    const auto both = RunKeys(s, {{{0, 0, 255}, 10}, {{100, 0, 255}, 10}});
    EXPECT_EQ(both[0].alpha, 255);
    EXPECT_EQ(both[1].alpha, 245);
}

TEST(KeyStages, RangeAlphaFollowsTheRangeTestOnWideRows) {
    // Bounds below 0, above 255 and reversed, on rows long enough for the
    // sixteen-pixel steps and their remainder.
    const int32_t bounds[][2] = {{0, 255}, {-40, 90}, {100, 400}, {200, 100}, {77, 77}, {256, 300}};
    uint32_t seed = 5;
    for (int round = 0; round < 30; ++round) {
        FilterSettings s = DefaultSettings();
        s.RangeAlphaFlag = 1;
        seed = seed * 1103515245u + 12345u;
        const auto* r = bounds[(seed >> 8) % 6];
        const auto* g = bounds[(seed >> 12) % 6];
        const auto* b = bounds[(seed >> 16) % 3];  // keep most rounds non-empty
        s.r1 = r[0], s.r2 = r[1], s.g1 = g[0], s.g2 = g[1], s.b1 = b[0], s.b2 = b[1];
        TestFrame frame(37 + round, 2);
        frame.FillPattern(seed);
        for (std::size_t i = 0; i < frame.red.size(); i += 3) frame.green[i] = 77;
        const TestFrame input = frame;
        const FrameParameters params = ComputeFrameParameters(s);
        RandomGenerator random;
        RecordingOutput out(frame.width, frame.height);
        RunFinalPass(frame.View(), s, params, random, out);
        for (std::size_t i = 0; i < input.red.size(); ++i) {
            const bool in = InColorRange(s, input.red[i], input.green[i], input.blue[i]);
            ASSERT_EQ(out.red[i], in ? 255 : input.red[i]) << round << " " << i;
            ASSERT_EQ(out.green[i], in ? 255 : input.green[i]) << round << " " << i;
            ASSERT_EQ(out.alpha[i], in ? 255 : input.alpha[i]) << round << " " << i;
        }
    }
}

TEST(KeyStages, RunAfterTheColourStages) {
    FilterSettings s = DefaultSettings();
    s.NegativeImageFlag = 1;
    s.KeyPrepFlag = 1;
    EXPECT_EQ(FilterPixel(s, {0, 0, 0}), (Rgb{255, 255, 255}));
    s.KeyPrepFlag = 0;
    s.BlackFlag = 1;
    EXPECT_EQ(FilterPixel(s, {0, 90, 200}), (Rgb{0, 0, 0}));
}

}  // namespace
}  // namespace lumafex::testing

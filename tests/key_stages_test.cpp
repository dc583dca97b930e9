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

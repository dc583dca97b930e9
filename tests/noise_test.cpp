#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "pipeline/final/colour_stages.h"
#include "pipeline/final/noise.h"
#include "pipeline/frame/byte_math.h"
#include "pipeline/frame/random_generator.h"
#include "pipeline/frame/selection.h"
#include "support/final_pass_runner.h"

namespace lumafex::testing {
namespace {

TEST(RandomGenerator, StartsFromStateOne) {
    RandomGenerator random;
    for (int32_t expected : {41, 18467, 6334, 26500, 19169}) EXPECT_EQ(random.Draw(), expected);
}

// Runs the final pass over one row with the given generator.
std::vector<Rgb> NoiseRow(const FilterSettings& s, RandomGenerator& random,
                          std::initializer_list<Rgb> pixels, FrameParameters* override = nullptr) {
    TestFrame frame(static_cast<int32_t>(pixels.size()), 1);
    int32_t x = 0;
    for (const Rgb& p : pixels) frame.Set(x++, 0, p);
    FilterSettings working = s;
    FrameParameters params = override != nullptr ? *override : ComputeFrameParameters(working);
    RecordingOutput out(frame.width, 1);
    RunFinalPass(frame.View(), working, params, random, out);
    std::vector<Rgb> result;
    for (int32_t i = 0; i < frame.width; ++i) result.push_back(out.Get(i, 0));
    return result;
}

FilterSettings NoiseOn() {
    FilterSettings s = DefaultSettings();
    s.NoiseFlag = 1;
    return s;
}

TEST(Noise, MonochromeBlendsAllChannelsTowardOneLevel) {
    RandomGenerator random;
    EXPECT_EQ(NoiseRow(NoiseOn(), random, {{100, 100, 100}, {100, 100, 100}, {100, 100, 100}}),
              (std::vector<Rgb>{{104, 104, 104}, {110, 110, 110}, {100, 100, 100}}));
    RandomGenerator fresh;
    for (int i = 0; i < 5; ++i) fresh.Draw();
    EXPECT_EQ(random.state(), fresh.state());  // 2 + 2 + 1 draws
}

TEST(Noise, ChromaDrawsALevelPerChannel) {
    FilterSettings s = NoiseOn();
    FilterSettings working = s;
    FrameParameters p = ComputeFrameParameters(working);
    p.ChromaNoise = 1;
    RandomGenerator random;
    EXPECT_EQ(NoiseRow(s, random, {{100, 100, 100}, {100, 100, 100}}, &p),
              (std::vector<Rgb>{{104, 94, 110}, {100, 100, 100}}));
}

TEST(Noise, WeightsOfZeroAndOne) {
    FilterSettings s = NoiseOn();
    FilterSettings working = s;
    FrameParameters p = ComputeFrameParameters(working);
    p.NoiseRed = 0.0f;
    p.NoiseGreen = 1.0f;
    RandomGenerator random;
    // First pixel: test draw 41, level 18467 / 128 = 144.
    EXPECT_EQ(NoiseRow(s, random, {{100, 100, 100}}, &p)[0], (Rgb{100, 144, 104}));
}

TEST(Noise, ZeroPercentStillDrawsForEverySelectedPixel) {
    FilterSettings s = NoiseOn();
    s.NoisePercent = 0;
    RandomGenerator random;
    EXPECT_EQ(NoiseRow(s, random, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}),
              (std::vector<Rgb>{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}));
    RandomGenerator threeDraws;
    for (int i = 0; i < 3; ++i) threeDraws.Draw();
    EXPECT_EQ(random.state(), threeDraws.state());
}

TEST(Noise, UnselectedPixelsDrawNothing) {
    FilterSettings s = NoiseOn();
    s.FilterInclude = 9;
    RandomGenerator random;
    NoiseRow(s, random, {{1, 2, 3}, {4, 5, 6}});
    EXPECT_EQ(random.state(), 1u);
}

TEST(Noise, TheGeneratorRunsOnIntoTheNextFrame) {
    FilterSettings s = NoiseOn();
    s.NoisePercent = 400;  // every selected pixel receives noise
    RandomGenerator random;
    const auto first = NoiseRow(s, random, {{100, 100, 100}, {100, 100, 100}});
    const auto second = NoiseRow(s, random, {{100, 100, 100}, {100, 100, 100}});
    EXPECT_NE(first, second);
    RandomGenerator eightDraws;
    for (int i = 0; i < 8; ++i) eightDraws.Draw();
    EXPECT_EQ(random.state(), eightDraws.state());
}

// Every mode (the colour range with rows that mix), grey or chroma, and
// amounts from none to all: the same bytes and the same generator state as
// drawing pixel by pixel, jumping on each decision.
TEST(Noise, MatchesDrawingPixelByPixel) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> byte(0, 255);
    const double amounts[] = {0.0, 0.5, 9999.5, 10000.0, 32767.5, 40000.0, -3.0, std::nan("")};
    for (int trial = 0; trial < 240; ++trial) {
        FilterSettings s = NoiseOn();
        s.FilterInclude = trial % 6;  // 5: no pixel is selected
        s.r1 = byte(rng) / 2;
        s.r2 = 128 + byte(rng) / 2;
        s.g1 = byte(rng) / 2;
        s.g2 = 255;
        FrameParameters p = ComputeFrameParameters(s);
        p.NoiseAmount = amounts[trial % 8];
        p.ChromaNoise = (trial / 8) % 2;
        p.NoiseRed = static_cast<float>(byte(rng)) / 255.0f;
        p.NoiseBlue = 1.0f - p.NoiseRed;
        constexpr int32_t kWidth = 601;  // past a few stretches of pixels
        uint8_t planes[5][kWidth];
        for (auto& plane : planes) {
            for (uint8_t& v : plane) v = static_cast<uint8_t>(byte(rng) < 64 ? 0 : byte(rng));
        }
        uint8_t expected[3][kWidth];
        std::memcpy(expected, planes, sizeof expected);
        RandomGenerator reference(static_cast<uint32_t>(rng()));
        RandomGenerator random = reference;
        for (int32_t x = 0; x < kWidth; ++x) {
            uint8_t& r = expected[0][x];
            uint8_t& g = expected[1][x];
            uint8_t& b = expected[2][x];
            if (!PixelSelected(s, planes[3][x], planes[4][x], r, g, b)) continue;
            if (!(reference.Draw() < p.NoiseAmount)) continue;
            if (p.ChromaNoise == 0) {
                const int32_t n = reference.Draw() / 128;
                const double kr = p.NoiseRed;
                const double kg = p.NoiseGreen;
                const double kb = p.NoiseBlue;
                r = LimitToByte((1.0 - kr) * r + kr * n);
                g = LimitToByte((1.0 - kg) * g + kg * n);
                b = LimitToByte((1.0 - kb) * b + kb * n);
            } else {
                // The old value keeps 1 - k rounded to single precision.
                auto blend = [](int32_t level, float k, uint8_t old) {
                    const double keep = static_cast<float>(1.0 - k);
                    return LimitToByte(level * double{k} + old * keep);
                };
                r = blend(reference.Draw() / 128, p.NoiseRed, r);
                g = blend(reference.Draw() / 128, p.NoiseGreen, g);
                b = blend(reference.Draw() / 128, p.NoiseBlue, b);
            }
        }
        const RowView row{planes[0], planes[1], planes[2], planes[3], planes[4], kWidth, 0};
        const WorkLines lines{};
        const ColourTables colour{};
        StageContext ctx{s, p, lines, colour, random};
        Noise(row, ctx);
        ASSERT_EQ(std::memcmp(planes, expected, sizeof expected), 0) << "trial " << trial;
        ASSERT_EQ(random.state(), reference.state()) << "trial " << trial;
    }
}

// A draw passes when it lies below the amount, which need not be whole.
TEST(Noise, ADrawJustBelowAFractionalAmountPasses) {
    uint32_t start = 0;
    while (RandomGenerator::ValueOf(RandomGenerator::JumpOf(1).From(start)) != 9999) ++start;
    FilterSettings s = NoiseOn();
    s.FilterInclude = 3;
    FrameParameters p = ComputeFrameParameters(s);
    for (double amount : {9999.0, 9999.5}) {
        p.NoiseAmount = amount;
        uint8_t planes[5] = {100, 100, 100, 255, 0};
        const RowView row{&planes[0], &planes[1], &planes[2], &planes[3], &planes[4], 1, 0};
        const WorkLines lines{};
        const ColourTables colour{};
        RandomGenerator random(start);
        StageContext ctx{s, p, lines, colour, random};
        Noise(row, ctx);
        EXPECT_EQ(planes[0] != 100, amount == 9999.5) << amount;
    }
}

}  // namespace
}  // namespace lumafex::testing

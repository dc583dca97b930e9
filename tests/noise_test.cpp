#include <gtest/gtest.h>

#include "pipeline/frame/random_generator.h"
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

}  // namespace
}  // namespace lumafex::testing

#include <gtest/gtest.h>

#include <string>

#include "support/final_pass_runner.h"

namespace lumafex::testing {
namespace {

struct FilterRun {
    TestFrame input;
    RecordingOutput out;
};

FilterRun RunOn(const FilterSettings& settings, int32_t w, int32_t h, uint32_t seed) {
    FilterRun run{TestFrame(w, h), RecordingOutput(w, h)};
    run.input.FillPattern(seed);
    TestFrame work = run.input;
    FilterSettings s = settings;
    const FrameParameters params = ComputeFrameParameters(s);
    RandomGenerator random;
    EXPECT_EQ(RunFinalPass(work.View(), s, params, random, run.out), FinalPassResult::Written);
    return run;
}

TEST(FinalPass, DefaultsWriteEveryPixelOnceUnchangedRowByRow) {
    const FilterRun run = RunOn(DefaultSettings(), 16, 5, 1);
    EXPECT_EQ(run.out.red, run.input.red);
    EXPECT_EQ(run.out.green, run.input.green);
    EXPECT_EQ(run.out.blue, run.input.blue);
    EXPECT_EQ(run.out.alpha, run.input.alpha);
    ASSERT_EQ(run.out.calls.size(), 2u * 16 * 5);
    std::size_t i = 0;
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 16; ++x) {
            const auto& rgb = run.out.calls[i++];
            const auto& alpha = run.out.calls[i++];
            EXPECT_FALSE(rgb.alpha);
            EXPECT_TRUE(alpha.alpha);
            EXPECT_EQ(rgb.x, x);
            EXPECT_EQ(rgb.y, y);
            EXPECT_EQ(alpha.x, x);
            EXPECT_EQ(alpha.y, y);
        }
    }
}

TEST(FinalPass, VerticalFlipHappensAtWriteBack) {
    FilterSettings s = DefaultSettings();
    s.FlipFrameFlag = 2;
    const FilterRun run = RunOn(s, 8, 4, 2);
    EXPECT_EQ(run.out.calls.front().x, 0);
    EXPECT_EQ(run.out.calls.front().y, 3);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(run.out.Get(x, 3 - y), run.input.Get(x, y));
            EXPECT_EQ(run.out.alpha[run.input.At(x, 3 - y)], run.input.alpha[run.input.At(x, y)]);
        }
    }
}

TEST(FinalPass, HorizontalFlipMirrorsColourAndAlphaButNotShadow) {
    FilterSettings s = DefaultSettings();
    s.FlipFrameFlag = 1;
    const FilterRun plain = RunOn(s, 8, 3, 3);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(plain.out.Get(7 - x, y), plain.input.Get(x, y));
            EXPECT_EQ(plain.out.alpha[plain.input.At(7 - x, y)],
                      plain.input.alpha[plain.input.At(x, y)]);
        }
    }

    // Shadows only, shadow at column 0: the negative (before the flip) hits
    // the pixel that starts at column 0; the gain (after the flip) hits the
    // pixel that has moved to column 0, tested against the unmoved shadow.
    s.FilterInclude = 2;
    s.NegativeImageFlag = 1;
    s.RedPercent = 50;
    TestFrame frame(4, 1);
    frame.Set(0, 0, {100, 100, 100});
    frame.Set(1, 0, {10, 10, 10});
    frame.Set(2, 0, {20, 20, 20});
    frame.Set(3, 0, {200, 40, 40});
    frame.shadow[0] = 255;
    const FrameParameters params = ComputeFrameParameters(s);
    RandomGenerator random;
    RecordingOutput out(4, 1);
    RunFinalPass(frame.View(), s, params, random, out);
    EXPECT_EQ(out.Get(0, 0), (Rgb{100, 40, 40}));
    EXPECT_EQ(out.Get(3, 0), (Rgb{155, 155, 155}));
}

TEST(FinalPass, OtherFlipValuesFlipNothing) {
    FilterSettings s = DefaultSettings();
    for (int32_t flip : {3, -1}) {
        s.FlipFrameFlag = flip;
        const FilterRun run = RunOn(s, 8, 2, 4);
        EXPECT_EQ(run.out.red, run.input.red);
        EXPECT_EQ(run.out.alpha, run.input.alpha);
    }
}

TEST(FinalPass, StagesRunInTheirFixedOrder) {
    const char* expected[] = {"broadcast limit", "noise", "negative", "posterize",
                              "black and white", "horizontal flip", "key prep",
                              "colour factors and brightness", "contrast", "gamma",
                              "100% black", "100% white", "negative alpha", "range alpha"};
    const auto& stages = FinalStages();
    ASSERT_EQ(stages.size(), std::size(expected));
    for (std::size_t i = 0; i < stages.size(); ++i) EXPECT_EQ(std::string(stages[i].name), expected[i]);
}

TEST(FinalPass, StageGatesFollowTheirSwitches) {
    const auto& stages = FinalStages();
    FilterSettings s = DefaultSettings();
    FrameParameters p = ComputeFrameParameters(s);
    for (const FinalStage& stage : stages) EXPECT_FALSE(stage.runs(s, p)) << stage.name;

    s.NegativeFlag = s.NoiseFlag = s.NegativeImageFlag = s.CartoonFlag = s.GreyFlag = 2;
    s.FlipFrameFlag = 1;
    s.KeyPrepFlag = 3;
    s.BlackFlag = s.WhiteFlag = s.ReverseAlphaFlag = s.RangeAlphaFlag = -1;
    s.BrightPercent = 99;
    s.ContrastPercent = 101;
    s.GammaPercent = 99;
    p = ComputeFrameParameters(s);
    for (const FinalStage& stage : stages) EXPECT_TRUE(stage.runs(s, p)) << stage.name;

    // Posterize needs a step above 1.0; the horizontal flip needs exactly 1.
    s.PosterizePercent = 3;
    s.FlipFrameFlag = 2;
    p = ComputeFrameParameters(s);
    EXPECT_FALSE(stages[3].runs(s, p));
    EXPECT_FALSE(stages[5].runs(s, p));
}

TEST(FinalPass, EmptyFramesWriteNothing) {
    FilterSettings s = DefaultSettings();
    s.NegativeImageFlag = 1;
    TestFrame frame(0, 0);
    const FrameParameters params = ComputeFrameParameters(s);
    RandomGenerator random;
    RecordingOutput out(0, 0);
    EXPECT_EQ(RunFinalPass(frame.View(), s, params, random, out), FinalPassResult::Written);
    EXPECT_TRUE(out.calls.empty());
}

}  // namespace
}  // namespace lumafex::testing

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pipeline/frame/frame_parameters.h"

namespace lumafex {
namespace {

FilterSettings Defaults() {
    FilterSettings s{};
    ResetToDefaults(s);
    return s;
}

TEST(FrameParameters, DefaultsGiveNeutralFactors) {
    FilterSettings s = Defaults();
    const FrameParameters p = ComputeFrameParameters(s);
    EXPECT_EQ(p.RedScale, 1.0f);
    EXPECT_EQ(p.GreenScale, 1.0f);
    EXPECT_EQ(p.BlueScale, 1.0f);
    EXPECT_EQ(p.BrightScale, 1.0f);
    EXPECT_EQ(p.ContrastFactor, 1.0f);
    EXPECT_EQ(p.GammaOffset, 0.0f);
    EXPECT_EQ(p.BlurAmount, 5.0f);
    EXPECT_EQ(p.DOFBlurAmount, 5.0f);
    EXPECT_EQ(p.EnhanceAmount, 1.0f);
    EXPECT_EQ(p.AntialiasAmount, static_cast<float>(100.0 * static_cast<double>(1.0f / 457.0f)));
    EXPECT_NEAR(p.AntialiasAmount, 0.21881838, 1e-7);
    EXPECT_EQ(p.AntialiasThreshold, 100.0f);
    EXPECT_EQ(p.PosterizeStep, 50.0f);
    EXPECT_EQ(p.NoiseAmount, 10000.0f);
    EXPECT_EQ(p.MaxDOFBlur, 7.0f);
    EXPECT_EQ(p.DOFSeperator, 0.4f);
    EXPECT_EQ(p.NoiseRed, 0.1f);
    EXPECT_EQ(p.ChromaNoise, 0);
    EXPECT_EQ(p.ColorModeOffset, 0);
    EXPECT_EQ(p.ColorModeSet, 0);
    EXPECT_EQ(p.DOFBlurSide, 0);
}

TEST(FrameParameters, SinglePrecisionRoundingIsOnce) {
    FilterSettings s = Defaults();
    s.RedPercent = 29;
    const FrameParameters p = ComputeFrameParameters(s);
    // The float nearest 0.29 lies just below it: red 100 scales to 28.99999...
    EXPECT_LT(static_cast<double>(p.RedScale), 0.29);
    EXPECT_EQ(p.RedScale, 0.29f);
}

TEST(FrameParameters, GammaContrastAndPosterize) {
    FilterSettings s = Defaults();
    s.GammaPercent = 150;
    s.ContrastPercent = 200;
    s.PosterizePercent = 3;
    FrameParameters p = ComputeFrameParameters(s);
    EXPECT_EQ(p.GammaOffset, 0.5f);
    EXPECT_EQ(p.ContrastFactor, 1.25f);
    EXPECT_EQ(p.PosterizeStep, 1.0f);

    s.GammaPercent = 0;
    s.ContrastPercent = 0;
    s.PosterizePercent = -7;
    p = ComputeFrameParameters(s);
    EXPECT_EQ(p.GammaOffset, -1.0f);
    EXPECT_EQ(p.ContrastFactor, 0.75f);
    EXPECT_EQ(p.PosterizeStep, 0.0f);

    EXPECT_EQ(PosterizeStepFor(401), 200.0f);
    EXPECT_EQ(PosterizeStepFor(400), 200.0f);
    EXPECT_EQ(PosterizeStepFor(-5), 0.0f);
    EXPECT_EQ(PosterizeStepFor(std::numeric_limits<int32_t>::min()), 0.0f);
}

TEST(FrameParameters, FocalRangeStartsAtTheFocalPoint) {
    FilterSettings s = Defaults();
    s.DOFBlurFocalPoint = 250;
    const FrameParameters p = ComputeFrameParameters(s);
    EXPECT_EQ(p.FocalNear, 250.0f);
    EXPECT_EQ(p.FocalFar, 250.0f);
    EXPECT_EQ(p.FocalDistance, 250.0);
}

TEST(FrameParameters, StoredPassesNeverReachesTheAntialiasStrength) {
    FilterSettings s = Defaults();
    s.Passes = 4;
    s.AntialiasPercent = 200;
    const FrameParameters p = ComputeFrameParameters(s);
    EXPECT_EQ(p.AntialiasAmount, static_cast<float>(200.0 * static_cast<double>(kAntialiasUnit)));
}

TEST(FrameParameters, ExtremeStoredValuesStayDefined) {
    FilterSettings s = Defaults();
    for (int32_t v : {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
        s.GammaPercent = v;
        s.AntialiasVariance = v;
        s.NoisePercent = v;
        const FrameParameters p = ComputeFrameParameters(s);
        EXPECT_TRUE(std::isfinite(p.GammaOffset));
        EXPECT_EQ(p.AntialiasThreshold, static_cast<float>(200.0 - v));
        EXPECT_EQ(p.NoiseAmount, static_cast<float>(v * 100.0));
    }
}

}  // namespace
}  // namespace lumafex

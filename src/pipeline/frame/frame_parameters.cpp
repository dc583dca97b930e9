#include "pipeline/frame/frame_parameters.h"

#include <algorithm>

namespace lumafex {

namespace {

// A percentage times a double-precision constant, rounded once to float.
float Scaled(int32_t percent, double factor) {
    return static_cast<float>(static_cast<double>(percent) * factor);
}

}  // namespace

float PosterizeStepFor(int32_t posterizePercent) {
    int32_t step = posterizePercent / 2;
    step = std::min<int32_t>(step, 200);
    step = std::max<int32_t>(step, 0);
    return static_cast<float>(step);
}

FrameParameters ComputeFrameParameters(const FilterSettings& settings) {
    FrameParameters p;
    p.instructionSet = ProcessorInstructionSet();
    p.RedScale = Scaled(settings.RedPercent, 0.01);
    p.GreenScale = Scaled(settings.GreenPercent, 0.01);
    p.BlueScale = Scaled(settings.BluePercent, 0.01);
    p.BrightScale = Scaled(settings.BrightPercent, 0.01);
    // (GammaPercent - 100) in 64 bits so that no stored value can overflow;
    // exactly 0 at 100.
    p.GammaOffset = static_cast<float>(
        static_cast<double>(static_cast<int64_t>(settings.GammaPercent) - 100) * 0.01);
    p.ContrastFactor =
        static_cast<float>(static_cast<double>(settings.ContrastPercent) * 0.0025 + 0.75);
    p.BlurAmount = Scaled(settings.BlurPercent, 0.05);
    p.FocalDistance = static_cast<double>(settings.DOFBlurFocalPoint);
    p.DOFBlurAmount = Scaled(settings.DOFBlurPercent, 0.05);
    p.MaxDOFBlur = 7.0f;
    p.DOFBlurSide = 0;
    p.DOFSeperator = 0.4f;
    p.FocalNear = static_cast<float>(settings.DOFBlurFocalPoint);
    p.FocalFar = static_cast<float>(settings.DOFBlurFocalPoint);

    p.AntialiasThreshold =
        static_cast<float>(200.0 - static_cast<double>(settings.AntialiasVariance));
    // The strength for the one pass every frame starts with: a stored
    // Passes never reaches the passes; only a null channel of this frame
    // raises it.
    p.AntialiasAmount = static_cast<float>(static_cast<double>(settings.AntialiasPercent) *
                                           static_cast<double>(kAntialiasUnit));
    p.EnhanceAmount = Scaled(settings.SharpenPercent, 0.01);
    p.PosterizeStep = PosterizeStepFor(settings.PosterizePercent);
    p.ChromaNoise = 0;
    p.NoiseRed = 0.1f;
    p.NoiseGreen = 0.1f;
    p.NoiseBlue = 0.1f;
    p.NoiseAmount = Scaled(settings.NoisePercent, 100.0);
    p.ColorModeOffset = 0;
    p.ColorModeSet = 0;
    return p;
}

}  // namespace lumafex

// The working values of one frame, derived from the settings record at the
// start of the frame and then possibly replaced by null-object channels.
// Passes read them and never change them.
//
// Single-precision values are formed in double precision from their inputs
// and rounded to float once, where they are stored.
#pragma once

#include <cstdint>

#include "pipeline/frame/wide_vectors.h"
#include "settings/filter_settings.h"

namespace lumafex {

struct FrameParameters {
    float RedScale = 1.0f;
    float GreenScale = 1.0f;
    float BlueScale = 1.0f;
    float BrightScale = 1.0f;
    float GammaOffset = 0.0f;
    float ContrastFactor = 1.0f;
    int32_t ColorModeOffset = 0;
    int32_t ColorModeSet = 0;
    float BlurAmount = 5.0f;
    double FocalDistance = 100.0;
    float DOFBlurAmount = 5.0f;
    float MaxDOFBlur = 7.0f;
    int32_t DOFBlurSide = 0;  // 0 both sides, 1 near side only, 2 far side only
    float DOFSeperator = 0.4f;
    float FocalNear = 100.0f;
    float FocalFar = 100.0f;
    float AntialiasThreshold = 100.0f;
    float AntialiasAmount = 0.0f;
    float EnhanceAmount = 1.0f;
    float PosterizeStep = 50.0f;
    int32_t ChromaNoise = 0;
    float NoiseRed = 0.1f;
    float NoiseGreen = 0.1f;
    float NoiseBlue = 0.1f;
    float NoiseAmount = 10000.0f;

    // Frame state that travels with the working values.
    int32_t FieldRendering = 0;  // 0, or 8 when the host renders fields
    double CameraPosition[3] = {0.0, 0.0, 0.0};

    // The instructions the passes of this frame may use, each picking its
    // form from it: the processor's, as ComputeFrameParameters finds it.
    InstructionSet instructionSet = InstructionSet::Sse2;
};

// The antialias strength constant 1/457, taken in single precision.
inline constexpr float kAntialiasUnit = 1.0f / 457.0f;

// Derives the frame's working values from the settings, as every frame
// starts: with one enhance/antialias pass, whatever Passes holds, and the
// widest instruction set the processor offers.
FrameParameters ComputeFrameParameters(const FilterSettings& settings);

// The posterize step for a PosterizePercent: half of it (toward zero),
// limited to at most 200 and at least 0.
float PosterizeStepFor(int32_t posterizePercent);

}  // namespace lumafex

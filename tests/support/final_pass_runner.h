// Runs the final pass over a small in-memory frame with given settings.
#pragma once

#include <initializer_list>
#include <vector>

#include "pipeline/final/final_pass.h"
#include "pipeline/frame/random_generator.h"
#include "support/test_frame.h"

namespace lumafex::testing {

inline FilterSettings DefaultSettings() {
    FilterSettings s{};
    ResetToDefaults(s);
    return s;
}

// Filters one row of pixels (alpha 255, no shadow) and returns the output.
inline std::vector<Rgb> FilterRow(FilterSettings settings, std::initializer_list<Rgb> pixels,
                                  uint8_t alpha = 255) {
    TestFrame frame(static_cast<int32_t>(pixels.size()), 1);
    int32_t x = 0;
    for (const Rgb& p : pixels) frame.Set(x++, 0, p, alpha);
    const FrameParameters params = ComputeFrameParameters(settings);
    RandomGenerator random;
    RecordingOutput out(frame.width, frame.height);
    RunFinalPass(frame.View(), settings, params, random, out);
    std::vector<Rgb> result;
    for (int32_t i = 0; i < frame.width; ++i) result.push_back(out.Get(i, 0));
    return result;
}

inline Rgb FilterPixel(const FilterSettings& settings, Rgb pixel, uint8_t alpha = 255) {
    return FilterRow(settings, {pixel}, alpha)[0];
}

}  // namespace lumafex::testing

// The depth-of-field blur: blurs every pixel by its depth's distance from the
// in-focus range.
#pragma once

#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "settings/filter_settings.h"

namespace lumafex {

// Works in place on the frame's red, green and blue planes. Returns false,
// leaving the frame unchanged, when the pass's working arrays cannot be
// obtained (or, for the depth passes, when the host provides no depth).
[[nodiscard]] bool DepthOfFieldBlurPass(const FrameView& frame, const FilterSettings& settings,
                                        const FrameParameters& params);

}  // namespace lumafex

// The plain blur: spreads every selected pixel over a circular footprint of
// radius BlurAmount with integer sums.
#pragma once

#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "settings/filter_settings.h"

namespace lumafex {

// Works in place on the frame's red, green and blue planes. Returns false,
// leaving the frame unchanged, when the pass's working arrays cannot be
// obtained (or, for the depth passes, when the host provides no depth).
[[nodiscard]] bool BlurPass(const FrameView& frame, const FilterSettings& settings,
                            const FrameParameters& params);

}  // namespace lumafex

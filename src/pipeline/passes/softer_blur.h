// The softer blur: like the plain blur, with single-precision weights that
// fall off with the distance from the centre.
#pragma once

#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "settings/filter_settings.h"

namespace lumafex {

// Works in place on the frame's red, green and blue planes. Returns false,
// leaving the frame unchanged, when the pass's working arrays cannot be
// obtained (or, for the depth passes, when the host provides no depth).
[[nodiscard]] bool SofterBlurPass(const FrameView& frame, const FilterSettings& settings,
                                  const FrameParameters& params);

}  // namespace lumafex

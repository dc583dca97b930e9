#include "pipeline/passes/softer_dof_blur.h"

namespace lumafex {

bool SofterDepthOfFieldBlurPass(const FrameView&, const FilterSettings&, const FrameParameters&) { return true; }

}  // namespace lumafex

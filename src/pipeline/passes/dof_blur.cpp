#include "pipeline/passes/dof_blur.h"

namespace lumafex {

bool DepthOfFieldBlurPass(const FrameView&, const FilterSettings&, const FrameParameters&) { return true; }

}  // namespace lumafex

#include "pipeline/passes/softer_blur.h"

namespace lumafex {

bool SofterBlurPass(const FrameView&, const FilterSettings&, const FrameParameters&) { return true; }

}  // namespace lumafex

#include "pipeline/passes/blur.h"

namespace lumafex {

bool BlurPass(const FrameView&, const FilterSettings&, const FrameParameters&) { return true; }

}  // namespace lumafex

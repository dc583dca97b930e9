// Enhance (sharpen against the left neighbour) and antialias (pull toward
// strongly differing neighbours) over the whole frame, before the row loop
// of the final pass, repeated Passes times.
#pragma once

#include "pipeline/final/row_view.h"

namespace lumafex {

void EnhanceAndAntialias(const FrameView& frame, const FilterSettings& settings,
                         const FrameParameters& params, const WorkLines& lines);

}  // namespace lumafex

// The weight sums of the softer blur's receivers in the full frame, made
// apart from the gather of the colours.
#pragma once

#include <cstdint>

#include "pipeline/passes/footprint.h"

namespace lumafex::softer {

// In the full frame every pixel spreads, so a receiver's weight sum depends
// only on where the frame's edges cut its footprint rows: the receivers at
// least `margin` columns (the widest half-width) from both edges share
// theirs. Sums the weights of receiving row yy for the margin columns at
// either edge and one column between them, in the order of the gather, and
// writes every receiver's into weightRow. Needs a frame wider than twice the
// margin and a table of 2 x width + 1 weights.
void SharedWeightSums(const FootprintProfile& fp, int32_t yy, int32_t width, int32_t height, float* table,
                      float* distinct, double* weightRow);

}  // namespace lumafex::softer

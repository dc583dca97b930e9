// The noise stage: blends a random share of the selected pixels toward
// random levels, drawing from the module's one generator.
#pragma once

#include "pipeline/final/row_view.h"

namespace lumafex {

void Noise(const RowView& row, StageContext& ctx);

}  // namespace lumafex

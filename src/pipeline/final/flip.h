// The horizontal flip of the final pass's row loop.
#pragma once

#include "pipeline/final/row_view.h"

namespace lumafex {

// Mirrors the row left to right in place (colour and alpha; the shadow
// stays put).
void FlipRowHorizontally(const RowView& row);

}  // namespace lumafex

// The horizontal flip of the final pass's row loop.
#pragma once

#include "pipeline/final/row_view.h"
#include "pipeline/frame/wide_vectors.h"

namespace lumafex {

// Mirrors the row left to right in place (colour and alpha; the shadow
// stays put), with the widest form `set` allows.
void FlipRowHorizontally(const RowView& row, InstructionSet set);

}  // namespace lumafex

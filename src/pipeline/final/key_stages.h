// The key and alpha stages of the final pass's row loop: key prep, 100%
// black, 100% white, negative alpha and range alpha.
#pragma once

#include "pipeline/final/row_view.h"

namespace lumafex {

void KeyPrep(const RowView& row, StageContext& ctx);
void FullBlack(const RowView& row, StageContext& ctx);
void FullWhite(const RowView& row, StageContext& ctx);
void NegativeAlpha(const RowView& row, StageContext& ctx);
void RangeAlpha(const RowView& row, StageContext& ctx);

}  // namespace lumafex

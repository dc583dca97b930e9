// The colour and tone stages of the final pass's row loop: broadcast limit,
// negative, posterize, black and white, colour factors with brightness,
// contrast and gamma. Each changes only the selected pixels of its row, on
// red, green and blue, and never alpha.
#pragma once

#include "pipeline/final/row_view.h"

namespace lumafex {

// Every channel above 208 becomes 208.
void BroadcastLimit(const RowView& row, StageContext& ctx);
// Every channel v becomes 255 - v.
void Negative(const RowView& row, StageContext& ctx);
// Rounds every channel to the nearest multiple of the posterize step.
void Posterize(const RowView& row, StageContext& ctx);
// Red, green and blue all become the pixel's luma.
void BlackAndWhite(const RowView& row, StageContext& ctx);
// Offset, set or scale mode of the colour gains (scale also applies brightness).
void ColourFactors(const RowView& row, StageContext& ctx);
// Pulls channels toward or away from 128.
void Contrast(const RowView& row, StageContext& ctx);
// Shifts mid-tones most, black not at all.
void Gamma(const RowView& row, StageContext& ctx);

}  // namespace lumafex

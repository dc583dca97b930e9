// The key and alpha stages of the final pass's row loop: key prep, 100%
// black, 100% white, negative alpha and range alpha.
#pragma once

#include "pipeline/final/channel_maps.h"
#include "pipeline/final/row_view.h"

namespace lumafex {

ChannelMaps KeyPrep(const StageContext& ctx);
ChannelMaps FullBlack(const StageContext& ctx);
ChannelMaps FullWhite(const StageContext& ctx);
void NegativeAlpha(const RowView& row, StageContext& ctx);
void RangeAlpha(const RowView& row, StageContext& ctx);

}  // namespace lumafex

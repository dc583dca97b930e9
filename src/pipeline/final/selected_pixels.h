// The pixels of a row that a stage may change, found with the selection
// mode picked once per row instead of once per pixel.
#pragma once

#include <cstdint>

#include "pipeline/final/row_view.h"
#include "pipeline/frame/selection.h"

namespace lumafex {

template <int32_t Mode, typename Op>
inline void ForEachSelectedIn(const RowView& row, const FilterSettings& s, Op& op) {
    for (int32_t x = 0; x < row.width; ++x) {
        const auto i = static_cast<std::size_t>(x);
        if (PixelSelectedIn<Mode>(s, row, i)) op(row.red[i], row.green[i], row.blue[i]);
    }
}

// Runs op(red, green, blue) on every selected pixel of the row from the
// left, each tested just before op sees it. A mode outside the five
// selects nothing.
template <typename Op>
inline void ForEachSelected(const RowView& row, const FilterSettings& s, Op op) {
    switch (s.FilterInclude) {
        case kIncludeObjects: ForEachSelectedIn<kIncludeObjects>(row, s, op); break;
        case kIncludeBackground: ForEachSelectedIn<kIncludeBackground>(row, s, op); break;
        case kIncludeShadows: ForEachSelectedIn<kIncludeShadows>(row, s, op); break;
        case kIncludeFullFrame: ForEachSelectedIn<kIncludeFullFrame>(row, s, op); break;
        case kIncludeColorRange: ForEachSelectedIn<kIncludeColorRange>(row, s, op); break;
        default: break;
    }
}

}  // namespace lumafex

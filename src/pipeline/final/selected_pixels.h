// The pixels of a row that a stage may change, found with the selection
// mode picked once per row instead of once per pixel.
#pragma once

#include <cstdint>

#include "pipeline/final/row_view.h"
#include "settings/filter_include.h"
#include "settings/filter_settings.h"

namespace lumafex {

// Whether pixel x of the row is selected, as its bytes stand now.
template <int32_t Mode>
inline bool RowPixelSelected(const RowView& row, const FilterSettings& s, int32_t x) {
    if constexpr (Mode == kIncludeObjects) return row.alpha[x] != 0;
    if constexpr (Mode == kIncludeBackground) return row.alpha[x] == 0;
    if constexpr (Mode == kIncludeShadows) return row.shadow[x] != 0;
    if constexpr (Mode == kIncludeColorRange) {
        return InColorRange(s, row.red[x], row.green[x], row.blue[x]);
    }
    return true;
}

template <int32_t Mode, typename Op>
inline void ForEachSelectedIn(const RowView& row, const FilterSettings& s, Op& op) {
    for (int32_t x = 0; x < row.width; ++x) {
        if (RowPixelSelected<Mode>(row, s, x)) op(row.red[x], row.green[x], row.blue[x]);
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

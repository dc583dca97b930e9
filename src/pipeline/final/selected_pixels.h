// The pixels of a row that a stage may change, found with the selection
// mode picked once per row instead of once per pixel.
#pragma once

#include <cstdint>
#include <type_traits>

#include "pipeline/final/row_view.h"
#include "pipeline/frame/selection.h"

namespace lumafex {

// The loops below work on a copy of the row: the ops write bytes, which
// may alias anything, so with the caller's row the compiler would read its
// pointers and width again after every pixel.
template <int32_t Mode, typename Op>
inline void ForEachSelectedIn(const RowView& callerRow, const FilterSettings& s, Op& op) {
    const RowView row = callerRow;
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
    WithMode(s.FilterInclude,
             [&](auto mode) { ForEachSelectedIn<decltype(mode)::value>(row, s, op); });
}

// Whether pixel i of the row is selected, worked out without jumps (the
// colour range's six tests all made), for stages that change every pixel
// and keep the old bytes of those not selected: on rows where selected and
// unselected pixels mix, that costs less than a mispredicted jump.
template <int32_t Mode>
inline bool SelectedWithoutJumps(const FilterSettings& s, const RowView& row, std::size_t i) {
    if constexpr (Mode == kIncludeColorRange) {
        const int32_t r = row.red[i];
        const int32_t g = row.green[i];
        const int32_t b = row.blue[i];
        return ((s.r1 <= r) & (r <= s.r2) & (s.g1 <= g) & (g <= s.g2) & (s.b1 <= b) &
                (b <= s.b2)) != 0;
    } else {
        return PixelSelectedIn<Mode>(s, row, i);
    }
}

template <int32_t Mode, typename Op>
inline void ForEachPixelIn(const RowView& callerRow, const FilterSettings& s, Op& op) {
    const RowView row = callerRow;
    for (int32_t x = 0; x < row.width; ++x) {
        const auto i = static_cast<std::size_t>(x);
        op(row.red[i], row.green[i], row.blue[i], SelectedWithoutJumps<Mode>(s, row, i));
    }
}

// Runs op(red, green, blue, selected) on every pixel of the row from the
// left; op changes only the selected ones. A mode outside the five
// selects nothing and runs nothing.
template <typename Op>
inline void ForEachPixel(const RowView& row, const FilterSettings& s, Op op) {
    WithMode(s.FilterInclude,
             [&](auto mode) { ForEachPixelIn<decltype(mode)::value>(row, s, op); });
}

}  // namespace lumafex

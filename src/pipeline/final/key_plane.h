// A selection that rests on alpha or shadow reads one key plane and holds
// for a whole run of stages, since no colour stage changes those planes.
// The stages that look every pixel's bytes up in tables or mix the new
// bytes with the old therefore pick the mode once per row and work on lanes
// (see key_lanes.h) or pixel by pixel with the test fixed.
#pragma once

#include <cstdint>
#include <type_traits>

#include "pipeline/final/row_view.h"
#include "settings/filter_include.h"

namespace lumafex {

// How a selection that rests on alpha or shadow reads its key plane: every
// pixel, those whose key is not 0, or those whose key is 0.
enum class Key { All, NonZero, Zero };

template <Key K>
using KeyKind = std::integral_constant<Key, K>;

// For the modes that select by alpha or shadow (or everything), calls
// body(KeyKind<K>{}, key plane) and returns true; for the colour range,
// whose selection follows the colours, returns false. Modes outside the
// five select nothing: body is not called, and the result is true.
template <typename Body>
inline bool WithKey(const RowView& row, int32_t mode, Body&& body) {
    switch (mode) {
        case kIncludeObjects: body(KeyKind<Key::NonZero>{}, row.alpha); return true;
        case kIncludeBackground: body(KeyKind<Key::Zero>{}, row.alpha); return true;
        case kIncludeShadows: body(KeyKind<Key::NonZero>{}, row.shadow); return true;
        case kIncludeFullFrame: body(KeyKind<Key::All>{}, row.alpha); return true;
        case kIncludeColorRange: return false;
        default: return true;
    }
}

template <Key K>
inline bool KeySelects(uint8_t key) {
    if constexpr (K == Key::NonZero) return key != 0;
    if constexpr (K == Key::Zero) return key == 0;
    return true;
}

}  // namespace lumafex

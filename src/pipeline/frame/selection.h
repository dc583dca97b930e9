// "Filters Should Affect": which pixels a filter may change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "pipeline/frame/frame_view.h"
#include "settings/filter_include.h"
#include "settings/filter_settings.h"

namespace lumafex {

// True when the pixel with these current bytes may be changed under the
// settings' FilterInclude mode. A mode outside 0..4 selects nothing.
inline bool PixelSelected(const FilterSettings& s, uint8_t alpha, uint8_t shadow, uint8_t red,
                          uint8_t green, uint8_t blue) {
    switch (s.FilterInclude) {
        case kIncludeObjects: return alpha != 0;
        case kIncludeBackground: return alpha == 0;
        case kIncludeShadows: return shadow != 0;
        case kIncludeFullFrame: return true;
        case kIncludeColorRange: return InColorRange(s, red, green, blue);
        default: return false;
    }
}

// Calls body(std::integral_constant<int32_t, Mode>{}) with Mode the given
// mode, so that the loops of body are built for it: the one place a
// runtime mode becomes a compile-time one. A mode outside the five selects
// nothing, and body is not called. Always inlined, so that a body called
// from a function built for wider instructions is built for them too.
template <typename Body>
[[gnu::always_inline]] inline void WithMode(int32_t mode, Body&& body) {
    switch (mode) {
        case kIncludeObjects: body(std::integral_constant<int32_t, kIncludeObjects>{}); break;
        case kIncludeBackground:
            body(std::integral_constant<int32_t, kIncludeBackground>{});
            break;
        case kIncludeShadows: body(std::integral_constant<int32_t, kIncludeShadows>{}); break;
        case kIncludeFullFrame: body(std::integral_constant<int32_t, kIncludeFullFrame>{}); break;
        case kIncludeColorRange:
            body(std::integral_constant<int32_t, kIncludeColorRange>{});
            break;
        default: break;
    }
}

// The same with the mode fixed at compile time, for loops that pick their
// mode once per frame or row: whether pixel i of a view (the frame, or one
// of its rows: anything with red, green, blue, alpha and shadow planes) is
// selected (for the blurs, whether it spreads its colour). Mode is one of
// the five modes.
template <int32_t Mode, typename View>
inline bool PixelSelectedIn(const FilterSettings& s, const View& f, std::size_t i) {
    if constexpr (Mode == kIncludeObjects) return f.alpha[i] != 0;
    if constexpr (Mode == kIncludeBackground) return f.alpha[i] == 0;
    if constexpr (Mode == kIncludeShadows) return f.shadow[i] != 0;
    if constexpr (Mode == kIncludeColorRange) {
        return InColorRange(s, f.red[i], f.green[i], f.blue[i]);
    }
    return true;
}

}  // namespace lumafex

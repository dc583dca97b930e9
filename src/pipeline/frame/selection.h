// "Filters Should Affect": which pixels a filter may change.
#pragma once

#include <cstdint>

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

}  // namespace lumafex

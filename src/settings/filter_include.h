// "Filters Should Affect": the values of the record's FilterInclude field.
// The field itself stays a plain number, because a scene may store any
// value; one outside these selects no pixel at all.
#pragma once

#include <cstdint>

namespace lumafex {

enum FilterIncludeMode : int32_t {
    kIncludeObjects = 0,
    kIncludeBackground = 1,
    kIncludeShadows = 2,
    kIncludeFullFrame = 3,
    kIncludeColorRange = 4,
};

}  // namespace lumafex

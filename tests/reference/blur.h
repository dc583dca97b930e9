// The plain and the softer blur written out the slow, obvious way, and the
// random frames their tests share.
#pragma once

#include <cstdint>

#include "settings/filter_settings.h"
#include "support/test_frame.h"

namespace lumafex::reference {

// Random frames with a few large objects, so that every mode has selected
// and unselected pixels side by side.
testing::TestFrame RandomFrame(int32_t w, int32_t h, uint32_t seed);

// The plain blur of radius r over the frame in place.
void Blur(testing::TestFrame& f, const FilterSettings& s, float r);

// The softer blur of radius r over the frame in place.
void SofterBlur(testing::TestFrame& f, const FilterSettings& s, float r);

}  // namespace lumafex::reference

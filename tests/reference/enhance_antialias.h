// Enhance and antialias written out with a copy of the frame instead of the
// two-row delay: antialias results are kept aside and stored when the pass
// ends, and every neighbour read sees the frame as enhance has left it.
#pragma once

#include "pipeline/frame/frame_parameters.h"
#include "settings/filter_settings.h"
#include "support/test_frame.h"

namespace lumafex::reference {

// Every pass of enhance and antialias over the frame in place.
void EnhanceAndAntialias(testing::TestFrame& f, const FilterSettings& s, const FrameParameters& p);

}  // namespace lumafex::reference

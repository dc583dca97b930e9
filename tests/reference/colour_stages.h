// The colour stages of the final pass written out pixel by pixel from
// their formulas, as the reference for the table-driven stages.
#pragma once

#include <cstdint>

#include "pipeline/frame/frame_parameters.h"
#include "settings/filter_settings.h"

namespace lumafex::reference {

// Runs the stages the settings switch on over one pixel, in their order.
void ColourStages(const FilterSettings& s, const FrameParameters& p, uint8_t& r, uint8_t& g, uint8_t& b,
                  uint8_t a, uint8_t shadow);

}  // namespace lumafex::reference

// "Use Nulls": null objects whose names begin with "3" animate working
// values and settings frame by frame through their parameter-code-8 vector.
#pragma once

#include <cstdint>

#include "host/host_interface.h"
#include "pipeline/frame_parameters.h"
#include "settings/filter_settings.h"

namespace lumafex {

// The module-wide "Use Nulls" switch holds this value when the module loads.
inline constexpr int32_t kUseNullsAtLoad = 8;

// Reads every object of the scene at the given time and applies the
// channels it names to the working values and the record.
void ReadNullChannels(const ItemInfo& items, double time, FilterSettings& settings,
                      FrameParameters& params);

}  // namespace lumafex

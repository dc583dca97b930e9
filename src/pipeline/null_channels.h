// "Use Nulls": objects with special names animate working values and
// settings frame by frame through their parameter-code-8 vector.
#pragma once

#include <cstdint>

#include "host/host_interface.h"
#include "pipeline/frame_parameters.h"
#include "settings/filter_settings.h"

namespace lumafex {

// The module-wide "Use Nulls" switch holds this value when the module loads.
inline constexpr int32_t kUseNullsAtLoad = 8;

// Reads every object of the scene, in the host's order, at the given time
// and applies the channel its name matches to the working values (whose
// CameraPosition must already be set) and the record. Objects whose name
// matches no channel, or cannot be obtained, are skipped. The record fields
// written here stay written after the frame.
void ReadNullChannels(const ItemInfo& items, double time, FilterSettings& settings,
                      FrameParameters& params);

}  // namespace lumafex

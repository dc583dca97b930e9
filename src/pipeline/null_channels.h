// "Use Nulls": objects with special names animate working values and
// settings frame by frame through their position vector.
#pragma once

#include <cstdint>

#include "pipeline/frame/frame_parameters.h"
#include "pipeline/scene_objects.h"
#include "settings/filter_settings.h"

namespace lumafex {

// The module-wide "Use Nulls" switch holds this value when the module loads.
inline constexpr int32_t kUseNullsAtLoad = 8;

// Reads every object of the scene, in the host's order, at the given time
// and applies the channel its name matches to the working values (whose
// CameraPosition must already be set) and the frame's settings. Objects
// whose name matches no channel, or that have no name, are skipped.
void ApplyNullChannels(const SceneObjects& objects, double time, FilterSettings& frame,
                       FrameParameters& params);

}  // namespace lumafex

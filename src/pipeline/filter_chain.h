// The fixed chain of filters one frame runs through: the frame's working
// values, then the optional blur passes whose gates are open, then the
// final pass. It sees a plain frame view and settings, never the host.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "pipeline/frame/random_generator.h"
#include "pipeline/scene_objects.h"
#include "settings/filter_settings.h"

namespace lumafex {

// One optional pass before the final pass, with the gate that runs it.
struct OptionalPass {
    const char* name;
    bool (*runs)(const FilterSettings&);
    bool (*run)(const FrameView&, const FilterSettings&, const FrameParameters&);
};

// The optional passes in the order the chain tries them.
const std::array<OptionalPass, 4>& OptionalPasses();

// The working values of a frame whose settings are frame, a copy of the
// record: Passes starts again at 1, the values are derived from the copy,
// the camera is read at time and, with "Use Nulls" on, the null channels at
// time, which write into frame as well as into the working values.
FrameParameters PrepareFrameParameters(const SceneObjects& objects, double time,
                                       int32_t fieldRendering, int32_t useNulls,
                                       FilterSettings& frame);

// Runs the optional passes whose gates are open, then the final pass. When
// stop is given and becomes true, the passes not yet started are skipped
// (the preview abandons work a newer request has overtaken); returns false
// then.
[[nodiscard]] bool RunPasses(const FrameView& view, const FilterSettings& settings,
                             const FrameParameters& params, RandomGenerator& random,
                             FrameOutput& output, const std::atomic<bool>* stop = nullptr);

}  // namespace lumafex

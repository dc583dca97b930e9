// The plain blur for footprints of fewer than 256 pixels: sixteen-bit sums
// in vector lanes, gathered a receiving row at a time, written in place.
#pragma once

#include "pipeline/frame/frame_view.h"
#include "pipeline/frame/wide_vectors.h"
#include "pipeline/passes/footprint.h"
#include "settings/filter_settings.h"

namespace lumafex {

// Blurs the frame's colour planes in place with the footprint (already set
// to the frame's radius, under 256 pixels within the frame) in the
// settings' selection mode, one of the five, in the widest form `set`
// allows. Returns false, leaving the frame unchanged, when the working
// arrays cannot be obtained.
[[nodiscard]] bool NarrowBlurGather(const FrameView& f, const FilterSettings& s,
                                    const FootprintProfile& fp, InstructionSet set);

}  // namespace lumafex

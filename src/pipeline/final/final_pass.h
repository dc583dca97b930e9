// The final pass: enhance and antialias over the whole frame, then fourteen
// stages over every row in a fixed order, then every pixel handed to the
// output, mirrored vertically on request.
#pragma once

#include <array>
#include <cstddef>

#include "pipeline/final/channel_maps.h"
#include "pipeline/final/row_view.h"

namespace lumafex {

// A stage either maps each channel byte of the selected pixels through
// tables (maps) or works on the row itself (run); the other is null.
struct FinalStage {
    const char* name;
    bool (*runs)(const FilterSettings&, const FrameParameters&);
    ChannelMaps (*maps)(const StageContext&);
    void (*run)(const RowView&, StageContext&);
};

inline constexpr std::size_t kFinalStageCount = 14;

// The row loop's stages in the order they run.
const std::array<FinalStage, kFinalStageCount>& FinalStages();

enum class FinalPassResult { Written, OutOfMemory };

// Runs the pass over the frame in place and writes every pixel to out.
// When its ten work lines cannot be obtained the frame is still written,
// unfiltered by this pass, and OutOfMemory is returned.
FinalPassResult RunFinalPass(const FrameView& frame, const FilterSettings& settings,
                             const FrameParameters& params, RandomGenerator& random,
                             FrameOutput& out);

// Hands every pixel of the frame to out, row by row from the top; with
// FlipFrameFlag 2 pixel (x, y) goes to (x, H - 1 - y).
void WriteBack(const FrameView& frame, const FilterSettings& settings, FrameOutput& out);

}  // namespace lumafex

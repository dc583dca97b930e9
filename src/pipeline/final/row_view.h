// One row of the frame as the final pass's stages see it, plus the values
// every stage may read.
#pragma once

#include <cstdint>

#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "settings/filter_settings.h"

namespace lumafex {

class RandomGenerator;
struct ColourTables;

struct RowView {
    uint8_t* red;
    uint8_t* green;
    uint8_t* blue;
    uint8_t* alpha;
    uint8_t* shadow;
    int32_t width;
    int32_t y;
};

inline RowView RowOf(const FrameView& frame, int32_t y) {
    const std::size_t offset = frame.Index(0, y);
    return RowView{frame.red + offset,   frame.green + offset, frame.blue + offset,
                   frame.alpha + offset, frame.shadow + offset, frame.width, y};
}

// The final pass's ten work lines of W bytes each.
struct WorkLines {
    uint8_t* scratchRed;
    uint8_t* scratchGreen;
    uint8_t* scratchBlue;
    uint8_t* scratchAlpha;
    uint8_t* pendingOldRed;
    uint8_t* pendingOldGreen;
    uint8_t* pendingOldBlue;
    uint8_t* pendingNewRed;
    uint8_t* pendingNewGreen;
    uint8_t* pendingNewBlue;
};

// What a stage of the row loop works with besides its row.
struct StageContext {
    const FilterSettings& settings;
    const FrameParameters& params;
    const WorkLines& lines;
    const ColourTables& colour;
    RandomGenerator& random;
};

}  // namespace lumafex

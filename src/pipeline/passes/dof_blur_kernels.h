// The vectorised loops of the depth-of-field blur, in the widest form the
// frame's instruction set allows: the mixed contributions of a centre to a
// row of receivers, the 16- and 32-bit window sums, the depth maxima and
// hidden centres of the gather, and the averages. Every form gives the
// same values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeline/frame/wide_vectors.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/depth_of_field.h"

namespace lumafex {

// The receiving row's values the mixed contributions read, from column 0.
struct ReceivingRow {
    const float* depth;
    const float* blur;
    const uint8_t* red;
    const uint8_t* green;
    const uint8_t* blue;
    SumCell<int32_t>* cells;
};

// One footprint row of a centre: the receivers first .. last of a row.
struct MixingSpan {
    const ReceivingRow* row;
    int32_t first;
    int32_t last;
};

// The centre: its blur (above 0), depth and colour.
struct MixingCentre {
    float blur;
    double depth;
    uint8_t red, green, blue;
};

// The rows of a footprint's centres, from its first: their depths
// (-infinity where a pixel is none of them, kDepthLanesPastEnd readable
// values past the last row's end), colours and half-widths (-1: the row
// takes no part).
struct DeeperFootprint {
    const float* depths;
    const uint8_t* red;
    const uint8_t* green;
    const uint8_t* blue;
    const int32_t* halfWidths;
    std::size_t stride;  // from one row to the next, in values
    int32_t rows;
    int32_t width;
};

// Values the depth kernels may read past the last column they are given.
inline constexpr int32_t kDepthLanesPastEnd = 7;

struct DepthBlurKernels {
    // Adds the centre's contributions to the receivers of each of count
    // spans (of rows columns wide), several at a time, as the one-by-one
    // rule does, and moves each span's first to the first column it left
    // for the caller (none where the build has no lanes).
    void (*mix)(MixingSpan* spans, int32_t count, const MixingCentre& centre, double separator,
                int32_t columns);
    // acc[i] += prefix[i + ahead] - prefix[i - behind] for i = from .. end-1,
    // wrapping around in 16 or 32 bits.
    void (*addWindows16)(uint16_t* acc, const uint16_t* prefix, std::size_t from, std::size_t end,
                         std::size_t ahead, std::size_t behind);
    void (*addWindows32)(uint32_t* acc, const uint32_t* prefix, std::size_t from, std::size_t end,
                         std::size_t ahead, std::size_t behind);
    // to[x] = from[x] > to[x] ? from[x] : to[x] for x = 0 .. count-1.
    void (*raiseTo)(float* to, const float* from, int32_t count);
    // sums (red, green, blue, count) += the colours of the footprint's
    // centres around column x whose depth is above `above`.
    void (*addDeeper)(const DeeperFootprint& footprint, int32_t x, float above, uint32_t sums[4]);
    // The integer averages of the sums, several at a time (none where the
    // build has no lanes): see AverageKernel.
    AverageKernel averages;
};

// The widest forms `set` allows.
DepthBlurKernels ChooseDepthBlurKernels(InstructionSet set);

}  // namespace lumafex

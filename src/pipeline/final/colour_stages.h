// The colour and tone stages of the final pass's row loop: broadcast limit,
// negative, posterize, black and white, colour factors with brightness,
// contrast and gamma. Each changes only the selected pixels of its row, on
// red, green and blue, and never alpha.
//
// Every stage but black and white maps each channel byte through a function
// of that byte alone, so each frame computes those functions once into
// 256-entry tables; the tables hold exactly the values the formulas give,
// and the final pass applies them (see channel_maps.h).
#pragma once

#include <cstdint>

#include "pipeline/final/channel_maps.h"
#include "pipeline/final/row_view.h"

namespace lumafex {

using ByteTable = uint8_t[256];

struct ColourTables {
    ByteTable broadcast;  // above 208 becomes 208
    ByteTable negative;   // v becomes 255 - v
    ByteTable posterize;  // nearest multiple of the step, halves up, at most 255
    ByteTable red;        // colour factors and brightness, per channel
    ByteTable green;
    ByteTable blue;
    ByteTable contrast;   // limit((v - 128) x ContrastFactor + 128)
    ByteTable gamma;      // limit((128 - |v - 128|) x GammaOffset + v)
    // The three products of the black-and-white luma, v x weight in double.
    double lumaRed[256];
    double lumaGreen[256];
    double lumaBlue[256];
};

// Fills the tables for the frame's working values.
void PrepareColourTables(const FrameParameters& params, ColourTables& tables);

ChannelMaps BroadcastLimit(const StageContext& ctx);
ChannelMaps Negative(const StageContext& ctx);
ChannelMaps Posterize(const StageContext& ctx);

// Red, green and blue all become the pixel's luma.
void BlackAndWhite(const RowView& row, StageContext& ctx);

// Offset, set or scale mode of the colour gains (scale also applies brightness).
ChannelMaps ColourFactors(const StageContext& ctx);
ChannelMaps Contrast(const StageContext& ctx);
ChannelMaps Gamma(const StageContext& ctx);

}  // namespace lumafex

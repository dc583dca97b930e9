// Stages that change each channel byte of the selected pixels by a function
// of that byte alone (broadcast limit, negative, posterize, key prep, the
// colour factors, contrast, gamma, 100% black and white) are three tables,
// one per channel. A run of such stages in a row of the final pass is
// applied pixel by pixel in one sweep; where the selection cannot change
// along the run, its tables are first composed into one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeline/final/row_view.h"
#include "pipeline/frame/wide_vectors.h"

namespace lumafex {

// The tables of one stage: byte v of a channel becomes table[v].
struct ChannelMaps {
    const uint8_t* red;
    const uint8_t* green;
    const uint8_t* blue;
};

// Three tables of 256 bytes each that a composed run owns.
struct OwnedChannelMaps {
    uint8_t red[256];
    uint8_t green[256];
    uint8_t blue[256];
    ChannelMaps View() const { return {red, green, blue}; }
};

// The colour-range test channel by channel: a pixel is in range when the
// entries of its three bytes are all 1.
struct RangeTables {
    uint8_t red[256];
    uint8_t green[256];
    uint8_t blue[256];
};
void FillRangeTables(const FilterSettings& settings, RangeTables& range);

// Whether a run of map stages may be composed: true unless the selection
// depends on the colours, which the stages change.
bool MapsCompose(const FilterSettings& settings);

// out = maps[count - 1] after ... after maps[0], channel by channel.
void ComposeMaps(const ChannelMaps* maps, std::size_t count, OwnedChannelMaps& out);

// Applies maps[0], maps[1], ... in turn to the row, each to the pixels
// selected as they stand just before it, with the widest form `set`
// allows. Where MapsCompose holds, a run is best composed first and handed
// over as one map.
void ApplyMaps(const RowView& row, const FilterSettings& settings, const RangeTables& range,
               const ChannelMaps* maps, std::size_t count, InstructionSet set);

}  // namespace lumafex

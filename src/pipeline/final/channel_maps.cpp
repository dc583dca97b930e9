#include "pipeline/final/channel_maps.h"

#include "pipeline/final/key_plane.h"
#include "pipeline/frame/lanes/byte_lanes.h"
#include "pipeline/frame/lanes/lanes_target.h"
#include "settings/filter_include.h"

namespace lumafex {

namespace {

// With a colour-range selection, every stage of the run tests the pixel
// as the stages before it left it.
void ApplyInColourRange(const RowView& row, const RangeTables& range, const ChannelMaps* maps,
                        std::size_t count) {
    for (int32_t x = 0; x < row.width; ++x) {
        uint8_t r = row.red[x];
        uint8_t g = row.green[x];
        uint8_t b = row.blue[x];
        for (std::size_t k = 0; k < count; ++k) {
            const bool selected = (range.red[r] & range.green[g] & range.blue[b]) != 0;
            const ChannelMaps& m = maps[k];
            const uint8_t mr = m.red[r];
            const uint8_t mg = m.green[g];
            const uint8_t mb = m.blue[b];
            r = selected ? mr : r;
            g = selected ? mg : g;
            b = selected ? mb : b;
        }
        row.red[x] = r;
        row.green[x] = g;
        row.blue[x] = b;
    }
}

// Otherwise a pixel's selection rests on its alpha or shadow, which no map
// stage changes, so it holds for the whole run: maps is one composed set.
// The pixel by pixel rest from x, in plain locals, since every byte stored
// could otherwise alias the row's fields.
template <Key K>
void ApplyComposedFrom(uint8_t* red, uint8_t* green, uint8_t* blue, const uint8_t* key, int32_t x,
                       int32_t width, const ChannelMaps& m) {
    const uint8_t* const mapRed = m.red;
    const uint8_t* const mapGreen = m.green;
    const uint8_t* const mapBlue = m.blue;
    for (; x < width; ++x) {
        if (!KeySelects<K>(key[x])) continue;
        red[x] = mapRed[red[x]];
        green[x] = mapGreen[green[x]];
        blue[x] = mapBlue[blue[x]];
    }
}

// The runs of pixels on byte lanes, once for each kind of lanes.
#define LUMAFEX_BYTE_LANES_KERNELS "pipeline/final/channel_maps_lanes.h"
#include "pipeline/frame/lanes/byte_lanes_forms.h"

// One composed set over the row: the widest runs `set` allows, then
// narrower ones, then pixel by pixel.
template <Key K>
void ApplyComposed(const RowView& row, const uint8_t* key, const ChannelMaps& m,
                   [[maybe_unused]] InstructionSet set) {
    int32_t x = 0;
#if LUMAFEX_BYTE_LANES
#if LUMAFEX_WIDE_VECTORS
    if (Allows(set, InstructionSet::Avx2Fma)) {
        x = wide::ApplyComposedRuns<K>(row.red, row.green, row.blue, key, x, row.width, m);
    }
#endif
    x = narrow::ApplyComposedRuns<K>(row.red, row.green, row.blue, key, x, row.width, m);
#endif
    ApplyComposedFrom<K>(row.red, row.green, row.blue, key, x, row.width, m);
}

}  // namespace

void FillRangeTables(const FilterSettings& s, RangeTables& range) {
    for (int32_t v = 0; v < 256; ++v) {
        range.red[v] = s.r1 <= v && v <= s.r2 ? 1 : 0;
        range.green[v] = s.g1 <= v && v <= s.g2 ? 1 : 0;
        range.blue[v] = s.b1 <= v && v <= s.b2 ? 1 : 0;
    }
}

bool MapsCompose(const FilterSettings& settings) { return settings.FilterInclude != kIncludeColorRange; }

void ComposeMaps(const ChannelMaps* maps, std::size_t count, OwnedChannelMaps& out) {
    for (int32_t v = 0; v < 256; ++v) {
        uint8_t r = static_cast<uint8_t>(v);
        uint8_t g = r;
        uint8_t b = r;
        for (std::size_t k = 0; k < count; ++k) {
            r = maps[k].red[r];
            g = maps[k].green[g];
            b = maps[k].blue[b];
        }
        out.red[v] = r;
        out.green[v] = g;
        out.blue[v] = b;
    }
}

void ApplyMaps(const RowView& row, const FilterSettings& settings, const RangeTables& range,
               const ChannelMaps* maps, std::size_t count, [[maybe_unused]] InstructionSet set) {
    if (count == 0) return;
    if (settings.FilterInclude == kIncludeColorRange) {
        ApplyInColourRange(row, range, maps, count);
        return;
    }
    // The selection does not change along the run, so each map in turn
    // does what their composition would (the final pass hands over runs
    // composed already).
    WithKey(row, settings.FilterInclude, [&]<Key K>(KeyKind<K>, const uint8_t* key) {
        for (std::size_t k = 0; k < count; ++k) ApplyComposed<K>(row, key, maps[k], set);
    });
}

}  // namespace lumafex

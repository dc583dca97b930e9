#include "pipeline/final/channel_maps.h"

#include "pipeline/final/selected_pixels.h"

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

}  // namespace

void FillRangeTables(const FilterSettings& s, RangeTables& range) {
    for (int32_t v = 0; v < 256; ++v) {
        range.red[v] = s.r1 <= v && v <= s.r2 ? 1 : 0;
        range.green[v] = s.g1 <= v && v <= s.g2 ? 1 : 0;
        range.blue[v] = s.b1 <= v && v <= s.b2 ? 1 : 0;
    }
}

bool MapsCompose(const FilterSettings& settings) {
    return settings.FilterInclude != kIncludeColorRange;
}

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
               const ChannelMaps* maps, std::size_t count) {
    if (settings.FilterInclude == kIncludeColorRange) {
        ApplyInColourRange(row, range, maps, count);
        return;
    }
    // Otherwise a pixel's selection rests on its alpha or shadow, which no
    // map stage changes, so it holds for the whole run.
    ForEachSelected(row, settings, [maps, count](uint8_t& r, uint8_t& g, uint8_t& b) {
        for (std::size_t k = 0; k < count; ++k) {
            r = maps[k].red[r];
            g = maps[k].green[g];
            b = maps[k].blue[b];
        }
    });
}

}  // namespace lumafex

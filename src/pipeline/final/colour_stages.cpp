#include "pipeline/final/colour_stages.h"

#include <cstdlib>

#include "pipeline/final/key_plane.h"
#include "pipeline/final/selected_pixels.h"
#include "pipeline/frame/byte_math.h"
#include "pipeline/frame/lanes/lanes_target.h"

namespace lumafex {

namespace {

uint8_t Posterized(int32_t v, int32_t q) {
    const int32_t rounded = ((v + q / 2) / q) * q;
    return rounded >= 255 ? 255 : static_cast<uint8_t>(rounded);
}

// The colour factor of one channel in the mode the working values select.
uint8_t Factored(int32_t v, float scale, const FrameParameters& p) {
    if (p.ColorModeOffset != 0) return LimitToByte(v + static_cast<double>(scale) * 100.0);
    if (p.ColorModeSet != 0) return LimitToByte(static_cast<double>(scale) * 100.0);
    // Multiplied left to right in double: value x gain x brightness.
    return LimitToByte(v * static_cast<double>(scale) * static_cast<double>(p.BrightScale));
}

ChannelMaps AllChannels(const ByteTable& t) { return {t, t, t}; }

// Black and white's weights, for its tables and its rows alike.
constexpr double kLumaRed = 0.3;
constexpr double kLumaGreen = 0.59;
constexpr double kLumaBlue = 0.11;

}  // namespace

void PrepareColourTables(const FrameParameters& p, ColourTables& t) {
    // The posterize gate guarantees a step above 1.0, and the step never
    // exceeds 200 once limited; bounding it again keeps the division defined
    // whatever a float can hold.
    const float step = p.PosterizeStep;
    int32_t q = step >= 200.0f ? 200 : (step >= 1.0f ? static_cast<int32_t>(step) : 1);
    const double contrast = p.ContrastFactor;
    const double gamma = p.GammaOffset;
    for (int32_t v = 0; v < 256; ++v) {
        t.broadcast[v] = static_cast<uint8_t>(v > 208 ? 208 : v);
        t.negative[v] = static_cast<uint8_t>(255 - v);
        t.posterize[v] = Posterized(v, q);
        t.red[v] = Factored(v, p.RedScale, p);
        t.green[v] = Factored(v, p.GreenScale, p);
        t.blue[v] = Factored(v, p.BlueScale, p);
        t.contrast[v] = LimitToByte((v - 128) * contrast + 128.0);
        t.gamma[v] = LimitToByte((128 - std::abs(v - 128)) * gamma + v);
        t.lumaRed[v] = kLumaRed * v;
        t.lumaGreen[v] = kLumaGreen * v;
        t.lumaBlue[v] = kLumaBlue * v;
    }
}

ChannelMaps BroadcastLimit(const StageContext& ctx) { return AllChannels(ctx.colour.broadcast); }

ChannelMaps Negative(const StageContext& ctx) { return AllChannels(ctx.colour.negative); }

ChannelMaps Posterize(const StageContext& ctx) { return AllChannels(ctx.colour.posterize); }

namespace {

// The black-and-white rows by key, compiled once for the baseline and once
// with the wider instructions enabled for every function in the copy.
namespace narrow {
#include "pipeline/final/colour_stages_lanes.h"
}  // namespace narrow
#if LUMAFEX_WIDE_VECTORS
LUMAFEX_LANES_BEGIN_AVX2
namespace wide {
#include "pipeline/final/colour_stages_lanes.h"
}  // namespace wide
LUMAFEX_LANES_END
#endif

template <Key K>
void GreyRow(const RowView& row, const uint8_t* key, [[maybe_unused]] InstructionSet set) {
#if LUMAFEX_WIDE_VECTORS
    if (Allows(set, InstructionSet::Avx2Fma)) {
        wide::GreyRow<K>(row.red, row.green, row.blue, key, row.width);
        return;
    }
#endif
    narrow::GreyRow<K>(row.red, row.green, row.blue, key, row.width);
}

}  // namespace

void BlackAndWhite(const RowView& row, StageContext& ctx) {
    const ColourTables& t = ctx.colour;
    const bool byKey = WithKey(row, ctx.settings.FilterInclude, [&]<Key K>(KeyKind<K>, const uint8_t* key) {
        GreyRow<K>(row, key, ctx.params.instructionSet);
    });
    if (byKey) return;
    // In the colour range: summed in this order in double precision; the
    // weights add up to 1, so the truncated luma stays within 0..255
    // without limiting. Colours in and out of the range mix closely: every
    // pixel's grey is formed, and the selection picks it or the old bytes.
    auto grey = [&t](uint8_t r, uint8_t g, uint8_t b) {
        return static_cast<uint8_t>((t.lumaGreen[g] + t.lumaBlue[b]) + t.lumaRed[r]);
    };
    ForEachPixel(row, ctx.settings, [&grey](uint8_t& r, uint8_t& g, uint8_t& b, bool selected) {
        const uint8_t y = grey(r, g, b);
        r = selected ? y : r;
        g = selected ? y : g;
        b = selected ? y : b;
    });
}

ChannelMaps ColourFactors(const StageContext& ctx) {
    return {ctx.colour.red, ctx.colour.green, ctx.colour.blue};
}

ChannelMaps Contrast(const StageContext& ctx) { return AllChannels(ctx.colour.contrast); }

ChannelMaps Gamma(const StageContext& ctx) { return AllChannels(ctx.colour.gamma); }

}  // namespace lumafex

#include "pipeline/final/colour_stages.h"

#include <cstdlib>

#include "pipeline/final/byte_math.h"
#include "pipeline/final/selection.h"

namespace lumafex {

namespace {

// Runs op(channel) on red, green and blue of every selected pixel, where op
// maps a byte to a byte. Selection is tested with the pixel as it stands.
template <typename Op>
void ForEachSelectedChannel(const RowView& row, const FilterSettings& s, Op op) {
    for (int32_t x = 0; x < row.width; ++x) {
        if (!PixelSelected(s, row.alpha[x], row.shadow[x], row.red[x], row.green[x],
                           row.blue[x])) {
            continue;
        }
        row.red[x] = op(row.red[x]);
        row.green[x] = op(row.green[x]);
        row.blue[x] = op(row.blue[x]);
    }
}

}  // namespace

void BroadcastLimit(const RowView& row, StageContext& ctx) {
    ForEachSelectedChannel(row, ctx.settings,
                           [](uint8_t v) -> uint8_t { return v > 208 ? 208 : v; });
}

void Negative(const RowView& row, StageContext& ctx) {
    ForEachSelectedChannel(row, ctx.settings,
                           [](uint8_t v) { return static_cast<uint8_t>(255 - v); });
}

void Posterize(const RowView& row, StageContext& ctx) {
    // The gate guarantees a step above 1.0; the step never exceeds 200 once
    // limited, but a step held in a float is bounded here once more so that
    // no value can make the division undefined.
    const float step = ctx.params.PosterizeStep;
    int32_t q = step >= 200.0f ? 200 : static_cast<int32_t>(step);
    if (q < 1) q = 1;
    ForEachSelectedChannel(row, ctx.settings, [q](uint8_t v) -> uint8_t {
        const int32_t rounded = ((v + q / 2) / q) * q;
        return rounded >= 255 ? 255 : static_cast<uint8_t>(rounded);
    });
}

void BlackAndWhite(const RowView& row, StageContext& ctx) {
    for (int32_t x = 0; x < row.width; ++x) {
        if (!PixelSelected(ctx.settings, row.alpha[x], row.shadow[x], row.red[x], row.green[x],
                           row.blue[x])) {
            continue;
        }
        // Summed in this order in double precision; the weights add up to 1,
        // so the truncated luma stays within 0..255 without limiting.
        const double y = (0.59 * row.green[x] + 0.11 * row.blue[x]) + 0.3 * row.red[x];
        const auto grey = static_cast<uint8_t>(y);
        row.red[x] = grey;
        row.green[x] = grey;
        row.blue[x] = grey;
    }
}

void ColourFactors(const RowView& row, StageContext& ctx) {
    const FrameParameters& p = ctx.params;
    const double red = p.RedScale;
    const double green = p.GreenScale;
    const double blue = p.BlueScale;
    const double bright = p.BrightScale;
    for (int32_t x = 0; x < row.width; ++x) {
        if (!PixelSelected(ctx.settings, row.alpha[x], row.shadow[x], row.red[x], row.green[x],
                           row.blue[x])) {
            continue;
        }
        if (p.ColorModeOffset != 0) {
            row.red[x] = LimitToByte(row.red[x] + red * 100.0);
            row.green[x] = LimitToByte(row.green[x] + green * 100.0);
            row.blue[x] = LimitToByte(row.blue[x] + blue * 100.0);
        } else if (p.ColorModeSet != 0) {
            row.red[x] = LimitToByte(red * 100.0);
            row.green[x] = LimitToByte(green * 100.0);
            row.blue[x] = LimitToByte(blue * 100.0);
        } else {
            row.red[x] = LimitToByte(row.red[x] * red * bright);
            row.green[x] = LimitToByte(row.green[x] * green * bright);
            row.blue[x] = LimitToByte(row.blue[x] * blue * bright);
        }
    }
}

void Contrast(const RowView& row, StageContext& ctx) {
    const double factor = ctx.params.ContrastFactor;
    ForEachSelectedChannel(row, ctx.settings, [factor](uint8_t v) {
        return LimitToByte((v - 128) * factor + 128.0);
    });
}

void Gamma(const RowView& row, StageContext& ctx) {
    const double offset = ctx.params.GammaOffset;
    ForEachSelectedChannel(row, ctx.settings, [offset](uint8_t v) {
        return LimitToByte((128 - std::abs(v - 128)) * offset + v);
    });
}

}  // namespace lumafex

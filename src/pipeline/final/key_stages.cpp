#include "pipeline/final/key_stages.h"

#include <initializer_list>

#include "pipeline/frame/selection.h"

namespace lumafex {

namespace {

template <typename Op>
void ForEachSelected(const RowView& row, const FilterSettings& s, Op op) {
    for (int32_t x = 0; x < row.width; ++x) {
        if (PixelSelected(s, row.alpha[x], row.shadow[x], row.red[x], row.green[x],
                          row.blue[x])) {
            op(row.red[x], row.green[x], row.blue[x]);
        }
    }
}

}  // namespace

void KeyPrep(const RowView& row, StageContext& ctx) {
    // "B" keeps every channel at 21 or above, "W" at 234 or below; any
    // other value runs the stage without changing anything.
    if (ctx.settings.KeyPrepFlag == 1) {
        ForEachSelected(row, ctx.settings, [](uint8_t& r, uint8_t& g, uint8_t& b) {
            for (uint8_t* v : {&r, &g, &b}) {
                if (*v <= 21) *v = 21;
            }
        });
    } else if (ctx.settings.KeyPrepFlag == 2) {
        ForEachSelected(row, ctx.settings, [](uint8_t& r, uint8_t& g, uint8_t& b) {
            for (uint8_t* v : {&r, &g, &b}) {
                if (*v >= 234) *v = 234;
            }
        });
    }
}

void FullBlack(const RowView& row, StageContext& ctx) {
    ForEachSelected(row, ctx.settings, [](uint8_t& r, uint8_t& g, uint8_t& b) { r = g = b = 0; });
}

void FullWhite(const RowView& row, StageContext& ctx) {
    ForEachSelected(row, ctx.settings,
                    [](uint8_t& r, uint8_t& g, uint8_t& b) { r = g = b = 255; });
}

void NegativeAlpha(const RowView& row, StageContext&) {
    for (int32_t x = 0; x < row.width; ++x) row.alpha[x] = static_cast<uint8_t>(255 - row.alpha[x]);
}

void RangeAlpha(const RowView& row, StageContext& ctx) {
    for (int32_t x = 0; x < row.width; ++x) {
        if (InColorRange(ctx.settings, row.red[x], row.green[x], row.blue[x])) {
            row.red[x] = row.green[x] = row.blue[x] = 255;
            row.alpha[x] = 255;
        }
    }
}

}  // namespace lumafex

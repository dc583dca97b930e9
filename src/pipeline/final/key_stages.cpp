#include "pipeline/final/key_stages.h"

#include <array>

#include "pipeline/frame/lanes/byte_lanes.h"
#include "pipeline/frame/lanes/lanes_target.h"

namespace lumafex {

namespace {

using Table = std::array<uint8_t, 256>;

template <typename F>
constexpr Table TableOf(F f) {
    Table t{};
    for (int32_t v = 0; v < 256; ++v) t[static_cast<std::size_t>(v)] = f(v);
    return t;
}

// "B" keeps every channel at 21 or above, "W" at 234 or below.
constexpr Table kOffBlack = TableOf([](int32_t v) { return static_cast<uint8_t>(v <= 21 ? 21 : v); });
constexpr Table kOffWhite = TableOf([](int32_t v) { return static_cast<uint8_t>(v >= 234 ? 234 : v); });
constexpr Table kUnchanged = TableOf([](int32_t v) { return static_cast<uint8_t>(v); });
constexpr Table kBlack = TableOf([](int32_t) { return uint8_t{0}; });
constexpr Table kWhite = TableOf([](int32_t) { return uint8_t{255}; });

ChannelMaps AllChannels(const Table& t) { return {t.data(), t.data(), t.data()}; }

// The settings' bounds may be any numbers; within the bytes each range of
// range alpha is from lo to lo + span, or empty.
struct ByteRange {
    uint8_t lo;
    uint8_t span;
};

// A pixel in range becomes opaque white, one out of range stays: OR with
// all ones or with nothing, without a jump per pixel. Pixel by pixel from
// x.
void RangeAlphaFrom(const RowView& row, const ByteRange& red, const ByteRange& green, const ByteRange& blue,
                    int32_t x) {
    uint8_t* const r = row.red;
    uint8_t* const g = row.green;
    uint8_t* const b = row.blue;
    uint8_t* const a = row.alpha;
    for (; x < row.width; ++x) {
        const bool in = (static_cast<uint8_t>(r[x] - red.lo) <= red.span) &
                        (static_cast<uint8_t>(g[x] - green.lo) <= green.span) &
                        (static_cast<uint8_t>(b[x] - blue.lo) <= blue.span);
        const auto all = static_cast<uint8_t>(in ? 255 : 0);
        r[x] = static_cast<uint8_t>(r[x] | all);
        g[x] = static_cast<uint8_t>(g[x] | all);
        b[x] = static_cast<uint8_t>(b[x] | all);
        a[x] = static_cast<uint8_t>(a[x] | all);
    }
}

// Runs of pixels on byte lanes, once for each kind of lanes.
#define LUMAFEX_BYTE_LANES_KERNELS "pipeline/final/key_stages_lanes.h"
#include "pipeline/frame/lanes/byte_lanes_forms.h"

}  // namespace

ChannelMaps KeyPrep(const StageContext& ctx) {
    // Any other value runs the stage without changing anything.
    switch (ctx.settings.KeyPrepFlag) {
        case 1: return AllChannels(kOffBlack);
        case 2: return AllChannels(kOffWhite);
        default: return AllChannels(kUnchanged);
    }
}

ChannelMaps FullBlack(const StageContext&) { return AllChannels(kBlack); }

ChannelMaps FullWhite(const StageContext&) { return AllChannels(kWhite); }

void NegativeAlpha(const RowView& row, StageContext&) {
    uint8_t* const alpha = row.alpha;
    for (int32_t x = 0; x < row.width; ++x) alpha[x] = static_cast<uint8_t>(255 - alpha[x]);
}

void RangeAlpha(const RowView& row, StageContext& ctx) {
    const FilterSettings& s = ctx.settings;
    bool empty = false;
    auto within = [&empty](int32_t low, int32_t high) {
        const int32_t lo = low < 0 ? 0 : low;
        const int32_t hi = high > 255 ? 255 : high;
        if (lo > hi) empty = true;
        return empty ? ByteRange{0, 0} : ByteRange{static_cast<uint8_t>(lo), static_cast<uint8_t>(hi - lo)};
    };
    const ByteRange red = within(s.r1, s.r2);
    const ByteRange green = within(s.g1, s.g2);
    const ByteRange blue = within(s.b1, s.b2);
    if (empty) return;
    int32_t x = 0;
#if LUMAFEX_BYTE_LANES
#if LUMAFEX_WIDE_VECTORS
    if (Allows(ctx.params.instructionSet, InstructionSet::Avx2Fma)) {
        x = wide::RangeAlphaRuns(row, red, green, blue, x);
    }
#endif
    x = narrow::RangeAlphaRuns(row, red, green, blue, x);
#endif
    RangeAlphaFrom(row, red, green, blue, x);
}

}  // namespace lumafex

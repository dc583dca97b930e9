#include "pipeline/final/key_stages.h"

#include <array>

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
constexpr Table kOffWhite =
    TableOf([](int32_t v) { return static_cast<uint8_t>(v >= 234 ? 234 : v); });
constexpr Table kUnchanged = TableOf([](int32_t v) { return static_cast<uint8_t>(v); });
constexpr Table kBlack = TableOf([](int32_t) { return uint8_t{0}; });
constexpr Table kWhite = TableOf([](int32_t) { return uint8_t{255}; });

ChannelMaps AllChannels(const Table& t) { return {t.data(), t.data(), t.data()}; }

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

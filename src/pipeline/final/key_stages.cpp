#include "pipeline/final/key_stages.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    uint8_t* const alpha = row.alpha;
    for (int32_t x = 0; x < row.width; ++x) alpha[x] = static_cast<uint8_t>(255 - alpha[x]);
}

void RangeAlpha(const RowView& row, StageContext& ctx) {
    const FilterSettings& s = ctx.settings;
    // The settings' bounds may be any numbers; within the bytes each range
    // is from lo to lo + span, or empty.
    struct Range {
        uint8_t lo;
        uint8_t span;
    };
    bool empty = false;
    auto within = [&empty](int32_t low, int32_t high) {
        const int32_t lo = low < 0 ? 0 : low;
        const int32_t hi = high > 255 ? 255 : high;
        if (lo > hi) empty = true;
        return empty ? Range{0, 0} : Range{static_cast<uint8_t>(lo), static_cast<uint8_t>(hi - lo)};
    };
    const Range red = within(s.r1, s.r2);
    const Range green = within(s.g1, s.g2);
    const Range blue = within(s.b1, s.b2);
    if (empty) return;
    // A pixel in range becomes opaque white, one out of range stays: OR
    // with all ones or with nothing, without a jump per pixel.
    uint8_t* const r = row.red;
    uint8_t* const g = row.green;
    uint8_t* const b = row.blue;
    uint8_t* const a = row.alpha;
    int32_t x = 0;
#if defined(__SSE2__)
    // Sixteen pixels at a time: v - lo, saturated past the span, is 0 just
    // when v is in range.
    const __m128i zero = _mm_setzero_si128();
    auto inRange = [zero](const uint8_t* p, const Range& range) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i above = _mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(range.lo))),
                                            _mm_set1_epi8(static_cast<char>(range.span)));
        return _mm_cmpeq_epi8(above, zero);
    };
    auto orInto = [](uint8_t* p, __m128i all) {
        auto* q = reinterpret_cast<__m128i*>(p);
        _mm_storeu_si128(q, _mm_or_si128(_mm_loadu_si128(q), all));
    };
    for (; x + 16 <= row.width; x += 16) {
        const __m128i all = _mm_and_si128(_mm_and_si128(inRange(r + x, red), inRange(g + x, green)),
                                          inRange(b + x, blue));
        orInto(r + x, all);
        orInto(g + x, all);
        orInto(b + x, all);
        orInto(a + x, all);
    }
#endif
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

}  // namespace lumafex

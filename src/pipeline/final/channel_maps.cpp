#include "pipeline/final/channel_maps.h"

#include "pipeline/final/sixteen_pixels.h"
#include "settings/filter_include.h"

#if LUMAFEX_WIDE_VECTORS
#include <immintrin.h>
#endif

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
// Every pixel is looked up, sixteen at a time, and the selection picks the
// bytes; blocks it leaves out are skipped. Plain locals in the pixel by
// pixel rest, since every byte stored could otherwise alias the row's
// fields.
template <Key K>
void ApplyComposed(uint8_t* red, uint8_t* green, uint8_t* blue, const uint8_t* key,
                   int32_t width, const ChannelMaps& m) {
    const uint8_t* const mapRed = m.red;
    const uint8_t* const mapGreen = m.green;
    const uint8_t* const mapBlue = m.blue;
    int32_t x = 0;
#if defined(__SSE2__)
    for (; width - x >= 16; x += 16) {
        const __m128i select = SelectionOfSixteen<K>(key, x);
        if (_mm_movemask_epi8(select) == 0) continue;
        uint8_t* const channels[3] = {red, green, blue};
        const uint8_t* const maps[3] = {mapRed, mapGreen, mapBlue};
        for (int c = 0; c < 3; ++c) {
            const SixteenWords bytes(channels[c] + x);
            const uint8_t* const map = maps[c];
            StoreSelected(channels[c], x, SixteenFrom([&](int i) { return map[bytes.Byte(i)]; }),
                          select);
        }
    }
#endif
    for (; x < width; ++x) {
        if (!KeySelects<K>(key[x])) continue;
        red[x] = mapRed[red[x]];
        green[x] = mapGreen[green[x]];
        blue[x] = mapBlue[blue[x]];
    }
}

#if LUMAFEX_WIDE_VECTORS
// Thirty-two bytes looked up in a table of 256 with AVX2's byte shuffle,
// which picks from sixteen bytes by the low four bits of each index and
// yields 0 where the index's top bit is set. The table goes in sixteen
// pieces: adding 0x70 with saturation sets the top bit of every index of
// 16 or more and keeps the low four bits of the others, so each piece
// gives the bytes of the indices that fall in it and 0 elsewhere; then 16
// comes off every index (those that fell in it wrap to 240 and more).
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i LookUpThirtyTwo(
    const uint8_t* table, __m256i index) {
    const __m256i toTop = _mm256_set1_epi8(0x70);
    const __m256i piece = _mm256_set1_epi8(16);
    __m256i out = _mm256_setzero_si256();
    for (int k = 0; k < 16; ++k) {
        const __m256i bytes = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * k)));
        out = _mm256_or_si256(out, _mm256_shuffle_epi8(bytes, _mm256_adds_epu8(index, toTop)));
        index = _mm256_sub_epi8(index, piece);
    }
    return out;
}

// ApplyComposed thirty-two pixels at a time with AVX2; the rest as there.
template <Key K>
[[gnu::target("avx2")]] void ApplyComposedWide(uint8_t* red, uint8_t* green, uint8_t* blue,
                                               const uint8_t* key, int32_t width,
                                               const ChannelMaps& m) {
    uint8_t* const channels[3] = {red, green, blue};
    const uint8_t* const maps[3] = {m.red, m.green, m.blue};
    const __m256i zero = _mm256_setzero_si256();
    int32_t x = 0;
    for (; width - x >= 32; x += 32) {
        __m256i select = _mm256_cmpeq_epi8(zero, zero);
        if constexpr (K != Key::All) {
            const __m256i zeros = _mm256_cmpeq_epi8(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(key + x)), zero);
            select = K == Key::Zero ? zeros : _mm256_andnot_si256(zeros, select);
        }
        if (_mm256_testz_si256(select, select)) continue;
        for (int c = 0; c < 3; ++c) {
            auto* const at = reinterpret_cast<__m256i*>(channels[c] + x);
            const __m256i old = _mm256_loadu_si256(at);
            _mm256_storeu_si256(at,
                                _mm256_blendv_epi8(old, LookUpThirtyTwo(maps[c], old), select));
        }
    }
    ApplyComposed<K>(red + x, green + x, blue + x, key + x, width - x, m);
}
#endif

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
        for (std::size_t k = 0; k < count; ++k) {
#if LUMAFEX_WIDE_VECTORS
            if (Allows(set, InstructionSet::Avx2Fma)) {
                ApplyComposedWide<K>(row.red, row.green, row.blue, key, row.width, maps[k]);
                continue;
            }
#endif
            ApplyComposed<K>(row.red, row.green, row.blue, key, row.width, maps[k]);
        }
    });
}

}  // namespace lumafex

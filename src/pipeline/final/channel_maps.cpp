#include "pipeline/final/channel_maps.h"

#include <cstring>

#include "settings/filter_include.h"

#if defined(__SSE2__)
#include <emmintrin.h>
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
enum class Key { All, NonZero, Zero };

// Each byte of v looked up in map. Reading and writing a machine word at a
// time, with the bytes taken apart and put together in registers, keeps
// the loads and stores of the row few next to the lookups themselves.
template <typename Word>
inline Word MapBytes(Word v, const uint8_t* map) {
    Word out = 0;
    for (unsigned k = 0; k < sizeof(Word); ++k) {
        out |= static_cast<Word>(map[(v >> (8 * k)) & 0xFFu]) << (8 * k);
    }
    return out;
}

#if defined(__SSE2__)
// The sixteen bytes at p, each looked up in map.
inline __m128i MapSixteen(const uint8_t* p, const uint8_t* map) {
#if defined(__x86_64__)
    uint64_t words[2];
    std::memcpy(words, p, sizeof words);
    return _mm_set_epi64x(static_cast<long long>(MapBytes(words[1], map)),
                          static_cast<long long>(MapBytes(words[0], map)));
#else
    uint32_t words[4];
    std::memcpy(words, p, sizeof words);
    return _mm_set_epi32(static_cast<int>(MapBytes(words[3], map)),
                         static_cast<int>(MapBytes(words[2], map)),
                         static_cast<int>(MapBytes(words[1], map)),
                         static_cast<int>(MapBytes(words[0], map)));
#endif
}

// Sixteen pixels of one channel from x: the looked-up bytes where select
// is all ones, the old ones elsewhere.
inline void MapSixteenSelected(uint8_t* channel, int32_t x, const uint8_t* map, __m128i select) {
    auto* const p = reinterpret_cast<__m128i*>(channel + x);
    const __m128i mapped = MapSixteen(channel + x, map);
    _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(select, mapped),
                                     _mm_andnot_si128(select, _mm_loadu_si128(p))));
}
#endif

// The pixels x .. width-1 one by one. Plain locals, since every byte
// stored could otherwise alias the row's fields.
template <Key K>
void MapRest(uint8_t* red, uint8_t* green, uint8_t* blue, const uint8_t* key, int32_t x,
             int32_t width, const ChannelMaps& m) {
    const uint8_t* const mapRed = m.red;
    const uint8_t* const mapGreen = m.green;
    const uint8_t* const mapBlue = m.blue;
    for (; x < width; ++x) {
        bool selected = true;
        if constexpr (K == Key::NonZero) selected = key[x] != 0;
        if constexpr (K == Key::Zero) selected = key[x] == 0;
        if (!selected) continue;
        red[x] = mapRed[red[x]];
        green[x] = mapGreen[green[x]];
        blue[x] = mapBlue[blue[x]];
    }
}

template <Key K>
void ApplyComposed(uint8_t* red, uint8_t* green, uint8_t* blue, const uint8_t* key,
                   int32_t width, const ChannelMaps& m) {
    int32_t x = 0;
#if defined(__SSE2__)
    // Sixteen pixels at a time, every one looked up; the selection picks
    // the bytes where it mixes, and blocks it leaves out are skipped.
    const __m128i zero = _mm_setzero_si128();
    const __m128i all = _mm_cmpeq_epi8(zero, zero);
    for (; width - x >= 16; x += 16) {
        __m128i select = all;
        if constexpr (K != Key::All) {
            const __m128i keys = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key + x));
            const __m128i zeros = _mm_cmpeq_epi8(keys, zero);
            select = K == Key::Zero ? zeros : _mm_andnot_si128(zeros, all);
            if (_mm_movemask_epi8(select) == 0) continue;
        }
        MapSixteenSelected(red, x, m.red, select);
        MapSixteenSelected(green, x, m.green, select);
        MapSixteenSelected(blue, x, m.blue, select);
    }
#endif
    MapRest<K>(red, green, blue, key, x, width, m);
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
    if (count == 0) return;
    if (settings.FilterInclude == kIncludeColorRange) {
        ApplyInColourRange(row, range, maps, count);
        return;
    }
    // The selection does not change along the run, so each map in turn
    // does what their composition would (the final pass hands over runs
    // composed already).
    const int32_t w = row.width;
    for (std::size_t k = 0; k < count; ++k) {
        const ChannelMaps& m = maps[k];
        switch (settings.FilterInclude) {
            case kIncludeObjects:
                ApplyComposed<Key::NonZero>(row.red, row.green, row.blue, row.alpha, w, m);
                break;
            case kIncludeBackground:
                ApplyComposed<Key::Zero>(row.red, row.green, row.blue, row.alpha, w, m);
                break;
            case kIncludeShadows:
                ApplyComposed<Key::NonZero>(row.red, row.green, row.blue, row.shadow, w, m);
                break;
            case kIncludeFullFrame:
                ApplyComposed<Key::All>(row.red, row.green, row.blue, nullptr, w, m);
                break;
            default: return;  // selects nothing
        }
    }
}

}  // namespace lumafex

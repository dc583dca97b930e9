// Stages that look every pixel's bytes up in tables go sixteen pixels at a
// time: a channel's bytes are read a machine word at a time and taken
// apart in registers for their lookups, which keeps the loads and stores
// of the row few next to the lookups themselves, and the selection picks
// the new or the old bytes with SSE2 masks.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "pipeline/final/row_view.h"
#include "settings/filter_include.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumafex {

// How a selection that rests on alpha or shadow reads its key plane: every
// pixel, those whose key is not 0, or those whose key is 0.
enum class Key { All, NonZero, Zero };

template <Key K>
using KeyKind = std::integral_constant<Key, K>;

// For the modes that select by alpha or shadow (or everything), calls
// body(KeyKind<K>{}, key plane) and returns true; for the colour range,
// whose selection follows the colours, returns false. Modes outside the
// five select nothing: body is not called, and the result is true.
template <typename Body>
inline bool WithKey(const RowView& row, int32_t mode, Body&& body) {
    switch (mode) {
        case kIncludeObjects: body(KeyKind<Key::NonZero>{}, row.alpha); return true;
        case kIncludeBackground: body(KeyKind<Key::Zero>{}, row.alpha); return true;
        case kIncludeShadows: body(KeyKind<Key::NonZero>{}, row.shadow); return true;
        case kIncludeFullFrame: body(KeyKind<Key::All>{}, row.alpha); return true;
        case kIncludeColorRange: return false;
        default: return true;
    }
}

template <Key K>
inline bool KeySelects(uint8_t key) {
    if constexpr (K == Key::NonZero) return key != 0;
    if constexpr (K == Key::Zero) return key == 0;
    return true;
}

#if defined(__SSE2__)

#if defined(__x86_64__)
using ByteWord = uint64_t;
#else
using ByteWord = uint32_t;
#endif
inline constexpr int kWordsInSixteen = 16 / static_cast<int>(sizeof(ByteWord));

// Sixteen bytes of a plane from p, as words.
struct SixteenWords {
    ByteWord word[kWordsInSixteen];
    explicit SixteenWords(const uint8_t* p) { std::memcpy(word, p, sizeof word); }
    // Byte i (0..15).
    uint32_t Byte(int i) const {
        constexpr int kBytes = static_cast<int>(sizeof(ByteWord));
        return static_cast<uint32_t>((word[i / kBytes] >> (8 * (i % kBytes))) & 0xFFu);
    }
};

// The sixteen bytes byteAt(0) .. byteAt(15), put together in words.
template <typename ByteAt>
inline __m128i SixteenFrom(ByteAt byteAt) {
    constexpr int kBytes = static_cast<int>(sizeof(ByteWord));
    ByteWord out[kWordsInSixteen] = {};
    for (int i = 0; i < 16; ++i) {
        out[i / kBytes] |= static_cast<ByteWord>(byteAt(i)) << (8 * (i % kBytes));
    }
#if defined(__x86_64__)
    return _mm_set_epi64x(static_cast<long long>(out[1]), static_cast<long long>(out[0]));
#else
    return _mm_set_epi32(static_cast<int>(out[3]), static_cast<int>(out[2]),
                         static_cast<int>(out[1]), static_cast<int>(out[0]));
#endif
}

// The selection of pixels x .. x+15: all ones where selected.
template <Key K>
inline __m128i SelectionOfSixteen(const uint8_t* key, int32_t x) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i all = _mm_cmpeq_epi8(zero, zero);
    if constexpr (K == Key::All) return all;
    const __m128i zeros =
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(key + x)), zero);
    return K == Key::Zero ? zeros : _mm_andnot_si128(zeros, all);
}

// Pixels x .. x+15 of a channel take value where select is all ones and
// keep their byte elsewhere.
inline void StoreSelected(uint8_t* channel, int32_t x, __m128i value, __m128i select) {
    auto* const p = reinterpret_cast<__m128i*>(channel + x);
    _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(select, value),
                                     _mm_andnot_si128(select, _mm_loadu_si128(p))));
}

#endif

}  // namespace lumafex

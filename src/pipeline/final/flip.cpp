#include "pipeline/final/flip.h"

#include <cstddef>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumafex {

namespace {

#if defined(__SSE2__)
// The 16 bytes of v in reverse order, with SSE2 alone: the four words
// reversed, then the halves of each word swapped, then the bytes of each
// half.
__m128i Reversed(__m128i v) {
    v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
    v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
    v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}
#endif

void ReverseBytes(uint8_t* p, std::size_t n) {
    std::size_t left = 0;
    std::size_t right = n;
#if defined(__SSE2__)
    // Blocks of 16 from both ends swap places reversed while they do not
    // overlap; the middle is left to the byte loop.
    while (right - left >= 32) {
        auto* a = reinterpret_cast<__m128i*>(p + left);
        auto* b = reinterpret_cast<__m128i*>(p + right - 16);
        const __m128i front = _mm_loadu_si128(a);
        const __m128i back = _mm_loadu_si128(b);
        _mm_storeu_si128(a, Reversed(back));
        _mm_storeu_si128(b, Reversed(front));
        left += 16;
        right -= 16;
    }
#endif
    while (right - left >= 2) {
        std::swap(p[left], p[right - 1]);
        ++left;
        --right;
    }
}

}  // namespace

void FlipRowHorizontally(const RowView& row) {
    const auto w = static_cast<std::size_t>(row.width > 0 ? row.width : 0);
    ReverseBytes(row.red, w);
    ReverseBytes(row.green, w);
    ReverseBytes(row.blue, w);
    ReverseBytes(row.alpha, w);
}

}  // namespace lumafex

// The four working arrays of a blur pass: three colour sums and a count or
// weight per pixel, indexed like the frame's planes, zero-filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "platform/memory.h"

namespace lumafex {

template <typename T>
struct Accumulators {
    platform::WorkingArray<T> red, green, blue, count;

    // Obtains the four arrays; false (and nothing kept) when any of them
    // cannot be had.
    bool Allocate(std::size_t pixels) {
        red = platform::WorkingArray<T>::Allocate(pixels);
        green = platform::WorkingArray<T>::Allocate(pixels);
        blue = platform::WorkingArray<T>::Allocate(pixels);
        count = platform::WorkingArray<T>::Allocate(pixels);
        if (red && green && blue && count) return true;
        red = {};
        green = {};
        blue = {};
        count = {};
        return false;
    }
};

// Whether integer colour sums can leave the 32-bit range. A pixel holds its
// own colour plus at most one contribution of at most 255 from every centre
// whose footprint covers it, and a footprint at most `rows` tall and
// `columns` wide can be covered by at most rows x columns centres. Only an
// enormous radius on a very large frame gets there; the passes then sum in
// 64 bits, which gives the same quotients.
inline bool NeedsWideSums(int64_t rows, int64_t columns) {
    constexpr int64_t kMaxContributions =
        std::numeric_limits<int32_t>::max() / 255 - 1;  // own colour included
    if (rows <= 0 || columns <= 0) return false;
    return rows > kMaxContributions / columns;
}

}  // namespace lumafex

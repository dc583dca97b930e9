// The working sums of a blur pass: three colour sums and a count or weight
// per pixel, indexed like the frame's planes, zero-filled. The four values
// of a pixel are kept side by side, since every contribution changes all
// four of them at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "pipeline/frame/byte_math.h"
#include "platform/memory.h"

namespace lumafex {

template <typename T>
struct SumCell {
    T red;
    T green;
    T blue;
    T count;  // contributions counted, or their weights summed
};

template <typename T>
using Accumulators = platform::WorkingArray<SumCell<T>>;

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

// Seeds every pixel's sums with its own colour, counted once.
template <typename T>
void SeedSums(const uint8_t* red, const uint8_t* green, const uint8_t* blue, std::size_t pixels,
              SumCell<T>* cells) {
    for (std::size_t i = 0; i < pixels; ++i) {
        cells[i] = {static_cast<T>(red[i]), static_cast<T>(green[i]), static_cast<T>(blue[i]),
                    static_cast<T>(1)};
    }
}

// Writes every counted pixel's average back into the colour planes, limited
// to 0..255 and truncated toward zero: integer sums divide as integers,
// single-precision sums divide in double. Pixels without a count keep
// their colour.
template <typename T>
void WriteAverages(const SumCell<T>* cells, std::size_t pixels, uint8_t* red, uint8_t* green,
                   uint8_t* blue) {
    for (std::size_t i = 0; i < pixels; ++i) {
        const SumCell<T>& cell = cells[i];
        if constexpr (std::is_floating_point_v<T>) {
            if (!(cell.count > 0)) continue;
            const double weight = cell.count;
            red[i] = LimitToByte(static_cast<double>(cell.red) / weight);
            green[i] = LimitToByte(static_cast<double>(cell.green) / weight);
            blue[i] = LimitToByte(static_cast<double>(cell.blue) / weight);
        } else {
            if (cell.count <= 0) continue;
            auto average = [&cell](T sum) -> uint8_t {
                const T q = sum / cell.count;
                return q <= 0 ? 0 : (q >= 255 ? 255 : static_cast<uint8_t>(q));
            };
            red[i] = average(cell.red);
            green[i] = average(cell.green);
            blue[i] = average(cell.blue);
        }
    }
}

}  // namespace lumafex

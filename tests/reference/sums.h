// What the reference blurs add up for each pixel: the sums of its colour and
// how many pixels (or how much weight) reached it, seeded with the pixel's
// own colour once, and written back as bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/test_frame.h"

namespace lumafex::reference {

template <typename Sum>
struct ColourSums {
    explicit ColourSums(const testing::TestFrame& f)
        : red(f.red.begin(), f.red.end()),
          green(f.green.begin(), f.green.end()),
          blue(f.blue.begin(), f.blue.end()),
          weight(f.red.size(), Sum{1}) {}

    std::vector<Sum> red, green, blue, weight;
};

// Integer sums: the quotient, clamped to a byte.
inline void WriteBack(const ColourSums<int64_t>& s, testing::TestFrame& f) {
    auto byte = [](int64_t q) { return static_cast<uint8_t>(std::clamp<int64_t>(q, 0, 255)); };
    for (std::size_t i = 0; i < f.red.size(); ++i) {
        f.red[i] = byte(s.red[i] / s.weight[i]);
        f.green[i] = byte(s.green[i] / s.weight[i]);
        f.blue[i] = byte(s.blue[i] / s.weight[i]);
    }
}

// Single-precision sums: the quotient in double, clamped and truncated.
inline void WriteBack(const ColourSums<float>& s, testing::TestFrame& f) {
    auto byte = [](double v) { return static_cast<uint8_t>(std::min(std::max(v, 0.0), 255.0)); };
    for (std::size_t i = 0; i < f.red.size(); ++i) {
        f.red[i] = byte(double{s.red[i]} / s.weight[i]);
        f.green[i] = byte(double{s.green[i]} / s.weight[i]);
        f.blue[i] = byte(double{s.blue[i]} / s.weight[i]);
    }
}

}  // namespace lumafex::reference

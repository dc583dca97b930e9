// The module's one pseudo-random generator: a 32-bit state, 1 when the
// module is loaded, never reseeded, running on from frame to frame.
#pragma once

#include <cstdint>

namespace lumafex {

class RandomGenerator {
public:
    explicit RandomGenerator(uint32_t state = 1) : state_(state) {}

    // state = state * 214013 + 2531011 (mod 2^32); yields bits 16..30.
    int32_t Draw() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int32_t>((state_ >> 16) & 32767u);
    }
    uint32_t state() const { return state_; }

private:
    uint32_t state_;
};

}  // namespace lumafex

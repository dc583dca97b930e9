// The module's one pseudo-random generator: a 32-bit state, 1 when the
// module is loaded, never reseeded, running on from frame to frame.
#pragma once

#include <cstdint>

namespace lumafex {

class RandomGenerator {
public:
    explicit RandomGenerator(uint32_t state = 1) : state_(state) {}

    static constexpr uint32_t kMultiplier = 214013u;
    static constexpr uint32_t kIncrement = 2531011u;

    // state = state * 214013 + 2531011 (mod 2^32); yields bits 16..30.
    int32_t Draw() {
        state_ = state_ * kMultiplier + kIncrement;
        return ValueOf(state_);
    }
    uint32_t state() const { return state_; }
    void SetState(uint32_t state) { state_ = state; }

    // What a draw that leaves the generator in this state yields.
    static int32_t ValueOf(uint32_t state) { return static_cast<int32_t>((state >> 16) & 32767u); }

    // k draws at once: the state after them is state x M + I (mod 2^32).
    struct Jump {
        uint32_t multiplier;
        uint32_t increment;
        uint32_t From(uint32_t state) const { return state * multiplier + increment; }
    };
    static constexpr Jump JumpOf(int k) {
        Jump jump{1u, 0u};
        for (int i = 0; i < k; ++i) {
            jump = {jump.multiplier * kMultiplier, jump.increment * kMultiplier + kIncrement};
        }
        return jump;
    }

private:
    uint32_t state_;
};

}  // namespace lumafex

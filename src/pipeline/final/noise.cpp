#include "pipeline/final/noise.h"

#include <cmath>

#include "pipeline/final/selected_pixels.h"
#include "pipeline/frame/byte_math.h"
#include "pipeline/frame/random_generator.h"

namespace lumafex {

namespace {

// The draws a pixel compares with the amount, as a whole number: a draw d
// (0 .. 32767) lies below the amount exactly when it lies below the
// amount's ceiling, kept within 0 .. 32768; a NaN amount passes no draw.
int32_t DrawsBelow(double amount) {
    if (!(amount > 0.0)) return 0;
    if (amount >= 32768.0) return 32768;
    return static_cast<int32_t>(std::ceil(amount));
}

// Where change holds, the pixel takes its new bytes.
inline void Pick(bool change, uint8_t nr, uint8_t ng, uint8_t nb, uint8_t& r, uint8_t& g,
                 uint8_t& b) {
    r = change ? nr : r;
    g = change ? ng : g;
    b = change ? nb : b;
}

}  // namespace

// Unselected pixels draw nothing; a selected one draws once to decide, then
// its levels. Every pixel's draws are formed from the state it starts with
// (k draws ahead is one multiply-add), and the selection and the decision
// pick the state it leaves and whether its bytes change. Written as
// choices, these come out of GCC as a jump on the decision after all, with
// the blend behind it; two forms that keep every jump off (masks on the
// chain, and a table of each stretch's draws walked one look-up a pixel)
// measured no faster, so the plain form stays.
void Noise(const RowView& row, StageContext& ctx) {
    const FrameParameters& p = ctx.params;
    // A draw's bits 16..30 of the state lie below the bound exactly when
    // those bits, left where they are, lie below the bound shifted alike:
    // one shift fewer on the chain from pixel to pixel.
    const uint32_t below = static_cast<uint32_t>(DrawsBelow(p.NoiseAmount)) << 16;
    constexpr uint32_t kDrawBits = 32767u << 16;
    const double kr = p.NoiseRed;
    const double kg = p.NoiseGreen;
    const double kb = p.NoiseBlue;
    constexpr RandomGenerator::Jump kOne = RandomGenerator::JumpOf(1);
    constexpr RandomGenerator::Jump kTwo = RandomGenerator::JumpOf(2);
    constexpr RandomGenerator::Jump kThree = RandomGenerator::JumpOf(3);
    constexpr RandomGenerator::Jump kFour = RandomGenerator::JumpOf(4);
    uint32_t state = ctx.random.state();
    if (p.ChromaNoise == 0) {
        // One grey level for all three; the old value keeps 1 - k in double.
        const double keepR = 1.0 - kr;
        const double keepG = 1.0 - kg;
        const double keepB = 1.0 - kb;
        ForEachPixel(row, ctx.settings, [&](uint8_t& r, uint8_t& g, uint8_t& b, bool selected) {
            const uint32_t toss = kOne.From(state);
            const uint32_t level = kTwo.From(state);
            const bool noisy = (toss & kDrawBits) < below;
            state = selected ? (noisy ? level : toss) : state;
            const int32_t n = RandomGenerator::ValueOf(level) / 128;
            Pick(selected && noisy, LimitToByte(keepR * r + kr * n),
                 LimitToByte(keepG * g + kg * n), LimitToByte(keepB * b + kb * n), r, g, b);
        });
    } else {
        // A level per channel; the old value keeps 1 - k as a
        // single-precision value.
        const double keepR = static_cast<float>(1.0 - kr);
        const double keepG = static_cast<float>(1.0 - kg);
        const double keepB = static_cast<float>(1.0 - kb);
        ForEachPixel(row, ctx.settings, [&](uint8_t& r, uint8_t& g, uint8_t& b, bool selected) {
            const uint32_t toss = kOne.From(state);
            const uint32_t last = kFour.From(state);
            const bool noisy = (toss & kDrawBits) < below;
            const int32_t lr = RandomGenerator::ValueOf(kTwo.From(state)) / 128;
            const int32_t lg = RandomGenerator::ValueOf(kThree.From(state)) / 128;
            const int32_t lb = RandomGenerator::ValueOf(last) / 128;
            state = selected ? (noisy ? last : toss) : state;
            Pick(selected && noisy, LimitToByte(lr * kr + r * keepR),
                 LimitToByte(lg * kg + g * keepG), LimitToByte(lb * kb + b * keepB), r, g, b);
        });
    }
    ctx.random.SetState(state);
}

}  // namespace lumafex

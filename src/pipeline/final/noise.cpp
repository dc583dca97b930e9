#include "pipeline/final/noise.h"

#include "pipeline/final/selected_pixels.h"
#include "pipeline/frame/byte_math.h"
#include "pipeline/frame/random_generator.h"

namespace lumafex {

// Unselected pixels draw nothing; a selected one draws once to decide, then
// its levels. The decision stays a jump: then only the generator's own
// step lies on the chain from pixel to pixel, and a mispredicted toss
// costs less than waiting for every toss.
void Noise(const RowView& row, StageContext& ctx) {
    const FrameParameters& p = ctx.params;
    const double amount = p.NoiseAmount;
    const double kr = p.NoiseRed;
    const double kg = p.NoiseGreen;
    const double kb = p.NoiseBlue;
    RandomGenerator random = ctx.random;
    if (p.ChromaNoise == 0) {
        // One grey level for all three; the old value keeps 1 - k in double.
        const double keepR = 1.0 - kr;
        const double keepG = 1.0 - kg;
        const double keepB = 1.0 - kb;
        ForEachSelected(row, ctx.settings, [&](uint8_t& r, uint8_t& g, uint8_t& b) {
            if (!(random.Draw() < amount)) return;
            const int32_t n = random.Draw() / 128;
            r = LimitToByte(keepR * r + kr * n);
            g = LimitToByte(keepG * g + kg * n);
            b = LimitToByte(keepB * b + kb * n);
        });
    } else {
        // A level per channel; the old value keeps 1 - k as a
        // single-precision value.
        const double keepR = static_cast<float>(1.0 - kr);
        const double keepG = static_cast<float>(1.0 - kg);
        const double keepB = static_cast<float>(1.0 - kb);
        ForEachSelected(row, ctx.settings, [&](uint8_t& r, uint8_t& g, uint8_t& b) {
            if (!(random.Draw() < amount)) return;
            const int32_t nr = random.Draw() / 128;
            r = LimitToByte(nr * kr + r * keepR);
            const int32_t ng = random.Draw() / 128;
            g = LimitToByte(ng * kg + g * keepG);
            const int32_t nb = random.Draw() / 128;
            b = LimitToByte(nb * kb + b * keepB);
        });
    }
    ctx.random = random;
}

}  // namespace lumafex

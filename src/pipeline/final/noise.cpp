#include "pipeline/final/noise.h"

#include "pipeline/frame/byte_math.h"
#include "pipeline/frame/random_generator.h"
#include "pipeline/frame/selection.h"

namespace lumafex {

void Noise(const RowView& row, StageContext& ctx) {
    const FrameParameters& p = ctx.params;
    const double amount = p.NoiseAmount;
    const double k[3] = {p.NoiseRed, p.NoiseGreen, p.NoiseBlue};
    // Chroma noise keeps the old value's weight 1 - k as a single-precision
    // value; monochrome noise forms 1 - k in double.
    const double chromaKeep[3] = {static_cast<float>(1.0 - k[0]), static_cast<float>(1.0 - k[1]),
                                  static_cast<float>(1.0 - k[2])};
    RandomGenerator& random = ctx.random;
    for (int32_t x = 0; x < row.width; ++x) {
        uint8_t* channel[3] = {&row.red[x], &row.green[x], &row.blue[x]};
        if (!PixelSelected(ctx.settings, row.alpha[x], row.shadow[x], *channel[0], *channel[1],
                           *channel[2])) {
            continue;  // unselected pixels draw nothing
        }
        if (!(random.Draw() < amount)) continue;
        if (p.ChromaNoise == 0) {
            const int32_t n = random.Draw() / 128;  // one grey level for all three
            for (int c = 0; c < 3; ++c) {
                *channel[c] = LimitToByte((1.0 - k[c]) * *channel[c] + k[c] * n);
            }
        } else {
            for (int c = 0; c < 3; ++c) {
                const int32_t n = random.Draw() / 128;
                *channel[c] = LimitToByte(n * k[c] + *channel[c] * chromaKeep[c]);
            }
        }
    }
}

}  // namespace lumafex

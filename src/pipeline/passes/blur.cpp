// The plain blur. Every selected pixel adds its colour to every pixel of its
// footprint (radius BlurAmount), each receiver counting the contributions;
// afterwards every pixel becomes the integer average of its own colour and
// what it received. All tests and colours are read from the frame as it was
// when the pass began; the planes change only at the write-back.
//
// The sums are integers and every contribution is an integer of its own, so
// the result does not depend on the order of the additions.
#include "pipeline/passes/blur.h"

#include "pipeline/final/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/footprint.h"

namespace lumafex {

namespace {

// How a receiving pixel takes a contribution, by selection mode: the whole
// colour, the average of its own and the spread colour, or nothing.
enum class Take { Full, Half, None };

template <int32_t Mode>
Take TakeOf(const FilterSettings& s, const FrameView& f, std::size_t j) {
    if constexpr (Mode == kIncludeObjects) return f.alpha[j] != 0 ? Take::Full : Take::Half;
    if constexpr (Mode == kIncludeBackground) return f.alpha[j] == 0 ? Take::Full : Take::None;
    if constexpr (Mode == kIncludeShadows) return f.shadow[j] != 0 ? Take::Full : Take::Half;
    if constexpr (Mode == kIncludeColorRange) {
        return InColorRange(s, f.red[j], f.green[j], f.blue[j]) ? Take::Full : Take::Half;
    }
    return Take::Full;
}

template <int32_t Mode, typename Sum>
void Spread(const FrameView& f, const FilterSettings& s, const FootprintProfile& footprint,
            Accumulators<Sum>& acc) {
    Sum* const red = acc.red.data();
    Sum* const green = acc.green.data();
    Sum* const blue = acc.blue.data();
    Sum* const hits = acc.count.data();
    for (int32_t y = 0; y < f.height; ++y) {
        const int32_t top = footprint.Top(y);
        const int32_t bottom = footprint.Bottom(y);
        for (int32_t x = 0; x < f.width; ++x) {
            const std::size_t i = f.Index(x, y);
            if (!PixelSelected(s, f.alpha[i], f.shadow[i], f.red[i], f.green[i], f.blue[i])) {
                continue;
            }
            const Sum cr = f.red[i];
            const Sum cg = f.green[i];
            const Sum cb = f.blue[i];
            for (int32_t yy = top; yy <= bottom; ++yy) {
                const ColumnSpan span =
                    FootprintColumns(x, footprint.HalfWidth(yy - top), f.width);
                const std::size_t row = f.Index(0, yy);
                for (int32_t xx = span.first; xx <= span.last; ++xx) {
                    const std::size_t j = row + static_cast<std::size_t>(xx);
                    switch (TakeOf<Mode>(s, f, j)) {
                        case Take::Full:
                            red[j] += cr;
                            green[j] += cg;
                            blue[j] += cb;
                            hits[j] += 1;
                            break;
                        case Take::Half:
                            // Each channel's average drops its remainder.
                            red[j] += (static_cast<Sum>(f.red[j]) + cr) / 2;
                            green[j] += (static_cast<Sum>(f.green[j]) + cg) / 2;
                            blue[j] += (static_cast<Sum>(f.blue[j]) + cb) / 2;
                            hits[j] += 1;
                            break;
                        case Take::None: break;
                    }
                }
            }
        }
    }
}

// Quotient of a sum by its count, truncated toward zero, limited to a byte.
template <typename Sum>
uint8_t AverageByte(Sum sum, Sum count) {
    const Sum q = sum / count;
    if (q <= 0) return 0;
    if (q >= 255) return 255;
    return static_cast<uint8_t>(q);
}

template <typename Sum>
bool Run(const FrameView& f, const FilterSettings& s, const FrameParameters& p,
         FootprintProfile& footprint) {
    Accumulators<Sum> acc;
    if (!acc.Allocate(f.PixelCount())) return false;
    for (std::size_t i = 0; i < f.PixelCount(); ++i) {
        acc.red[i] = f.red[i];
        acc.green[i] = f.green[i];
        acc.blue[i] = f.blue[i];
        acc.count[i] = 1;
    }
    if (p.BlurAmount > 0.0f) {
        switch (s.FilterInclude) {
            case kIncludeObjects: Spread<kIncludeObjects>(f, s, footprint, acc); break;
            case kIncludeBackground: Spread<kIncludeBackground>(f, s, footprint, acc); break;
            case kIncludeShadows: Spread<kIncludeShadows>(f, s, footprint, acc); break;
            case kIncludeFullFrame: Spread<kIncludeFullFrame>(f, s, footprint, acc); break;
            case kIncludeColorRange: Spread<kIncludeColorRange>(f, s, footprint, acc); break;
            default: break;  // no pixel is selected
        }
    }
    for (std::size_t i = 0; i < f.PixelCount(); ++i) {
        if (acc.count[i] <= 0) continue;
        f.red[i] = AverageByte(acc.red[i], acc.count[i]);
        f.green[i] = AverageByte(acc.green[i], acc.count[i]);
        f.blue[i] = AverageByte(acc.blue[i], acc.count[i]);
    }
    return true;
}

}  // namespace

bool BlurPass(const FrameView& frame, const FilterSettings& settings,
              const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    FootprintProfile footprint;
    if (!footprint.Reserve(frame.width, frame.height,
                           FootprintReach(params.BlurAmount, frame.height))) {
        return false;
    }
    if (params.BlurAmount > 0.0f) footprint.Set(params.BlurAmount, kBlurAngleConstant);

    const int64_t rows = 2 * static_cast<int64_t>(footprint.Reach()) + 1;
    const int64_t columns = 2 * static_cast<int64_t>(footprint.MaxHalfWidth()) + 1;
    if (NeedsWideSums(rows < frame.height ? rows : frame.height,
                      columns < frame.width ? columns : frame.width)) {
        return Run<int64_t>(frame, settings, params, footprint);
    }
    return Run<int32_t>(frame, settings, params, footprint);
}

}  // namespace lumafex

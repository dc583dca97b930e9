// The softer blur. Like the plain blur, every selected pixel spreads its
// colour over its footprint, but each contribution carries the weight
// w = r - distance, so the blur falls off linearly to nothing at the radius;
// unselected receivers mix the spread colour with their own by t = w / r.
//
// The sums are single-precision values rounded after every addition, so the
// order of the additions into a pixel matters: it must be the order of the
// spreading pixels, row by row and left to right. The spread below visits,
// for one spreading row, the footprint rows one after another and within
// each the spreading pixels from left to right; since a receiver lies in
// only one footprint row of a given spreading row, it still receives in
// exactly that order. Walking the rows outside lets one table of weights
// per footprint row serve every pixel of the spreading row.
#include "pipeline/passes/softer_blur.h"

#include "pipeline/final/byte_math.h"
#include "pipeline/final/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/passes/softer_weights.h"

namespace lumafex {

namespace {

// How a receiving pixel takes a contribution, by selection mode: the spread
// colour, a blend of the spread colour and its own, or nothing.
enum class Take { Full, Blended, None };

template <int32_t Mode>
Take TakeOf(const FilterSettings& s, const FrameView& f, std::size_t j) {
    if constexpr (Mode == kIncludeObjects) return f.alpha[j] != 0 ? Take::Full : Take::Blended;
    if constexpr (Mode == kIncludeBackground) return f.alpha[j] == 0 ? Take::Full : Take::None;
    if constexpr (Mode == kIncludeShadows) return f.shadow[j] != 0 ? Take::Full : Take::Blended;
    if constexpr (Mode == kIncludeColorRange) {
        return InColorRange(s, f.red[j], f.green[j], f.blue[j]) ? Take::Full : Take::Blended;
    }
    return Take::Full;
}

template <int32_t Mode>
void Spread(const FrameView& f, const FilterSettings& s, const FootprintProfile& footprint,
            SumCell<float>* cells, float* weights, uint8_t* spreads) {
    const float radius = footprint.Radius();
    const double r = static_cast<double>(radius);
    for (int32_t y = 0; y < f.height; ++y) {
        bool any = false;
        for (int32_t x = 0; x < f.width; ++x) {
            const std::size_t i = f.Index(x, y);
            spreads[x] = PixelSelected(s, f.alpha[i], f.shadow[i], f.red[i], f.green[i],
                                       f.blue[i]) ? 1 : 0;
            any = any || spreads[x] != 0;
        }
        if (!any) continue;
        const int32_t top = footprint.Top(y);
        const int32_t bottom = footprint.Bottom(y);
        for (int32_t yy = top; yy <= bottom; ++yy) {
            const int32_t hw = FillWeights(radius, yy - y, footprint.HalfWidth(yy - top), weights);
            if (hw < 0) continue;
            const std::size_t row = f.Index(0, yy);
            for (int32_t x = 0; x < f.width; ++x) {
                if (spreads[x] == 0) continue;
                const std::size_t i = f.Index(x, y);
                const double cr = f.red[i];
                const double cg = f.green[i];
                const double cb = f.blue[i];
                const double colour[4] = {cr, cg, cb, 1.0};
                const ColumnSpan span = FootprintColumns(x, hw, f.width);
                // weights[reach + xx - x], with the reach of the whole row.
                const int32_t base = footprint.HalfWidth(yy - top) - x;
                for (int32_t xx = span.first; xx <= span.last; ++xx) {
                    const double w = weights[base + xx];
                    const std::size_t j = row + static_cast<std::size_t>(xx);
                    SumCell<float>& cell = cells[j];
                    switch (TakeOf<Mode>(s, f, j)) {
                        case Take::Full: AddWeighted(cell, colour, w); break;
                        case Take::Blended: {
                            // t in double: how much of the spread colour the
                            // receiver takes, from 1 at the centre to 0 at r.
                            const double t = w / r;
                            AddRounded(cell.red, w * (t * cr + (1.0 - t) * f.red[j]));
                            AddRounded(cell.green, w * (t * cg + (1.0 - t) * f.green[j]));
                            AddRounded(cell.blue, w * (t * cb + (1.0 - t) * f.blue[j]));
                            AddRounded(cell.count, w);
                            break;
                        }
                        case Take::None: break;
                    }
                }
            }
        }
    }
}

}  // namespace

bool SofterBlurPass(const FrameView& frame, const FilterSettings& settings,
                    const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    Accumulators<float> acc = Accumulators<float>::Allocate(frame.PixelCount());
    if (!acc) return false;
    FootprintProfile footprint;
    // One weight per column of the widest possible row, and the spreading
    // flags of one row.
    const std::size_t width = static_cast<std::size_t>(frame.width);
    auto weights = platform::WorkingArray<float>::Allocate(2 * width + 1);
    auto spreads = platform::WorkingArray<uint8_t>::Allocate(width);
    if (!weights || !spreads ||
        !footprint.Reserve(frame.width, frame.height,
                           FootprintReach(params.BlurAmount, frame.height))) {
        return false;
    }

    SumCell<float>* const cells = acc.data();
    SeedSums(frame.red, frame.green, frame.blue, frame.PixelCount(), cells);
    if (params.BlurAmount > 0.0f) {
        footprint.Set(params.BlurAmount, kSofterAngleConstant);
        const FrameView& f = frame;
        const FilterSettings& s = settings;
        const FootprintProfile& fp = footprint;
        float* const w = weights.data();
        uint8_t* const sp = spreads.data();
        switch (settings.FilterInclude) {
            case kIncludeObjects: Spread<kIncludeObjects>(f, s, fp, cells, w, sp); break;
            case kIncludeBackground: Spread<kIncludeBackground>(f, s, fp, cells, w, sp); break;
            case kIncludeShadows: Spread<kIncludeShadows>(f, s, fp, cells, w, sp); break;
            case kIncludeFullFrame: Spread<kIncludeFullFrame>(f, s, fp, cells, w, sp); break;
            case kIncludeColorRange: Spread<kIncludeColorRange>(f, s, fp, cells, w, sp); break;
            default: break;  // no pixel is selected
        }
    }
    // The quotient in double, limited to 0..255, truncated toward zero.
    for (std::size_t i = 0; i < frame.PixelCount(); ++i) {
        const SumCell<float>& cell = cells[i];
        if (!(cell.count > 0.0f)) continue;
        const double weight = cell.count;
        frame.red[i] = LimitToByte(static_cast<double>(cell.red) / weight);
        frame.green[i] = LimitToByte(static_cast<double>(cell.green) / weight);
        frame.blue[i] = LimitToByte(static_cast<double>(cell.blue) / weight);
    }
    return true;
}

}  // namespace lumafex

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

#include <cmath>

#include "pipeline/final/byte_math.h"
#include "pipeline/final/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/footprint.h"

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

// Adds a double-precision contribution to a single-precision sum, rounding
// the new sum once, as it is stored.
inline void Add(float& sum, double contribution) {
    sum = static_cast<float>(static_cast<double>(sum) + contribution);
}

// The weights of one footprint row at vertical offset dy, by horizontal
// distance: w = r - sqrt(dx^2 + dy^2) from the integer offsets, rounded to
// single precision; 0 where w is not above 0 (such pixels receive nothing;
// a positive w never rounds to 0).
void FillWeights(float radius, int32_t dy, int32_t halfWidth, float* weights) {
    const double dy2 = static_cast<double>(dy) * static_cast<double>(dy);
    for (int32_t dx = 0; dx <= halfWidth; ++dx) {
        const double dx2 = static_cast<double>(dx) * static_cast<double>(dx);
        const double w = static_cast<double>(radius) - std::sqrt(dx2 + dy2);
        weights[dx] = w > 0.0 ? static_cast<float>(w) : 0.0f;
    }
}

template <int32_t Mode>
void Spread(const FrameView& f, const FilterSettings& s, const FootprintProfile& footprint,
            Accumulators<float>& acc, float* weights, uint8_t* spreads) {
    const float radius = footprint.Radius();
    const double r = static_cast<double>(radius);
    float* const red = acc.red.data();
    float* const green = acc.green.data();
    float* const blue = acc.blue.data();
    float* const weightSum = acc.count.data();
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
            const int32_t hw = footprint.HalfWidth(yy - top);
            if (hw < 0) continue;
            FillWeights(radius, yy - y, hw, weights);
            const std::size_t row = f.Index(0, yy);
            for (int32_t x = 0; x < f.width; ++x) {
                if (spreads[x] == 0) continue;
                const std::size_t i = f.Index(x, y);
                const double cr = f.red[i];
                const double cg = f.green[i];
                const double cb = f.blue[i];
                const ColumnSpan span = FootprintColumns(x, hw, f.width);
                for (int32_t xx = span.first; xx <= span.last; ++xx) {
                    const float w = weights[xx < x ? x - xx : xx - x];
                    if (!(w > 0.0f)) continue;
                    const std::size_t j = row + static_cast<std::size_t>(xx);
                    const double wd = w;
                    switch (TakeOf<Mode>(s, f, j)) {
                        case Take::Full:
                            Add(red[j], cr * wd);
                            Add(green[j], cg * wd);
                            Add(blue[j], cb * wd);
                            Add(weightSum[j], wd);
                            break;
                        case Take::Blended: {
                            // t in double: how much of the spread colour the
                            // receiver takes, from 1 at the centre to 0 at r.
                            const double t = wd / r;
                            Add(red[j], wd * (t * cr + (1.0 - t) * f.red[j]));
                            Add(green[j], wd * (t * cg + (1.0 - t) * f.green[j]));
                            Add(blue[j], wd * (t * cb + (1.0 - t) * f.blue[j]));
                            Add(weightSum[j], wd);
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
    const std::size_t width = static_cast<std::size_t>(frame.width);
    Accumulators<float> acc;
    if (!acc.Allocate(frame.PixelCount())) return false;
    FootprintProfile footprint;
    // One weight per horizontal distance up to the widest possible row, and
    // the spreading flags of one row.
    auto weights = platform::WorkingArray<float>::Allocate(width + 1);
    auto spreads = platform::WorkingArray<uint8_t>::Allocate(width);
    if (!weights || !spreads ||
        !footprint.Reserve(frame.width, frame.height,
                           FootprintReach(params.BlurAmount, frame.height))) {
        return false;
    }

    for (std::size_t i = 0; i < frame.PixelCount(); ++i) {
        acc.red[i] = frame.red[i];
        acc.green[i] = frame.green[i];
        acc.blue[i] = frame.blue[i];
        acc.count[i] = 1.0f;
    }
    if (params.BlurAmount > 0.0f) {
        footprint.Set(params.BlurAmount, kSofterAngleConstant);
        float* const w = weights.data();
        uint8_t* const sp = spreads.data();
        switch (settings.FilterInclude) {
            case kIncludeObjects: Spread<kIncludeObjects>(frame, settings, footprint, acc, w, sp); break;
            case kIncludeBackground: Spread<kIncludeBackground>(frame, settings, footprint, acc, w, sp); break;
            case kIncludeShadows: Spread<kIncludeShadows>(frame, settings, footprint, acc, w, sp); break;
            case kIncludeFullFrame: Spread<kIncludeFullFrame>(frame, settings, footprint, acc, w, sp); break;
            case kIncludeColorRange: Spread<kIncludeColorRange>(frame, settings, footprint, acc, w, sp); break;
            default: break;  // no pixel is selected
        }
    }
    // The quotient in double, limited to 0..255, truncated toward zero.
    for (std::size_t i = 0; i < frame.PixelCount(); ++i) {
        if (!(acc.count[i] > 0.0f)) continue;
        const double weight = acc.count[i];
        frame.red[i] = LimitToByte(static_cast<double>(acc.red[i]) / weight);
        frame.green[i] = LimitToByte(static_cast<double>(acc.green[i]) / weight);
        frame.blue[i] = LimitToByte(static_cast<double>(acc.blue[i]) / weight);
    }
    return true;
}

}  // namespace lumafex

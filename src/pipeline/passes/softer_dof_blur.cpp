// The softer depth-of-field blur. Centres, blur amounts, footprints and the
// separator rule are those of the depth-of-field blur; each contribution
// here carries the weight w = bc - distance, falling to nothing at the
// centre's blur radius, and is accumulated without truncation. Receivers are
// not tested against the selection or DOFBlurSide: any out-of-focus pixel
// near a selected centre takes part of its colour.
//
// The sums are single-precision values rounded after every addition, so
// centres are visited in row order and their footprints from the top, left
// to right: that fixes the order of the additions into every pixel.
#include "pipeline/passes/softer_dof_blur.h"

#include <cmath>

#include "pipeline/final/byte_math.h"
#include "pipeline/final/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/footprint.h"

namespace lumafex {

namespace {

// Adds a double-precision contribution to a single-precision sum, rounding
// the new sum once, as it is stored.
inline void Add(float& sum, double contribution) {
    sum = static_cast<float>(static_cast<double>(sum) + contribution);
}

// Objects Only limits how much of the centre's colour a receiver takes by
// its weight as well: a = min(1, t x w). The other modes take a = t.
template <bool ObjectsOnly>
void Spread(const FrameView& f, const FilterSettings& s, const FrameParameters& p,
            const DepthRows& depth, FootprintProfile& footprint, Accumulators<float>& acc) {
    float* const red = acc.red.data();
    float* const green = acc.green.data();
    float* const blue = acc.blue.data();
    float* const weightSum = acc.count.data();
    for (int32_t y = 0; y < f.height; ++y) {
        const float* const centreDepth = depth.Row(y);
        for (int32_t x = 0; x < f.width; ++x) {
            const std::size_t c = f.Index(x, y);
            if (!PixelSelected(s, f.alpha[c], f.shadow[c], f.red[c], f.green[c], f.blue[c])) {
                continue;
            }
            const float dc = centreDepth[x];
            const float bc = DepthBlur(dc, p);
            if (!(bc > 0.0f)) continue;
            footprint.Set(bc, kSofterAngleConstant);
            const double cr = f.red[c];
            const double cg = f.green[c];
            const double cb = f.blue[c];
            const int32_t top = footprint.Top(y);
            const int32_t bottom = footprint.Bottom(y);
            for (int32_t yy = top; yy <= bottom; ++yy) {
                const ColumnSpan span =
                    FootprintColumns(x, footprint.HalfWidth(yy - top), f.width);
                const float* const rowDepth = depth.Row(yy);
                const std::size_t row = f.Index(0, yy);
                const double dy = static_cast<double>(yy) - static_cast<double>(y);
                for (int32_t xx = span.first; xx <= span.last; ++xx) {
                    const float dn = rowDepth[xx];
                    if (HiddenBehindSeparator(dn, dc, p.DOFSeperator)) continue;
                    const double dx = static_cast<double>(xx) - static_cast<double>(x);
                    // The weight, rounded to single; nothing at bc or farther.
                    const float w = static_cast<float>(static_cast<double>(bc) -
                                                       std::sqrt(dy * dy + dx * dx));
                    if (!(w > 0.0f)) continue;
                    const float bn = DepthBlur(dn, p);
                    // t = min / max rounded to single: 1 for equal blurs, 0 for
                    // an in-focus neighbour.
                    float t;
                    if (bn == bc) {
                        t = 1.0f;
                    } else {
                        const float lo = bn < bc ? bn : bc;
                        const float hi = bn < bc ? bc : bn;
                        t = static_cast<float>(static_cast<double>(lo) /
                                               static_cast<double>(hi));
                    }
                    float a = t;
                    if constexpr (ObjectsOnly) {
                        const double tw = static_cast<double>(t) * static_cast<double>(w);
                        a = static_cast<float>(tw < 1.0 ? tw : 1.0);
                    }
                    const double ad = a;
                    const double bd = static_cast<float>(1.0 - ad);  // 1 - a, in single
                    const double wd = w;
                    const std::size_t n = row + static_cast<std::size_t>(xx);
                    Add(red[n], (cr * ad + f.red[n] * bd) * wd);
                    Add(green[n], (cg * ad + f.green[n] * bd) * wd);
                    Add(blue[n], (cb * ad + f.blue[n] * bd) * wd);
                    Add(weightSum[n], wd);
                }
            }
        }
    }
}

}  // namespace

bool SofterDepthOfFieldBlurPass(const FrameView& frame, const FilterSettings& settings,
                                const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    // Without a depth buffer there is nothing to measure the focus by.
    if (!frame.HasDepth()) return false;
    // The large arrays first: when they cannot be had, nothing else is
    // asked of the host or the heap.
    Accumulators<float> acc;
    if (!acc.Allocate(frame.PixelCount())) return false;
    FootprintProfile footprint;
    if (!footprint.Reserve(frame.width, frame.height,
                           FootprintReach(LargestDepthBlur(params), frame.height))) {
        return false;
    }
    DepthRows depth;
    if (!depth.Fetch(frame)) return false;
    for (std::size_t i = 0; i < frame.PixelCount(); ++i) {
        acc.red[i] = frame.red[i];
        acc.green[i] = frame.green[i];
        acc.blue[i] = frame.blue[i];
        acc.count[i] = 1.0f;
    }
    if (settings.FilterInclude == kIncludeObjects) {
        Spread<true>(frame, settings, params, depth, footprint, acc);
    } else {
        // A mode outside 0..4 selects no centre, so nothing is spread.
        Spread<false>(frame, settings, params, depth, footprint, acc);
    }
    // The quotient in double, raised to 0, limited to 255, truncated.
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

// The depth-of-field blur. Every selected, out-of-focus pixel (a centre)
// spreads over a footprint whose radius is its blur amount; each pixel of the
// footprint receives a mix of the centre's colour and its own, by the ratio
// of the smaller to the larger of the two blur amounts, truncated to an
// integer on its own and counted. A pixel never receives from a centre more
// than DOFSeperator behind it. Afterwards every pixel becomes the integer
// average of its own colour and what it received.
//
// Colours and tests are read from the frame as it was when the pass began;
// the planes change only at the write-back. Every contribution is an integer
// of its own, so the result does not depend on the order of the additions.
#include "pipeline/passes/dof_blur.h"

#include "pipeline/final/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/footprint.h"

namespace lumafex {

namespace {

// The blur a neighbour at depth dn takes part with, or false when it takes
// no part at all (no contribution, no count). In Full Frame mode DOFBlurSide
// leaves out the far side (1) or the near side (2); in the other modes an
// unselected neighbour counts as in focus.
template <int32_t Mode>
bool NeighbourBlur(const FilterSettings& s, const FrameParameters& p, const FrameView& f,
                   std::size_t n, float dn, float& bn) {
    if constexpr (Mode == kIncludeFullFrame) {
        if (dn >= p.FocalFar) {
            if (p.DOFBlurSide == 1) return false;
            bn = DepthBlur(dn, p);
        } else if (dn < p.FocalNear) {
            if (p.DOFBlurSide == 2) return false;
            bn = DepthBlur(dn, p);
        } else {
            bn = 0.0f;
        }
    } else {
        bn = PixelSelected(s, f.alpha[n], f.shadow[n], f.red[n], f.green[n], f.blue[n])
                 ? DepthBlur(dn, p)
                 : 0.0f;
    }
    return true;
}

// trunc(c x t + n x u) for one channel, formed in double. t and u lie in
// 0..1, so the value lies in 0..255 (plus rounding) and the conversion is safe.
template <typename Sum>
Sum Mixed(uint8_t c, uint8_t n, float t, float u) {
    return static_cast<Sum>(static_cast<double>(c) * static_cast<double>(t) +
                            static_cast<double>(n) * static_cast<double>(u));
}

template <int32_t Mode, typename Sum>
void Spread(const FrameView& f, const FilterSettings& s, const FrameParameters& p,
            const DepthRows& depth, FootprintProfile& footprint, Accumulators<Sum>& acc) {
    Sum* const red = acc.red.data();
    Sum* const green = acc.green.data();
    Sum* const blue = acc.blue.data();
    Sum* const hits = acc.count.data();
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
            const uint8_t cr = f.red[c];
            const uint8_t cg = f.green[c];
            const uint8_t cb = f.blue[c];
            const int32_t top = footprint.Top(y);
            const int32_t bottom = footprint.Bottom(y);
            for (int32_t yy = top; yy <= bottom; ++yy) {
                const ColumnSpan span =
                    FootprintColumns(x, footprint.HalfWidth(yy - top), f.width);
                const float* const rowDepth = depth.Row(yy);
                const std::size_t row = f.Index(0, yy);
                for (int32_t xx = span.first; xx <= span.last; ++xx) {
                    const float dn = rowDepth[xx];
                    if (HiddenBehindSeparator(dn, dc, p.DOFSeperator)) continue;
                    const std::size_t n = row + static_cast<std::size_t>(xx);
                    float bn;
                    if (!NeighbourBlur<Mode>(s, p, f, n, dn, bn)) continue;
                    if (bn == bc) {
                        // t = 1, u = 0: the centre's colour, exactly.
                        red[n] += cr;
                        green[n] += cg;
                        blue[n] += cb;
                    } else if (bn == 0.0f) {
                        // t = 0, u = 1: the neighbour's own colour, exactly.
                        red[n] += f.red[n];
                        green[n] += f.green[n];
                        blue[n] += f.blue[n];
                    } else {
                        // t = min / max rounded to single, u = 1 - t in single.
                        const float lo = bn < bc ? bn : bc;
                        const float hi = bn < bc ? bc : bn;
                        const float t = static_cast<float>(static_cast<double>(lo) /
                                                           static_cast<double>(hi));
                        const float u = static_cast<float>(1.0 - static_cast<double>(t));
                        red[n] += Mixed<Sum>(cr, f.red[n], t, u);
                        green[n] += Mixed<Sum>(cg, f.green[n], t, u);
                        blue[n] += Mixed<Sum>(cb, f.blue[n], t, u);
                    }
                    hits[n] += 1;
                }
            }
        }
    }
}

template <typename Sum>
uint8_t AverageByte(Sum sum, Sum count) {
    const Sum q = sum / count;
    if (q <= 0) return 0;
    if (q >= 255) return 255;
    return static_cast<uint8_t>(q);
}

template <typename Sum>
bool Run(const FrameView& f, const FilterSettings& s, const FrameParameters& p) {
    // The large arrays first: when they cannot be had, nothing else is
    // asked of the host or the heap.
    Accumulators<Sum> acc;
    if (!acc.Allocate(f.PixelCount())) return false;
    FootprintProfile footprint;
    if (!footprint.Reserve(f.width, f.height, FootprintReach(LargestDepthBlur(p), f.height))) {
        return false;
    }
    DepthRows depth;
    if (!depth.Fetch(f)) return false;
    for (std::size_t i = 0; i < f.PixelCount(); ++i) {
        acc.red[i] = f.red[i];
        acc.green[i] = f.green[i];
        acc.blue[i] = f.blue[i];
        acc.count[i] = 1;
    }
    switch (s.FilterInclude) {
        case kIncludeObjects: Spread<kIncludeObjects>(f, s, p, depth, footprint, acc); break;
        case kIncludeBackground: Spread<kIncludeBackground>(f, s, p, depth, footprint, acc); break;
        case kIncludeShadows: Spread<kIncludeShadows>(f, s, p, depth, footprint, acc); break;
        case kIncludeFullFrame: Spread<kIncludeFullFrame>(f, s, p, depth, footprint, acc); break;
        case kIncludeColorRange: Spread<kIncludeColorRange>(f, s, p, depth, footprint, acc); break;
        default: break;  // no pixel is selected
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

bool DepthOfFieldBlurPass(const FrameView& frame, const FilterSettings& settings,
                          const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    // Without a depth buffer there is nothing to measure the focus by.
    if (!frame.HasDepth()) return false;

    // No blur exceeds the largest one, and no row's half-width exceeds the
    // blur, which bounds how many centres can reach one pixel.
    const float largest = LargestDepthBlur(params);
    const int64_t rows = 2 * static_cast<int64_t>(FootprintReach(largest, frame.height)) + 1;
    const int64_t columns = 2 * static_cast<int64_t>(FootprintReach(largest, frame.width)) + 1;
    if (NeedsWideSums(rows < frame.height ? rows : frame.height,
                      columns < frame.width ? columns : frame.width)) {
        return Run<int64_t>(frame, settings, params);
    }
    return Run<int32_t>(frame, settings, params);
}

}  // namespace lumafex

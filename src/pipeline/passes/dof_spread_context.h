// What the depth-of-field blur's spread and gather share: the blur each
// pixel takes part with as a receiver, every pixel's blur, how a mixed
// contribution is formed, and the working values of one strip.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "pipeline/frame/selection.h"
#include "pipeline/frame/strips.h"
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/dof_blur_kernels.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/passes/span_marks.h"
#include "platform/memory.h"
#include "settings/filter_settings.h"

namespace lumafex {

// Left out as a receiver: no contribution, no count.
inline constexpr float kTakesNoPart = -1.0f;

// The blur each pixel of a row takes part with as a receiver, from the
// row's depths and their blurs. In Full Frame mode DOFBlurSide leaves out
// the far side (1) or the near side (2); in the other modes an unselected
// pixel counts as in focus.
inline void FillReceivingBlurs(const FrameView& f, const FilterSettings& s, const FrameParameters& p,
                               const float* depth, const float* blurs, int32_t y, float* out) {
    for (int32_t x = 0; x < f.width; ++x) {
        const float d = depth[x];
        float b = 0.0f;
        if (s.FilterInclude == kIncludeFullFrame) {
            if (d >= p.FocalFar) {
                b = p.DOFBlurSide == 1 ? kTakesNoPart : blurs[x];
            } else if (d < p.FocalNear) {
                b = p.DOFBlurSide == 2 ? kTakesNoPart : blurs[x];
            }
        } else {
            const std::size_t n = f.Index(x, y);
            if (PixelSelected(s, f.alpha[n], f.shadow[n], f.red[n], f.green[n], f.blue[n])) {
                b = blurs[x];
            }
        }
        out[x] = b;
    }
}

// Every pixel's DepthBlur, worked out once per pass on the threads: each
// row of centres and receivers is visited by several strips.
class BlurPlane {
public:
    [[nodiscard]] bool Fill(const FrameView& f, const DepthRows& depth, const FrameParameters& p) {
        width_ = static_cast<std::size_t>(f.width);
        blurs_ = platform::WorkingArray<float>::Allocate(f.PixelCount());
        if (!blurs_) return false;
        StripQueue queue(RowStrips::For(f.width, f.height));
        ForEachTask(queue.Workers(), [&](int32_t) {
            int32_t first = 0;
            int32_t end = 0;
            while (queue.Next(first, end)) {
                for (int32_t y = first; y < end; ++y) {
                    const float* const d = depth.Row(y);
                    float* const out = blurs_.data() + f.Index(0, y);
                    for (int32_t x = 0; x < f.width; ++x) out[x] = DepthBlur(d[x], p);
                }
            }
        });
        return true;
    }
    const float* Row(int32_t y) const { return blurs_.data() + static_cast<std::size_t>(y) * width_; }

private:
    platform::WorkingArray<float> blurs_;
    std::size_t width_ = 0;
};

// trunc(c x t + n x u) for one channel, formed in double. t and u lie in
// 0..1, so the value lies in 0..255 (plus rounding) and the conversion is safe.
template <typename Sum>
Sum Mixed(uint8_t c, uint8_t n, float t, float u) {
    return static_cast<Sum>(static_cast<double>(c) * static_cast<double>(t) +
                            static_cast<double>(n) * static_cast<double>(u));
}

// Colour sums of a run of centres, for the columns before x.
struct RunPrefix {
    int64_t red, green, blue;
};

// What the spread of one strip works with.
template <typename Sum>
struct DepthSpreadContext {
    const FrameView& f;
    const FilterSettings& s;
    const FrameParameters& p;
    const DepthRows& depth;
    const BlurPlane& blurs;
    FootprintProfile& footprint;
    NeighbourRows& receiving;
    StripSums<Sum>& sums;
    SpanMarks<Sum>& marks;
    RunPrefix* prefix;            // width + 1 entries
    float* centreBlurs;           // width entries
    ReceivingRow* receivingRows;  // the strip's rows, from its first
    float gathered;      // the blur whose centres LimitGather takes, or -1
    const DepthBlurKernels& kernels;
};

}  // namespace lumafex

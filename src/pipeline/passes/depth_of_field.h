// What the two depth-of-field passes share: the blur amount of a depth, the
// separator rule, and the depth rows of the frame, fetched once per pass.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "pipeline/frame_parameters.h"
#include "pipeline/frame_view.h"
#include "platform/memory.h"

namespace lumafex {

// The blur radius of a pixel at depth d. Behind the in-focus range (d not
// less than FocalFar, tested first) it is (d - FocalFar) x DOFBlurAmount, in
// front of it (d less than FocalNear) (FocalNear - d) x DOFBlurAmount, each
// formed in double and rounded once to single precision, then limited to at
// most MaxDOFBlur and raised to at least 0. Inside the range it is 0.
inline float DepthBlur(float d, const FrameParameters& p) {
    double raw;
    if (d >= p.FocalFar) {
        raw = (static_cast<double>(d) - static_cast<double>(p.FocalFar)) *
              static_cast<double>(p.DOFBlurAmount);
    } else if (d < p.FocalNear) {
        raw = (static_cast<double>(p.FocalNear) - static_cast<double>(d)) *
              static_cast<double>(p.DOFBlurAmount);
    } else {
        return 0.0f;
    }
    float b = static_cast<float>(raw);
    if (b > p.MaxDOFBlur) b = p.MaxDOFBlur;
    // Also catches NaN (an infinite depth times a zero amount): in focus.
    if (!(b > 0.0f)) b = 0.0f;
    return b;
}

// The largest blur any depth can get: MaxDOFBlur, or no limit at all when
// that is NaN (a comparison with NaN never limits).
inline float LargestDepthBlur(const FrameParameters& p) {
    return p.MaxDOFBlur == p.MaxDOFBlur ? p.MaxDOFBlur : HUGE_VALF;
}

// The separator rule: a pixel at depth dn receives nothing from a centre at
// depth dc when dn + DOFSeperator < dc. The sum is formed in double and not
// rounded, so a pixel exactly DOFSeperator in front of the centre still
// receives.
inline bool HiddenBehindSeparator(float dn, float dc, float separator) {
    return static_cast<double>(dn) + static_cast<double>(separator) < static_cast<double>(dc);
}

// The frame's depth rows, each fetched once from the host and kept for the
// whole pass (the host keeps every returned row valid while the frame is
// processed).
class DepthRows {
public:
    // Fetches every row. False when the frame has no depth or the host
    // returns no row for some y, or the row table cannot be had; the pass is
    // then left out.
    bool Fetch(const FrameView& frame) {
        if (!frame.HasDepth() || frame.width <= 0 || frame.height <= 0) return false;
        rows_ = platform::WorkingArray<const float*>::Allocate(
            static_cast<std::size_t>(frame.height));
        if (!rows_) return false;
        for (int32_t y = 0; y < frame.height; ++y) {
            const float* row = frame.DepthRow(y);
            if (row == nullptr) return false;
            rows_[static_cast<std::size_t>(y)] = row;
        }
        return true;
    }
    const float* Row(int32_t y) const { return rows_[static_cast<std::size_t>(y)]; }

private:
    platform::WorkingArray<const float*> rows_;
};

}  // namespace lumafex

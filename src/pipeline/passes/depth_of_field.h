// What the two depth-of-field passes share: the blur amount of a depth, the
// separator rule, and the depth rows of the frame, fetched once per pass.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "pipeline/frame_parameters.h"
#include "pipeline/frame_view.h"
#include "platform/memory.h"

namespace lumafex {

// Pixels in a strip of rows of the depth-of-field passes.
inline constexpr int32_t kDepthStripPixels = 131072;

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
    [[nodiscard]] bool Fetch(const FrameView& frame) {
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

// The rows of the frame within reach of the current centre row, with what
// the neighbour rule needs of them: each pixel's blur (or what a receiver
// takes part with), how many pixels from each on share its blur, and the
// least depth over runs of columns. Each row is worked out once, as the
// centres advance, and kept while footprints can reach it: rows
// y - reach .. y + reach, in a ring of 2 reach + 1 rows, or of the whole
// frame when that is smaller.
//
// With these a footprint row's span can be checked at once: when all its
// pixels share the centre's blur and none lies far enough in front of the
// centre to be hidden by the separator, every pixel of the span takes the
// centre's contribution unmixed.
// One row of NeighbourRows, for the checks of many spans.
struct NeighbourRow {
    const float* blur;
    const int32_t* runs;
    const float* leastDepths;  // over runs of 1, 2, 4, ... columns, level after level
    std::size_t levelStride;
    int32_t widest;  // the longest run kept, a power of two

    // True when every pixel of columns first..last has blur b and none is
    // hidden from a centre at depth dc: dn + separator < dc holds for none
    // of them. That sum only grows with dn, so the least depth decides.
    bool Uniform(int32_t first, int32_t last, float b, double dc, double separator) const {
        if (blur[first] != b || runs[first] <= last - first) return false;
        return !(static_cast<double>(LeastDepth(first, last)) + separator < dc);
    }

    // The least depth of columns first..last (first <= last).
    float LeastDepth(int32_t first, int32_t last) const {
        float least = HUGE_VALF;
        auto count = static_cast<uint32_t>(last - first + 1);
        const auto widestCount = static_cast<uint32_t>(widest);
        const float* const top =
            leastDepths + static_cast<std::size_t>(std::bit_width(widestCount) - 1) * levelStride;
        for (; count > widestCount; first += widest, count -= widestCount) {
            least = top[first] < least ? top[first] : least;
        }
        const int level = std::bit_width(count) - 1;
        const float* const row = leastDepths + static_cast<std::size_t>(level) * levelStride;
        const float a = row[first];
        const float b = row[first + static_cast<int32_t>(count) - (int32_t{1} << level)];
        least = a < least ? a : least;
        return b < least ? b : least;
    }
};

class NeighbourRows {
public:
    // False when the memory cannot be had.
    [[nodiscard]] bool Reserve(int32_t width, int32_t height, int32_t reach) {
        width_ = width;
        height_ = height;
        reach_ = reach > 0 ? reach : 0;
        const int64_t rows = 2 * static_cast<int64_t>(reach_) + 1;
        slots_ = rows < height ? static_cast<int32_t>(rows) : height;
        next_ = 0;
        levels_ = 1;
        while (levels_ < kLevels && (int64_t{1} << levels_) <= width) ++levels_;
        // Counted in 64 bits: with a 32-bit size_t the tables of a vast frame
        // must fail to be obtained rather than come out short.
        const uint64_t wanted = static_cast<uint64_t>(slots_) * static_cast<uint64_t>(width);
        if (wanted * static_cast<uint64_t>(levels_) > std::numeric_limits<std::size_t>::max()) {
            return false;
        }
        const auto cells = static_cast<std::size_t>(wanted);
        blur_ = platform::WorkingArray<float>::Allocate(cells);
        runs_ = platform::WorkingArray<int32_t>::Allocate(cells);
        least_ = platform::WorkingArray<float>::Allocate(cells * static_cast<std::size_t>(levels_));
        slotOf_ = platform::WorkingArray<int32_t>::Allocate(static_cast<std::size_t>(height));
        near_ = platform::WorkingArray<NeighbourRow>::Allocate(static_cast<std::size_t>(slots_));
        if (!blur_ || !runs_ || !least_ || !slotOf_ || !near_) return false;
        for (int32_t y = 0; y < height; ++y) slotOf_[static_cast<std::size_t>(y)] = y % slots_;
        return true;
    }

    // Starts over at centre row y: the next Advance prepares its rows anew.
    void Begin(int32_t y) { next_ = y > reach_ ? y - reach_ : 0; }

    // Makes the rows y - reach .. y + reach available, filling each new
    // row's blurs once with fill(row, blurs). Called with y = 0, 1, 2, ...
    // in order, or from the row given to Begin on.
    template <typename Fill>
    void Advance(int32_t y, const DepthRows& depth, Fill&& fill) {
        const int32_t last = height_ - 1 - y > reach_ ? y + reach_ : height_ - 1;
        for (; next_ <= last; ++next_) Prepare(next_, depth.Row(next_), fill);
        nearFirst_ = y > reach_ ? y - reach_ : 0;
        for (int32_t row = nearFirst_; row <= last; ++row) {
            near_[static_cast<std::size_t>(row - nearFirst_)] = Row(row);
        }
    }

    // Row y, within reach of the latest centre row.
    const NeighbourRow& Near(int32_t y) const {
        return near_[static_cast<std::size_t>(y - nearFirst_)];
    }

    const float* Blur(int32_t y) const { return blur_.data() + SlotStart(y); }

    // Row y, which must be within reach of the latest centre row.
    NeighbourRow Row(int32_t y) const {
        const std::size_t start = SlotStart(y);
        return {blur_.data() + start, runs_.data() + start, Level(start, 0),
                static_cast<std::size_t>(width_), int32_t{1} << (levels_ - 1)};
    }

private:
    // Least depths are kept over runs of 1, 2, 4, ... 2^(kLevels - 1) columns.
    static constexpr int32_t kLevels = 5;

    std::size_t SlotStart(int32_t y) const {
        return static_cast<std::size_t>(slotOf_[static_cast<std::size_t>(y)]) *
               static_cast<std::size_t>(width_);
    }
    float* Level(std::size_t start, int32_t level) const {
        return least_.data() + start * static_cast<std::size_t>(levels_) +
               static_cast<std::size_t>(level) * static_cast<std::size_t>(width_);
    }

    template <typename Fill>
    void Prepare(int32_t y, const float* depth, Fill& fill) {
        const std::size_t start = SlotStart(y);
        float* const blur = blur_.data() + start;
        int32_t* const runs = runs_.data() + start;
        fill(y, blur);
        runs[width_ - 1] = 1;
        for (int32_t x = width_ - 2; x >= 0; --x) {
            runs[x] = blur[x] == blur[x + 1] ? runs[x + 1] + 1 : 1;
        }
        // A NaN depth is never hidden by the separator, like an infinite one.
        float* const level0 = Level(start, 0);
        for (int32_t x = 0; x < width_; ++x) {
            level0[x] = depth[x] == depth[x] ? depth[x] : HUGE_VALF;
        }
        for (int32_t level = 1; level < levels_; ++level) {
            const float* const below = Level(start, level - 1);
            float* const here = Level(start, level);
            const int32_t half = int32_t{1} << (level - 1);
            for (int32_t x = 0; x + 2 * half <= width_; ++x) {
                here[x] = below[x] < below[x + half] ? below[x] : below[x + half];
            }
        }
    }

    platform::WorkingArray<float> blur_;
    platform::WorkingArray<int32_t> runs_;
    platform::WorkingArray<float> least_;
    platform::WorkingArray<int32_t> slotOf_;
    platform::WorkingArray<NeighbourRow> near_;
    int32_t nearFirst_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t reach_ = 0;
    int32_t slots_ = 1;
    int32_t levels_ = 1;
    int32_t next_ = 0;
};

}  // namespace lumafex

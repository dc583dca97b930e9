// What the two depth-of-field passes share: the blur amount of a depth, the
// separator rule, and the depth rows of the frame, fetched once per pass.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "pipeline/passes/accumulators.h"
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

// The averaged colours of a depth pass, kept apart from the frame's planes
// until every strip has read the colours it needs (a strip reads the rows
// within reach around it), then copied into them: 3 bytes a pixel.
class ResultPlanes {
public:
    // False when the memory cannot be had.
    bool Allocate(std::size_t pixels) {
        pixels_ = pixels;
        if (pixels > std::numeric_limits<std::size_t>::max() / 3) return false;
        bytes_ = platform::WorkingArray<uint8_t>::Allocate(3 * pixels);
        return static_cast<bool>(bytes_);
    }
    uint8_t* Plane(int channel) const {
        return bytes_.data() + static_cast<std::size_t>(channel) * pixels_;
    }
    void CopyTo(const FrameView& f) const {
        std::memcpy(f.red, Plane(0), pixels_);
        std::memcpy(f.green, Plane(1), pixels_);
        std::memcpy(f.blue, Plane(2), pixels_);
    }

private:
    platform::WorkingArray<uint8_t> bytes_;
    std::size_t pixels_ = 0;
};

// A pixel's integer average as WriteAverages forms it, but divided in
// double precision, which vectorises where integer division does not: the
// quotient of two whole numbers below 2^53 never rounds up to the next
// whole number, so it truncates to the integer quotient. Every count is at
// least 1 (each pixel counts its own colour) and every sum at least 0.
inline uint8_t IntegerAverage(int64_t sum, double count) {
    const double q = static_cast<double>(sum) / count;
    return q <= 0.0 ? 0 : (q >= 255.0 ? 255 : static_cast<uint8_t>(q));
}

// Writes the integer averages of cells 0 .. pixels-1 into the planes,
// leaving a pixel whose count is not above 0 as it is, and returns how many
// pixels from the first it did.
using AverageKernel = std::size_t (*)(const SumCell<int32_t>* cells, std::size_t pixels, uint8_t* red,
                                      uint8_t* green, uint8_t* blue);

// The sums of one strip of receiving rows, first .. end-1, seeded with
// their own colours. Each thread keeps one and takes it from strip to
// strip, so the sums take strip-sized memory per thread, not a frame's.
template <typename T>
class StripSums {
public:
    // Room for strips of up to `rows` rows. False when it cannot be had.
    bool Reserve(int32_t width, int32_t rows) {
        width_ = width;
        if (static_cast<uint64_t>(width) * static_cast<uint64_t>(rows) >
            std::numeric_limits<std::size_t>::max()) {
            return false;
        }
        cells_ = Accumulators<T>::Allocate(static_cast<std::size_t>(width) *
                                           static_cast<std::size_t>(rows));
        return static_cast<bool>(cells_);
    }

    // Seeds the rows first .. end-1 with the frame's colours, counted once.
    void Begin(const FrameView& f, int32_t first, int32_t end) {
        first_ = first;
        end_ = end;
        const std::size_t o = f.Index(0, first);
        SeedSums(f.red + o, f.green + o, f.blue + o, f.Index(0, end) - o, cells_.data());
    }

    SumCell<T>* Row(int32_t y) const {
        return cells_.data() +
               static_cast<std::size_t>(y - first_) * static_cast<std::size_t>(width_);
    }
    int32_t First() const { return first_; }
    int32_t End() const { return end_; }

    // Writes the strip's averages into its rows of the result planes;
    // 32-bit sums with the kernel `averages` where one is given.
    void WriteTo(const FrameView& f, const ResultPlanes& result, AverageKernel averages = nullptr) const {
        const std::size_t o = f.Index(0, first_);
        const std::size_t n = f.Index(0, end_) - o;
        // A pixel without a count (none, after seeding) keeps its colour.
        std::memcpy(result.Plane(0) + o, f.red + o, n);
        std::memcpy(result.Plane(1) + o, f.green + o, n);
        std::memcpy(result.Plane(2) + o, f.blue + o, n);
        if constexpr (std::is_same_v<T, int32_t>) {
            WriteIntegerAverages(n, result.Plane(0) + o, result.Plane(1) + o, result.Plane(2) + o,
                                 averages);
        } else {
            WriteAverages(cells_.data(), n, result.Plane(0) + o, result.Plane(1) + o,
                          result.Plane(2) + o);
        }
    }

private:
    // The integer averages (see IntegerAverage), several at a time where
    // the kernels have lanes; the rest one by one.
    void WriteIntegerAverages(std::size_t pixels, uint8_t* red, uint8_t* green, uint8_t* blue,
                              AverageKernel averages) const {
        const SumCell<T>* const cells = cells_.data();
        std::size_t i = averages != nullptr ? averages(cells, pixels, red, green, blue) : 0;
        for (; i < pixels; ++i) {
            const SumCell<T>& cell = cells[i];
            if (cell.count <= 0) continue;
            const double count = cell.count;
            red[i] = IntegerAverage(cell.red, count);
            green[i] = IntegerAverage(cell.green, count);
            blue[i] = IntegerAverage(cell.blue, count);
        }
    }

    Accumulators<T> cells_;
    int32_t width_ = 0;
    int32_t first_ = 0;
    int32_t end_ = 0;
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
    // row's blurs once with fill(row, blurs). Called with rising y from the
    // row given to Begin on; rows may be passed over.
    template <typename Fill>
    void Advance(int32_t y, const DepthRows& depth, Fill&& fill) {
        const int32_t last = height_ - 1 - y > reach_ ? y + reach_ : height_ - 1;
        nearFirst_ = y > reach_ ? y - reach_ : 0;
        // Rows above reach, passed over while no centre needed them, are
        // never prepared.
        if (next_ < nearFirst_) next_ = nearFirst_;
        for (; next_ <= last; ++next_) Prepare(next_, depth.Row(next_), fill);
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

#include "pipeline/passes/footprint.h"

#include <bit>
#include <cmath>

#include "pipeline/passes/portable_sine.h"

namespace lumafex {

namespace {

// A row's half-width r * sin(angle), formed in double precision with a
// correctly rounded sine (so every platform agrees) and truncated toward
// zero. Kept within -1 .. width so that the span arithmetic
// cannot overflow: a row wider than the frame is clipped anyway, and any
// negative width is an empty row. An infinite radius (0 x infinity) gives
// NaN, taken as the centre column alone.
//
// quick is r x QuickSine(a). Most rows are settled by it: when it lies
// farther from every whole number than its error and the near-integer
// margin below together, r x sin(a) truncates alike and takes no
// correctly rounded sine, whichever runtime's sine is asked. Otherwise
// (NaN included) the row is worked out in full.
int32_t HalfWidthFor(double r, double a, double quick, int32_t width) {
    if (std::fabs(quick) < 1e15) {
        const double whole = static_cast<double>(static_cast<int64_t>(quick));
        const double fraction = std::fabs(quick - whole);
        const double gap = fraction < 0.5 ? fraction : 1.0 - fraction;
        const double margin = 1e-13 * std::fabs(r) + 4e-12 * (std::fabs(quick) + 1.0);
        if (gap > margin) {
            if (quick >= static_cast<double>(width)) return width;
            if (quick <= -1.0) return -1;
            return static_cast<int32_t>(quick);
        }
    }
    double hw = r * std::sin(a);
    // Runtime libraries may differ in the last bit of their sine; that can
    // only move the truncated width when the product lies next to a whole
    // number, and only then is the exactly rounded (slower) sine used.
    if (std::fabs(hw - std::nearbyint(hw)) <= 1e-12 * std::fmax(1.0, std::fabs(hw))) {
        hw = r * PortableSine(a);
    }
    if (std::isnan(hw)) return 0;
    if (hw >= static_cast<double>(width)) return width;
    if (hw <= -1.0) return -1;
    return static_cast<int32_t>(hw);
}

}  // namespace

int32_t FootprintReach(float radius, int32_t limit) {
    if (!(radius > 0.0f)) return 0;
    if (static_cast<double>(radius) >= static_cast<double>(limit)) return limit;
    return static_cast<int32_t>(radius);
}

bool FootprintProfile::Reserve(int32_t width, int32_t height, int32_t maxReach, InstructionSet set) {
    set_ = set;
    width_ = width > 0 ? width : 0;
    height_ = height > 0 ? height : 0;
    valid_ = false;
    // 2R + 1 rows, and no footprint visits more rows than the frame has.
    const int64_t rows = 2 * static_cast<int64_t>(maxReach > 0 ? maxReach : 0) + 1;
    capacity_ = rows < height_ ? static_cast<int32_t>(rows) : height_;
    halfWidths_ = platform::WorkingArray<int32_t>::Allocate(
        static_cast<std::size_t>(capacity_ > 0 ? capacity_ : 1));
    kept_ = {};
    keptWidths_ = {};
    current_ = halfWidths_.data();
    return static_cast<bool>(halfWidths_);
}

bool FootprintProfile::KeepRecent() {
    kept_ = platform::WorkingArray<Kept>::Allocate(kKeptSlots);
    keptWidths_ = platform::WorkingArray<int32_t>::Allocate(static_cast<std::size_t>(kKeptSlots) * kKeptRows);
    if (!kept_ || !keptWidths_) return false;
    // A NaN radius equals none.
    for (int32_t i = 0; i < kKeptSlots; ++i) kept_[static_cast<std::size_t>(i)] = {NAN, 0.0f, 0};
    return true;
}

void FootprintProfile::Set(float radius, float angleConstant) {
    if (valid_ && radius == radius_ && angleConstant == angleConstant_) return;
    radius_ = radius;
    angleConstant_ = angleConstant;
    valid_ = true;
    reach_ = FootprintReach(radius, height_);
    // Callers reserve for their largest radius; should a larger one come,
    // its footprint is cut to the reserved rows rather than overrun them.
    if (capacity_ < height_ && 2 * static_cast<int64_t>(reach_) + 1 > capacity_) {
        reach_ = (capacity_ - 1) / 2;
    }
    if (kept_ && reach_ <= (kKeptRows - 1) / 2) {
        const auto slot = static_cast<std::size_t>((std::bit_cast<uint32_t>(radius) * 0x9E3779B1u) >> 23);
        static_assert(kKeptSlots == 1 << (32 - 23));
        Kept& kept = kept_[slot];
        int32_t* const widths = keptWidths_.data() + slot * kKeptRows;
        current_ = widths;
        if (kept.radius == radius && kept.angleConstant == angleConstant) {
            maxHalfWidth_ = kept.maxHalfWidth;
            return;
        }
        Make(widths);
        kept = {radius, angleConstant, maxHalfWidth_};
        return;
    }
    current_ = halfWidths_.data();
    Make(halfWidths_.data());
}

void FootprintProfile::Make(int32_t* halfWidths) {
    // The angle step: r + 1 in double, the quotient rounded to single.
    const float step = static_cast<float>(static_cast<double>(angleConstant_) /
                                          (static_cast<double>(radius_) + 1.0));
    const double r = static_cast<double>(radius_);
    // 2R + 1 rows at most, and never more than the frame holds.
    const int64_t rows = 2 * static_cast<int64_t>(reach_) + 1;
    const int32_t count = rows < height_ ? static_cast<int32_t>(rows) : height_;
    // The rows go kBatch at a time: their angles, a chain of additions;
    // then their quick sines side by side; then each row's width.
    constexpr int32_t kBatch = 32;
    double angles[kBatch];
    double quick[kBatch];
    float angle = 0.0f;
    maxHalfWidth_ = 0;
    for (int32_t first = 0; first < count; first += kBatch) {
        const int32_t n = count - first < kBatch ? count - first : kBatch;
        // The angle is a single-precision accumulator, rounded after each
        // step. While it stays below 2^24 steps, angle + step is exact in
        // double, so the single-precision sum is that sum rounded once.
        if (count <= (int32_t{1} << 24)) {
            for (int32_t i = 0; i < n; ++i) {
                angle += step;
                angles[i] = static_cast<double>(angle);
            }
        } else {
            for (int32_t i = 0; i < n; ++i) {
                angle = static_cast<float>(static_cast<double>(angle) + static_cast<double>(step));
                angles[i] = static_cast<double>(angle);
            }
        }
        ScaledQuickSines(r, angles, quick, n, set_);
        for (int32_t i = 0; i < n; ++i) {
            const int32_t hw = HalfWidthFor(r, angles[i], quick[i], width_);
            halfWidths[first + i] = hw;
            if (hw > maxHalfWidth_) maxHalfWidth_ = hw;
        }
    }
}

}  // namespace lumafex

// The depth-of-field blur's gather of the centres at one blur, by
// receiving row (see LimitGather).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/dof_blur_kernels.h"
#include "pipeline/passes/dof_spread_context.h"
#include "pipeline/passes/footprint.h"
#include "platform/memory.h"

namespace lumafex {

// The centres whose blur is one chosen value B (the limit MaxDOFBlur, which
// in most frames every far enough pixel reaches), gathered by receiving
// row. All of them share one footprint shape, so a receiver takes from
// each centre row the B-centres within one half-width of it: a window of
// that row's prefix sums of their colours and count. A receiver takes that
// total as it is when it shares their blur, as its own colour times their
// count when it is in focus (or unselected), and nothing when it takes no
// part, provided none of the B-centres around it lies more than the
// separator behind it: the deepest of them within the footprint's box
// decides. Where one may, a receiver that shares their blur takes the
// total less the colours of those that do; any other receiver goes
// through the B-centres that reach it one by one, by the full rule. (A
// receiver in focus takes its own colour from every centre, so it keeps
// its colour whatever it counts.)
//
// The prefix sums and the windows' totals are of type Window and wrap
// around; a window's difference comes out exact as long as the true total
// fits the type. 16 bits take blurs below 8 (FitsShortWindows), which fit
// more of them in a vector.
template <typename Sum, typename Window = std::make_unsigned_t<Sum>>
class LimitGather {
public:
    using Mark = std::make_unsigned_t<Sum>;

    // Whether every total fits 16 bits: with a blur below 8 a receiver is
    // reached by at most 15 x 15 B-centres, 255 x 225 < 2^16.
    static bool FitsShortWindows(float blur) { return blur < 8.0f; }

    // Blurs up to this many pixels are gathered (footprints up to this many
    // rows above and below their centre, and narrower); larger ones are
    // spread, by their marks.
    static constexpr int32_t kLongestReach = 32;

    // The blur worth gathering for these working values, or -1 for none.
    static float Chosen(const FrameParameters& p) {
        const float b = p.MaxDOFBlur;
        return b > 0.0f && b <= static_cast<float>(kLongestReach) ? b : -1.0f;
    }

    bool Reserve(int32_t width, int32_t height, int32_t stripRows, float blur) {
        blur_ = blur;
        width_ = width;
        const int32_t reach = FootprintReach(blur, height);
        if (!profile_.Reserve(width, height, reach)) return false;
        profile_.Set(blur, kSofterAngleConstant);
        const int64_t rows = static_cast<int64_t>(stripRows) + 2 * static_cast<int64_t>(reach);
        const uint64_t w = static_cast<uint64_t>(width) + 1;
        if (w * static_cast<uint64_t>(rows) > std::numeric_limits<std::size_t>::max() / 64) {
            return false;
        }
        const auto cells = static_cast<std::size_t>(w * static_cast<uint64_t>(rows));
        prefix_ = Accumulators<Window>::Allocate(cells);
        rowMax_ = platform::WorkingArray<float>::Allocate(cells);
        halfWidths_ = platform::WorkingArray<int32_t>::Allocate(2 * static_cast<std::size_t>(reach) + 1);
        centreDepths_ = platform::WorkingArray<float>::Allocate(
            static_cast<std::size_t>(width) * static_cast<std::size_t>(rows) + kDepthLanesPastEnd);
        totals_ = Accumulators<Window>::Allocate(static_cast<std::size_t>(w));
        boxMax_ = platform::WorkingArray<float>::Allocate(static_cast<std::size_t>(w));
        scratch_ = platform::WorkingArray<float>::Allocate(static_cast<std::size_t>(w));
        holds_ = platform::WorkingArray<bool>::Allocate(static_cast<std::size_t>(rows));
        return prefix_ && rowMax_ && halfWidths_ && centreDepths_ && totals_ && boxMax_ && scratch_ && holds_;
    }

    // Adds the B-centres' contributions to the rows first .. end-1.
    void Gather(const DepthSpreadContext<Sum>& ctx, int32_t first, int32_t end) {
        const FrameView& f = ctx.f;
        const int32_t reach = profile_.Reach();
        top_ = first > reach ? first - reach : 0;
        const int32_t bottom = f.height - end > reach ? end - 1 + reach : f.height - 1;
        bool any = false;
        for (int32_t y = top_; y <= bottom; ++y) {
            holds_[static_cast<std::size_t>(y - top_)] = PrepareRow(ctx, y);
            any = any || holds_[static_cast<std::size_t>(y - top_)];
        }
        if (!any) return;
        const auto w = static_cast<std::size_t>(f.width);
        for (int32_t yy = first; yy < end; ++yy) {
            const int32_t from = yy > reach ? yy - reach : 0;
            const int32_t to = f.height - 1 - yy > reach ? yy + reach : f.height - 1;
            // A row without B-centres adds nothing to the totals and raises
            // no maximum; a receiving row out of reach of every B-centre
            // takes nothing.
            bool reached = false;
            for (int32_t y = from; y <= to && !reached; ++y) {
                reached = holds_[static_cast<std::size_t>(y - top_)];
            }
            if (!reached) continue;
            std::memset(static_cast<void*>(totals_.data()), 0, w * sizeof(SumCell<Window>));
            float* const box = boxMax_.data();
            for (std::size_t x = 0; x < w; ++x) box[x] = -HUGE_VALF;
            for (int32_t y = from; y <= to; ++y) {
                const int32_t hw = profile_.HalfWidth(yy - profile_.Top(y));
                halfWidths_[static_cast<std::size_t>(y - from)] = hw;
                if (hw < 0 || !holds_[static_cast<std::size_t>(y - top_)]) continue;
                AddWindows(ctx.kernels, &totals_.data()->red, &Prefix(y)->red, f.width, hw);
                ctx.kernels.raiseTo(box, RowMax(y), f.width);
            }
            Take(ctx, yy);
        }
    }

private:
    SumCell<Window>* Prefix(int32_t y) const {
        return prefix_.data() + static_cast<std::size_t>(y - top_) * (static_cast<std::size_t>(width_) + 1);
    }
    float* RowMax(int32_t y) const {
        return rowMax_.data() + static_cast<std::size_t>(y - top_) * (static_cast<std::size_t>(width_) + 1);
    }
    // Row y's B-centre depths, -infinity where there is none.
    float* CentreDepths(int32_t y) const {
        return centreDepths_.data() + static_cast<std::size_t>(y - top_) * static_cast<std::size_t>(width_);
    }

    // Row y's prefix sums of the B-centres' colours and count, and the
    // deepest B-centre within the widest half-width of each column. False
    // when the row holds no B-centre.
    bool PrepareRow(const DepthSpreadContext<Sum>& ctx, int32_t y) {
        const FrameView& f = ctx.f;
        const float* const depth = ctx.depth.Row(y);
        const float* const blurs = ctx.blurs.Row(y);
        float* const deepest = CentreDepths(y);
        SumCell<Window>* const prefix = Prefix(y);
        SumCell<Window> sum{};
        prefix[0] = sum;
        bool any = false;
        for (int32_t x = 0; x < f.width; ++x) {
            const std::size_t c = f.Index(x, y);
            const bool taken =
                PixelSelected(ctx.s, f.alpha[c], f.shadow[c], f.red[c], f.green[c], f.blue[c]) &&
                blurs[x] == blur_;
            if (taken) {
                sum.red = static_cast<Window>(sum.red + f.red[c]);
                sum.green = static_cast<Window>(sum.green + f.green[c]);
                sum.blue = static_cast<Window>(sum.blue + f.blue[c]);
                sum.count = static_cast<Window>(sum.count + 1);
                any = true;
            }
            // A B-centre's depth is never NaN: a NaN depth is in focus.
            deepest[x] = taken ? depth[x] : -HUGE_VALF;
            prefix[x + 1] = sum;
        }
        float* const m = RowMax(y);
        const int32_t w = f.width;
        for (int32_t x = 0; x < w; ++x) m[x] = deepest[x];
        const int32_t widest = profile_.MaxHalfWidth() < w ? profile_.MaxHalfWidth() : w - 1;
        for (int32_t d = 1; d <= widest; ++d) {
            ctx.kernels.raiseTo(m, deepest + d, w - d);
            ctx.kernels.raiseTo(m + d, deepest, w - d);
        }
        return any;
    }

    // acc[x] += the window x - hw .. x + hw of the prefix sums, clipped to
    // the row, four values a column side by side: three plain loops over
    // the flat values, the middle one on lanes for 16- and 32-bit windows.
    static void AddWindows(const DepthBlurKernels& kernels, Window* __restrict acc,
                           const Window* __restrict prefix, int32_t width, int32_t hw) {
        const int32_t leftEnd = hw < width ? hw : width;
        int32_t x = 0;
        for (; x < leftEnd; ++x) {
            const int32_t hi = width - 1 - x > hw ? x + hw + 1 : width;
            for (int v = 0; v < 4; ++v) {
                acc[4 * x + v] = static_cast<Window>(acc[4 * x + v] + prefix[4 * hi + v]);
            }
        }
        const int32_t middleEnd = width - hw;
        if (x < middleEnd) {
            const std::size_t i0 = 4 * static_cast<std::size_t>(x);
            const std::size_t i1 = 4 * static_cast<std::size_t>(middleEnd);
            const std::size_t ahead = 4 * (static_cast<std::size_t>(hw) + 1);
            const std::size_t behind = 4 * static_cast<std::size_t>(hw);
            if constexpr (std::is_same_v<Window, uint16_t>) {
                kernels.addWindows16(acc, prefix, i0, i1, ahead, behind);
            } else if constexpr (std::is_same_v<Window, uint32_t>) {
                kernels.addWindows32(acc, prefix, i0, i1, ahead, behind);
            } else {
                for (std::size_t i = i0; i < i1; ++i) {
                    acc[i] = static_cast<Window>(acc[i] +
                                                 static_cast<Window>(prefix[i + ahead] - prefix[i - behind]));
                }
            }
            x = middleEnd;
        }
        for (; x < width; ++x) {
            for (int v = 0; v < 4; ++v) {
                const Window window = static_cast<Window>(prefix[4 * width + v] - prefix[4 * (x - hw) + v]);
                acc[4 * x + v] = static_cast<Window>(acc[4 * x + v] + window);
            }
        }
    }

    // Each receiver of row yy takes the gathered totals by its rule.
    void Take(const DepthSpreadContext<Sum>& ctx, int32_t yy) {
        const FrameView& f = ctx.f;
        const float* const depth = ctx.depth.Row(yy);
        float* const receiving = scratch_.data();
        FillReceivingBlurs(f, ctx.s, ctx.p, depth, ctx.blurs.Row(yy), yy, receiving);
        SumCell<Sum>* const cells = ctx.sums.Row(yy);
        const double separator = ctx.p.DOFSeperator;
        for (int32_t x = 0; x < f.width; ++x) {
            const SumCell<Window>& t = totals_[static_cast<std::size_t>(x)];
            const float bn = receiving[x];
            // A receiver in focus (or unselected) takes its own colour from
            // every centre, so its average stays its colour whatever it
            // counts; one that takes no part takes nothing.
            if (t.count == 0 || !(bn > 0.0f)) continue;
            const bool hidden = static_cast<double>(depth[x]) + separator <
                                static_cast<double>(boxMax_[static_cast<std::size_t>(x)]);
            SumCell<Sum>& cell = cells[x];
            if (bn == blur_) {
                SumCell<Window> taken = t;
                if (hidden) LeaveOutHidden(ctx, x, yy, depth[x], taken);
                cell.red = static_cast<Sum>(static_cast<Mark>(cell.red) + taken.red);
                cell.green = static_cast<Sum>(static_cast<Mark>(cell.green) + taken.green);
                cell.blue = static_cast<Sum>(static_cast<Mark>(cell.blue) + taken.blue);
                cell.count = static_cast<Sum>(static_cast<Mark>(cell.count) + taken.count);
            } else {
                TakeOneByOne(ctx, x, yy, bn, depth[x], cell);
            }
        }
    }

    // Receiver (xx, yy), at the B-centres' blur and depth dn, takes each
    // B-centre's colour unmixed: the totals, less the B-centres that reach
    // it from more than the separator behind it.
    void LeaveOutHidden(const DepthSpreadContext<Sum>& ctx, int32_t xx, int32_t yy, float dn,
                        SumCell<Window>& taken) const {
        const FrameView& f = ctx.f;
        // depth > dn + separator (the sum in double) holds for a float depth
        // exactly when it holds against the largest float not above the sum.
        const double behind = static_cast<double>(dn) + static_cast<double>(ctx.p.DOFSeperator);
        float above = static_cast<float>(behind);
        if (static_cast<double>(above) > behind) above = std::nextafter(above, -HUGE_VALF);
        uint32_t hidden[4] = {};
        const int32_t reach = profile_.Reach();
        const int32_t from = yy > reach ? yy - reach : 0;
        const int32_t to = f.height - 1 - yy > reach ? yy + reach : f.height - 1;
        const std::size_t first = f.Index(0, from);
        const DeeperFootprint footprint{CentreDepths(from), f.red + first,
                                        f.green + first,    f.blue + first,
                                        halfWidths_.data(), static_cast<std::size_t>(f.width),
                                        to - from + 1,      f.width};
        ctx.kernels.addDeeper(footprint, xx, above, hidden);
        taken.red = static_cast<Window>(taken.red - hidden[0]);
        taken.green = static_cast<Window>(taken.green - hidden[1]);
        taken.blue = static_cast<Window>(taken.blue - hidden[2]);
        taken.count = static_cast<Window>(taken.count - hidden[3]);
    }

    // Receiver (xx, yy), with a blur bn of its own (above 0, not B's) and
    // depth dn, takes a mix from every B-centre that reaches it, by the
    // full rule.
    void TakeOneByOne(const DepthSpreadContext<Sum>& ctx, int32_t xx, int32_t yy, float bn, float dn,
                      SumCell<Sum>& cell) const {
        const FrameView& f = ctx.f;
        const double separator = ctx.p.DOFSeperator;
        const std::size_t n = f.Index(xx, yy);
        const float lo = bn < blur_ ? bn : blur_;
        const float hi = bn < blur_ ? blur_ : bn;
        const float t = static_cast<float>(static_cast<double>(lo) / static_cast<double>(hi));
        const float u = static_cast<float>(1.0 - static_cast<double>(t));
        const int32_t reach = profile_.Reach();
        const int32_t from = yy > reach ? yy - reach : 0;
        const int32_t to = f.height - 1 - yy > reach ? yy + reach : f.height - 1;
        for (int32_t y = from; y <= to; ++y) {
            const int32_t hw = profile_.HalfWidth(yy - profile_.Top(y));
            if (hw < 0) continue;
            const ColumnSpan span = FootprintColumns(xx, hw, f.width);
            const SumCell<Window>* const prefix = Prefix(y);
            const float* const depth = ctx.depth.Row(y);
            for (int32_t x = span.first; x <= span.last; ++x) {
                if (prefix[x + 1].count == prefix[x].count) continue;  // not a B-centre
                if (static_cast<double>(dn) + separator < static_cast<double>(depth[x])) continue;
                const std::size_t c = f.Index(x, y);
                cell.red += Mixed<Sum>(f.red[c], f.red[n], t, u);
                cell.green += Mixed<Sum>(f.green[c], f.green[n], t, u);
                cell.blue += Mixed<Sum>(f.blue[c], f.blue[n], t, u);
                cell.count += 1;
            }
        }
    }

    FootprintProfile profile_;
    Accumulators<Window> prefix_;
    platform::WorkingArray<float> rowMax_;
    platform::WorkingArray<float> centreDepths_;
    platform::WorkingArray<int32_t> halfWidths_;  // of the receiving row's centre rows, from the first
    Accumulators<Window> totals_;
    platform::WorkingArray<float> boxMax_;
    platform::WorkingArray<float> scratch_;
    platform::WorkingArray<bool> holds_;  // whether each row from top_ holds a B-centre
    float blur_ = 0.0f;
    int32_t width_ = 0;
    int32_t top_ = 0;
};

}  // namespace lumafex

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

#include <atomic>

#include "pipeline/final/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/strips.h"

namespace lumafex {

namespace {

// Left out as a receiver: no contribution, no count.
constexpr float kTakesNoPart = -1.0f;

// The blur each pixel of a row takes part with as a receiver. In Full Frame
// mode DOFBlurSide leaves out the far side (1) or the near side (2); in the
// other modes an unselected pixel counts as in focus.
void FillReceivingBlurs(const FrameView& f, const FilterSettings& s, const FrameParameters& p,
                        const float* depth, int32_t y, float* out) {
    for (int32_t x = 0; x < f.width; ++x) {
        const float d = depth[x];
        float b = 0.0f;
        if (s.FilterInclude == kIncludeFullFrame) {
            if (d >= p.FocalFar) {
                b = p.DOFBlurSide == 1 ? kTakesNoPart : DepthBlur(d, p);
            } else if (d < p.FocalNear) {
                b = p.DOFBlurSide == 2 ? kTakesNoPart : DepthBlur(d, p);
            }
        } else {
            const std::size_t n = f.Index(x, y);
            if (PixelSelected(s, f.alpha[n], f.shadow[n], f.red[n], f.green[n], f.blue[n])) {
                b = DepthBlur(d, p);
            }
        }
        out[x] = b;
    }
}

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

// What the spread of one frame works with.
template <typename Sum>
struct SpreadContext {
    const FrameView& f;
    const FilterSettings& s;
    const FrameParameters& p;
    const DepthRows& depth;
    FootprintProfile& footprint;
    NeighbourRows& receiving;
    SumCell<Sum>* cells;
    RunPrefix* prefix;  // width + 1 entries
};

// Runs of at least kShortestRun neighbouring centres with the same blur
// take their contributions to a footprint row together, in pieces of at
// most kLongestRun centres whose depths lie within half the separator of
// each other, so that the separator rarely tells them apart. How a row is
// cut into pieces never changes the result, only the speed.
constexpr int32_t kShortestRun = 4;
constexpr int32_t kLongestRun = 64;

// One centre's contributions to one footprint row.
template <typename Sum>
void SpreadRow(const SpreadContext<Sum>& ctx, int32_t x, int32_t y, int32_t yy, float bc,
               double dc) {
    const FrameView& f = ctx.f;
    const int32_t top = ctx.footprint.Top(y);
    const ColumnSpan span = FootprintColumns(x, ctx.footprint.HalfWidth(yy - top), f.width);
    if (span.first > span.last) return;
    const std::size_t c = f.Index(x, y);
    const uint8_t cr = f.red[c];
    const uint8_t cg = f.green[c];
    const uint8_t cb = f.blue[c];
    const double separator = ctx.p.DOFSeperator;
    const std::size_t row = f.Index(0, yy);
    SumCell<Sum>* const rowCells = ctx.cells + row;
    const NeighbourRow& near = ctx.receiving.Near(yy);
    if (near.Uniform(span.first, span.last, bc, dc, separator)) {
        // Every pixel of the span takes the centre's colour.
        for (int32_t xx = span.first; xx <= span.last; ++xx) {
            SumCell<Sum>& cell = rowCells[xx];
            cell.red += cr;
            cell.green += cg;
            cell.blue += cb;
            cell.count += 1;
        }
        return;
    }
    const float* const rowDepth = ctx.depth.Row(yy);
    const float* const rowBlur = near.blur;
    for (int32_t xx = span.first; xx <= span.last; ++xx) {
        // The separator rule, the sum in double and not rounded.
        if (static_cast<double>(rowDepth[xx]) + separator < dc) continue;
        const float bn = rowBlur[xx];
        if (bn < 0.0f) continue;
        const std::size_t n = row + static_cast<std::size_t>(xx);
        SumCell<Sum>& cell = rowCells[xx];
        if (bn == bc) {
            // t = 1, u = 0: the centre's colour, exactly.
            cell.red += cr;
            cell.green += cg;
            cell.blue += cb;
        } else if (bn == 0.0f) {
            // t = 0, u = 1: the neighbour's own colour, exactly.
            cell.red += f.red[n];
            cell.green += f.green[n];
            cell.blue += f.blue[n];
        } else {
            // t = min / max rounded to single, u = 1 - t in single.
            const float lo = bn < bc ? bn : bc;
            const float hi = bn < bc ? bc : bn;
            const float t = static_cast<float>(static_cast<double>(lo) / static_cast<double>(hi));
            const float u = static_cast<float>(1.0 - static_cast<double>(t));
            cell.red += Mixed<Sum>(cr, f.red[n], t, u);
            cell.green += Mixed<Sum>(cg, f.green[n], t, u);
            cell.blue += Mixed<Sum>(cb, f.blue[n], t, u);
        }
        cell.count += 1;
    }
}

// The centres first..last of row y, all with blur bc, spread over one
// footprint row. When every pixel the run reaches in that row shares its
// blur and passes the separator for the deepest of its centres, every
// pixel takes the unmixed colours of the centres within the half-width of
// it, whose sums come from the run's prefix sums; otherwise the centres
// are spread one by one.
template <typename Sum>
void SpreadRunRow(const SpreadContext<Sum>& ctx, int32_t first, int32_t last, int32_t y,
                  int32_t yy, float bc, double deepest) {
    const FrameView& f = ctx.f;
    const int32_t hw = ctx.footprint.HalfWidth(yy - ctx.footprint.Top(y));
    if (hw < 0) return;
    const int32_t from = FootprintColumns(first, hw, f.width).first;
    const int32_t to = FootprintColumns(last, hw, f.width).last;
    if (!ctx.receiving.Near(yy).Uniform(from, to, bc, deepest, ctx.p.DOFSeperator)) {
        const float* const centreDepth = ctx.depth.Row(y);
        for (int32_t x = first; x <= last; ++x) SpreadRow(ctx, x, y, yy, bc, centreDepth[x]);
        return;
    }
    SumCell<Sum>* const rowCells = ctx.cells + f.Index(0, yy);
    for (int32_t xx = from; xx <= to; ++xx) {
        // The centres whose spans hold xx: within hw of it, in the run.
        const int32_t lo = xx - first > hw ? xx - hw : first;
        const int32_t hi = last - xx > hw ? xx + hw : last;
        const RunPrefix& a = ctx.prefix[lo];
        const RunPrefix& b = ctx.prefix[static_cast<std::size_t>(hi) + 1];
        SumCell<Sum>& cell = rowCells[xx];
        cell.red += static_cast<Sum>(b.red - a.red);
        cell.green += static_cast<Sum>(b.green - a.green);
        cell.blue += static_cast<Sum>(b.blue - a.blue);
        cell.count += static_cast<Sum>(hi - lo + 1);
    }
}

// Spreads the centres whose footprints reach the rows first .. end-1 into
// those rows only.
template <typename Sum>
void Spread(const SpreadContext<Sum>& ctx, int32_t first, int32_t end) {
    const FrameView& f = ctx.f;
    const FilterSettings& s = ctx.s;
    const FrameParameters& p = ctx.p;
    const int32_t reach = FootprintReach(LargestDepthBlur(p), f.height);
    const int32_t yFrom = first > reach ? first - reach : 0;
    const int32_t yTo = f.height - end > reach ? end - 1 + reach : f.height - 1;
    ctx.receiving.Begin(yFrom);
    for (int32_t y = yFrom; y <= yTo; ++y) {
        ctx.receiving.Advance(y, ctx.depth, [&](int32_t row, float* out) {
            FillReceivingBlurs(f, s, p, ctx.depth.Row(row), row, out);
        });
        const float* const centreDepth = ctx.depth.Row(y);
        // A centre's blur, or 0 for a pixel that spreads nothing.
        auto centreBlur = [&](int32_t x) {
            const std::size_t c = f.Index(x, y);
            if (!PixelSelected(s, f.alpha[c], f.shadow[c], f.red[c], f.green[c], f.blue[c])) {
                return 0.0f;
            }
            return DepthBlur(centreDepth[x], p);
        };
        for (int32_t x = 0; x < f.width; ++x) {
            const float bc = centreBlur(x);
            if (!(bc > 0.0f)) continue;
            ctx.footprint.Set(bc, kSofterAngleConstant);
            // The footprint's rows, cut to the strip.
            const int32_t top = ctx.footprint.Top(y) > first ? ctx.footprint.Top(y) : first;
            const int32_t bottom =
                ctx.footprint.Bottom(y) < end - 1 ? ctx.footprint.Bottom(y) : end - 1;
            // The run of neighbouring centres that share this blur.
            int32_t last = x;
            const double spread = 0.5 * static_cast<double>(p.DOFSeperator);
            double shallowest = centreDepth[x];
            double deepest = shallowest;
            while (last + 1 < f.width && last - x + 1 < kLongestRun &&
                   centreBlur(last + 1) == bc) {
                const double d = centreDepth[last + 1];
                const double lo = d < shallowest ? d : shallowest;
                const double hi = d > deepest ? d : deepest;
                if (!(hi - lo <= spread)) break;
                shallowest = lo;
                deepest = hi;
                ++last;
            }
            if (last - x + 1 < kShortestRun) {
                for (int32_t xc = x; xc <= last; ++xc) {
                    for (int32_t yy = top; yy <= bottom; ++yy) {
                        SpreadRow(ctx, xc, y, yy, bc, centreDepth[xc]);
                    }
                }
            } else {
                RunPrefix sum{};
                ctx.prefix[x] = sum;
                for (int32_t xc = x; xc <= last; ++xc) {
                    const std::size_t c = f.Index(xc, y);
                    sum.red += f.red[c];
                    sum.green += f.green[c];
                    sum.blue += f.blue[c];
                    ctx.prefix[static_cast<std::size_t>(xc) + 1] = sum;
                }
                for (int32_t yy = top; yy <= bottom; ++yy) {
                    SpreadRunRow(ctx, x, last, y, yy, bc, deepest);
                }
            }
            x = last;
        }
    }
}

template <typename Sum>
[[nodiscard]] bool Run(const FrameView& f, const FilterSettings& s, const FrameParameters& p) {
    // The large array first: when it cannot be had, nothing else is asked of
    // the host or the heap.
    Accumulators<Sum> acc = Accumulators<Sum>::Allocate(f.PixelCount());
    if (!acc) return false;
    const int32_t reach = FootprintReach(LargestDepthBlur(p), f.height);
    DepthRows depth;
    if (!depth.Fetch(f)) return false;

    SumCell<Sum>* const cells = acc.data();
    // Taller strips: each strip goes again over the centre rows within
    // reach above and below it.
    const RowStrips strips = RowStrips::For(f.width, f.height, kDepthStripPixels);
    ForEachStrip(strips, [&](int32_t first, int32_t end) {
        const std::size_t o = f.Index(0, first);
        SeedSums(f.red + o, f.green + o, f.blue + o, f.Index(0, end) - o, cells + o);
    });
    // A mode outside 0..4 selects no centre.
    if (s.FilterInclude >= kIncludeObjects && s.FilterInclude <= kIncludeColorRange) {
        // Each thread keeps its own footprint, receiving rows and run sums.
        StripQueue queue(strips);
        std::atomic<bool> failed{false};
        ForEachTask(queue.Workers(), [&](int32_t) {
            FootprintProfile footprint;
            NeighbourRows receiving;
            auto prefix = platform::WorkingArray<RunPrefix>::Allocate(
                static_cast<std::size_t>(f.width) + 1);
            if (!prefix || !footprint.Reserve(f.width, f.height, reach) ||
                !receiving.Reserve(f.width, f.height, reach)) {
                failed = true;
                return;
            }
            const SpreadContext<Sum> ctx{f, s, p, depth, footprint, receiving, cells,
                                         prefix.data()};
            int32_t first = 0;
            int32_t end = 0;
            while (queue.Next(first, end)) Spread(ctx, first, end);
        });
        if (failed) return false;
    }
    ForEachStrip(strips, [&](int32_t first, int32_t end) {
        const std::size_t o = f.Index(0, first);
        WriteAverages(cells + o, f.Index(0, end) - o, f.red + o, f.green + o, f.blue + o);
    });
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

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
// of its own, so the result does not depend on the order of the additions:
// a span of a footprint row whose pixels all take the centre's colour
// unmixed is added as two marks, the colour at its first column and its
// negation after its last, and one running sum along each row turns the
// marks into totals. So a wide span costs no more than a narrow one, which
// bounds the cost of blurs as wide as the frame.
//
// The centres at the blur limit, most of a typical frame's out-of-focus
// ones, are gathered instead (limit_gather.h). The frame is cut into strips of
// receiving rows, worked on by the threads: each strip's sums are its own,
// and its averages go to its rows of a result copy that replaces the colour
// planes once every strip is done.
#include "pipeline/passes/dof_blur.h"

#include <atomic>
#include <type_traits>

#include "pipeline/frame/selection.h"
#include "pipeline/frame/strips.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/dof_blur_kernels.h"
#include "pipeline/passes/dof_spread_context.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/passes/limit_gather.h"
#include "pipeline/passes/span_marks.h"

namespace lumafex {

namespace {

// Runs of at least kShortestRun neighbouring centres with the same blur
// take their contributions to a footprint row together, in pieces of at
// most kLongestRun centres whose depths lie within half the separator of
// each other, so that the separator rarely tells them apart. How a row is
// cut into pieces never changes the result, only the speed.
constexpr int32_t kShortestRun = 4;
constexpr int32_t kLongestRun = 64;

// The centre's contribution (colour cr, cg, cb, blur bc, depth dc) to the
// receiver n of a row (depth dn, receiving blur bn, colour at n), by the
// full rule.
template <typename Sum>
void Contribute(const FrameView& f, SumCell<Sum>& cell, std::size_t n, float dn, float bn, float bc, double dc,
                double separator, uint8_t cr, uint8_t cg, uint8_t cb) {
    // The separator rule, the sum in double and not rounded.
    if (static_cast<double>(dn) + separator < dc) return;
    if (bn < 0.0f) return;
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

// Footprint rows whose spans a centre hands to the kernel at once.
constexpr int32_t kSpansAtOnce = 16;

// The values of the strip's receiving rows the mixed contributions read,
// once for all its centres: each row keeps its place in the receiving
// rows' ring while centres reach it.
template <typename Sum>
void FindReceivingRows(const DepthSpreadContext<Sum>& ctx, int32_t first, int32_t end) {
    const FrameView& f = ctx.f;
    for (int32_t yy = first; yy < end; ++yy) {
        const std::size_t row = f.Index(0, yy);
        SumCell<int32_t>* cells = nullptr;
        if constexpr (std::is_same_v<Sum, int32_t>) cells = ctx.sums.Row(yy);
        ctx.receivingRows[yy - first] = {ctx.depth.Row(yy), ctx.receiving.Blur(yy), f.red + row,
                                         f.green + row,      f.blue + row,          cells};
    }
}

// A centre's contributions to the spans of its rows `rows`: several
// receivers at a time where the sums are 32-bit, the rest one by one.
template <typename Sum>
void MixSpans(const DepthSpreadContext<Sum>& ctx, MixingSpan* spans, const int32_t* rows, int32_t count,
              const MixingCentre& centre) {
    if (count == 0) return;
    const FrameView& f = ctx.f;
    const double separator = ctx.p.DOFSeperator;
    if constexpr (std::is_same_v<Sum, int32_t>) ctx.kernels.mix(spans, count, centre, separator, f.width);
    for (int32_t i = 0; i < count; ++i) {
        const MixingSpan& span = spans[i];
        const std::size_t row = f.Index(0, rows[i]);
        SumCell<Sum>* const rowCells = ctx.sums.Row(rows[i]);
        for (int32_t xx = span.first; xx <= span.last; ++xx) {
            Contribute(f, rowCells[xx], row + static_cast<std::size_t>(xx), span.row->depth[xx],
                       span.row->blur[xx], centre.blur, centre.depth, separator, centre.red, centre.green,
                       centre.blue);
        }
    }
}

// The contributions of centre x of row y to its footprint rows top ..
// bottom.
template <typename Sum>
void SpreadCentre(const DepthSpreadContext<Sum>& ctx, int32_t x, int32_t y, int32_t top, int32_t bottom,
                  float bc, double dc) {
    const FrameView& f = ctx.f;
    const std::size_t c = f.Index(x, y);
    const MixingCentre centre{bc, dc, f.red[c], f.green[c], f.blue[c]};
    const int32_t firstRow = ctx.footprint.Top(y);
    MixingSpan spans[kSpansAtOnce];
    int32_t rows[kSpansAtOnce];
    int32_t count = 0;
    for (int32_t yy = top; yy <= bottom; ++yy) {
        const ColumnSpan span = FootprintColumns(x, ctx.footprint.HalfWidth(yy - firstRow), f.width);
        if (span.first > span.last) continue;
        if (ctx.receiving.Near(yy).Uniform(span.first, span.last, bc, dc, ctx.p.DOFSeperator)) {
            // Every pixel of the span takes the centre's colour.
            ctx.marks.Add(yy, span.first, span.last, centre.red, centre.green, centre.blue);
            continue;
        }
        rows[count] = yy;
        spans[count++] = MixingSpan{&ctx.receivingRows[yy - ctx.sums.First()], span.first, span.last};
        if (count == kSpansAtOnce) {
            MixSpans(ctx, spans, rows, count, centre);
            count = 0;
        }
    }
    MixSpans(ctx, spans, rows, count, centre);
}

// The centres first..last of row y, all with blur bc, spread over one
// footprint row. When every pixel the run reaches in that row shares its
// blur and passes the separator for the deepest of its centres, every
// pixel takes the unmixed colours of the centres within the half-width of
// it: for rows no wider than twice the run, their sums come from the run's
// prefix sums, and wider rows take each centre's span as marks. Otherwise
// the centres are spread one by one.
template <typename Sum>
void SpreadRunRow(const DepthSpreadContext<Sum>& ctx, int32_t first, int32_t last, int32_t y, int32_t yy,
                  float bc, double deepest) {
    const FrameView& f = ctx.f;
    const int32_t hw = ctx.footprint.HalfWidth(yy - ctx.footprint.Top(y));
    if (hw < 0) return;
    const int32_t from = FootprintColumns(first, hw, f.width).first;
    const int32_t to = FootprintColumns(last, hw, f.width).last;
    if (!ctx.receiving.Near(yy).Uniform(from, to, bc, deepest, ctx.p.DOFSeperator)) {
        const float* const centreDepth = ctx.depth.Row(y);
        for (int32_t x = first; x <= last; ++x) SpreadCentre(ctx, x, y, yy, yy, bc, centreDepth[x]);
        return;
    }
    if (to - from > 2 * (last - first + 1)) {
        const std::size_t row = f.Index(0, y);
        const uint8_t* const colours[3] = {f.red + row, f.green + row, f.blue + row};
        ctx.marks.AddRun(yy, first, last, hw, colours);
        return;
    }
    SumCell<Sum>* const rowCells = ctx.sums.Row(yy);
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

// Each centre's blur in row y (ctx.centreBlurs), or 0 for a pixel that
// spreads nothing here. False when the row spreads nothing.
template <typename Sum>
bool FillCentreBlurs(const DepthSpreadContext<Sum>& ctx, int32_t y) {
    const FrameView& f = ctx.f;
    const float* const depthBlurs = ctx.blurs.Row(y);
    float* const blurs = ctx.centreBlurs;
    bool any = false;
    for (int32_t x = 0; x < f.width; ++x) {
        const std::size_t c = f.Index(x, y);
        float b = 0.0f;
        if (PixelSelected(ctx.s, f.alpha[c], f.shadow[c], f.red[c], f.green[c], f.blue[c])) {
            b = depthBlurs[x];
            if (b == ctx.gathered) b = 0.0f;
        }
        blurs[x] = b;
        any = any || b > 0.0f;
    }
    return any;
}

// The centres x .. last of row y, all with blur bc, spread over the
// footprint rows top .. bottom: one by one when the run is short, else
// together from the run's prefix sums. deepest: the deepest of them.
template <typename Sum>
void SpreadRun(const DepthSpreadContext<Sum>& ctx, int32_t x, int32_t last, int32_t y, int32_t top,
               int32_t bottom, float bc, double deepest) {
    const FrameView& f = ctx.f;
    if (last - x + 1 < kShortestRun) {
        const float* const centreDepth = ctx.depth.Row(y);
        for (int32_t xc = x; xc <= last; ++xc) SpreadCentre(ctx, xc, y, top, bottom, bc, centreDepth[xc]);
        return;
    }
    RunPrefix sum{};
    ctx.prefix[x] = sum;
    for (int32_t xc = x; xc <= last; ++xc) {
        const std::size_t c = f.Index(xc, y);
        sum.red += f.red[c];
        sum.green += f.green[c];
        sum.blue += f.blue[c];
        ctx.prefix[static_cast<std::size_t>(xc) + 1] = sum;
    }
    for (int32_t yy = top; yy <= bottom; ++yy) SpreadRunRow(ctx, x, last, y, yy, bc, deepest);
}

// Spreads the centres whose footprints reach the rows first .. end-1 into
// those rows only, but for those LimitGather takes.
template <typename Sum>
void Spread(const DepthSpreadContext<Sum>& ctx, int32_t first, int32_t end) {
    const FrameView& f = ctx.f;
    const FrameParameters& p = ctx.p;
    const int32_t reach = FootprintReach(LargestDepthBlur(p), f.height);
    const int32_t yFrom = first > reach ? first - reach : 0;
    const int32_t yTo = f.height - end > reach ? end - 1 + reach : f.height - 1;
    ctx.receiving.Begin(yFrom);
    FindReceivingRows(ctx, first, end);
    for (int32_t y = yFrom; y <= yTo; ++y) {
        if (!FillCentreBlurs(ctx, y)) continue;
        ctx.receiving.Advance(y, ctx.depth, [&](int32_t row, float* out) {
            FillReceivingBlurs(f, ctx.s, p, ctx.depth.Row(row), ctx.blurs.Row(row), row, out);
        });
        const float* const centreDepth = ctx.depth.Row(y);
        const float* const blurs = ctx.centreBlurs;
        for (int32_t x = 0; x < f.width; ++x) {
            const float bc = blurs[x];
            if (!(bc > 0.0f)) continue;
            if (bc < 1.0f) {
                // Reach 0 and half-width r x sin(angle) below 1: the centre
                // reaches only itself.
                if (y >= first && y < end) {
                    const std::size_t c = f.Index(x, y);
                    Contribute(f, ctx.sums.Row(y)[x], c, centreDepth[x], ctx.receiving.Near(y).blur[x], bc,
                               centreDepth[x], p.DOFSeperator, f.red[c], f.green[c], f.blue[c]);
                }
                continue;
            }
            ctx.footprint.Set(bc, kSofterAngleConstant);
            // The footprint's rows, cut to the strip.
            const int32_t top = ctx.footprint.Top(y) > first ? ctx.footprint.Top(y) : first;
            const int32_t bottom = ctx.footprint.Bottom(y) < end - 1 ? ctx.footprint.Bottom(y) : end - 1;
            // The run of neighbouring centres that share this blur.
            int32_t last = x;
            const double spread = 0.5 * static_cast<double>(p.DOFSeperator);
            double shallowest = centreDepth[x];
            double deepest = shallowest;
            while (last + 1 < f.width && last - x + 1 < kLongestRun && blurs[last + 1] == bc) {
                const double d = centreDepth[last + 1];
                const double lo = d < shallowest ? d : shallowest;
                const double hi = d > deepest ? d : deepest;
                if (!(hi - lo <= spread)) break;
                shallowest = lo;
                deepest = hi;
                ++last;
            }
            SpreadRun(ctx, x, last, y, top, bottom, bc, deepest);
            x = last;
        }
    }
}

template <typename Sum>
bool Run(const FrameView& f, const FilterSettings& s, const FrameParameters& p) {
    // The averaged planes first: when they cannot be had, nothing else is
    // asked of the host or the heap.
    ResultPlanes result;
    if (!result.Allocate(f.PixelCount())) return false;
    const int32_t reach = FootprintReach(LargestDepthBlur(p), f.height);
    DepthRows depth;
    if (!depth.Fetch(f)) return false;
    // A mode outside 0..4 selects no centre: the frame stays as it is.
    if (s.FilterInclude < kIncludeObjects || s.FilterInclude > kIncludeColorRange) return true;
    BlurPlane blurs;
    if (!blurs.Fill(f, depth, p)) return false;
    const DepthBlurKernels kernels = ChooseDepthBlurKernels(p.instructionSet);

    // Taller strips: each strip goes again over the centre rows within
    // reach above and below it.
    const RowStrips strips = RowStrips::For(f.width, f.height, kDepthStripPixels);
    // Each thread keeps its own sums, marks, footprint, receiving rows and
    // run sums, and takes strip after strip.
    StripQueue queue(strips);
    std::atomic<bool> failed{false};
    ForEachTask(queue.Workers(), [&](int32_t) {
        FootprintProfile footprint;
        NeighbourRows receiving;
        StripSums<Sum> sums;
        SpanMarks<Sum> marks;
        auto prefix = platform::WorkingArray<RunPrefix>::Allocate(static_cast<std::size_t>(f.width) + 1);
        auto centreBlurs = platform::WorkingArray<float>::Allocate(static_cast<std::size_t>(f.width));
        auto receivingRows =
            platform::WorkingArray<ReceivingRow>::Allocate(static_cast<std::size_t>(strips.perStrip));
        LimitGather<Sum> gather;
        LimitGather<Sum, uint16_t> shortGather;
        const float gathered = LimitGather<Sum>::Chosen(p);
        const bool shortWindows = gathered > 0.0f && LimitGather<Sum>::FitsShortWindows(gathered);
        if (!prefix || !centreBlurs || !receivingRows || !sums.Reserve(f.width, strips.perStrip) ||
            (shortWindows && !shortGather.Reserve(f.width, f.height, strips.perStrip, gathered)) ||
            (gathered > 0.0f && !shortWindows &&
             !gather.Reserve(f.width, f.height, strips.perStrip, gathered)) ||
            !marks.Reserve(f.width, strips.perStrip) ||
            !footprint.Reserve(f.width, f.height, reach, p.instructionSet) || !footprint.KeepRecent() ||
            !receiving.Reserve(f.width, f.height, reach)) {
            failed = true;
            return;
        }
        const DepthSpreadContext<Sum> ctx{f,
                                          s,
                                          p,
                                          depth,
                                          blurs,
                                          footprint,
                                          receiving,
                                          sums,
                                          marks,
                                          prefix.data(),
                                          centreBlurs.data(),
                                          receivingRows.data(),
                                          gathered,
                                          kernels};
        int32_t first = 0;
        int32_t end = 0;
        while (!failed && queue.Next(first, end)) {
            sums.Begin(f, first, end);
            marks.Begin(first);
            if (shortWindows) {
                shortGather.Gather(ctx, first, end);
            } else if (gathered > 0.0f) {
                gather.Gather(ctx, first, end);
            }
            Spread(ctx, first, end);
            marks.AddTo(sums);
            sums.WriteTo(f, result, std::is_same_v<Sum, int32_t> ? kernels.averages : nullptr);
        }
    });
    if (failed) return false;
    result.CopyTo(f);
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

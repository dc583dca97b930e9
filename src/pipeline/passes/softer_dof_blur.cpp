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

#include <atomic>

#include "pipeline/frame/byte_math.h"
#include "pipeline/frame/selection.h"
#include "pipeline/frame/strips.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/passes/footprint_weights.h"
#include "pipeline/passes/softer_dof_kernels.h"
#include "pipeline/passes/softer_weights.h"

namespace lumafex {

namespace {

// A centre's colour as AddWeighted takes it: red, green, blue and 1.
using RunColour = double[4];

// What the spread of one frame works with.
struct SpreadContext {
    const FrameView& f;
    const FilterSettings& s;
    const FrameParameters& p;
    const DepthRows& depth;
    FootprintProfile& footprint;
    FootprintWeights& weights;
    NeighbourRows& blurs;
    StripSums<float>& sums;  // the current strip's
    RunColour* runColours;   // one per column
    float (*runSingles)[4];  // the same in single precision, for the fused form
    float* runDeepest;       // one per column, then two working rows as long
    bool fused;              // whether runs add with the fused multiply-add
    const SofterDepthKernels& kernels;
};

// Runs of neighbouring centres with the same blur are spread row by row,
// receiver by receiver, in pieces of at most kLongestRun centres. That pays
// only where a piece is long enough for receivers to be taken side by side,
// so shorter pieces are spread centre by centre. How a row is cut into
// pieces never changes the result, only the speed.
constexpr int32_t kLongestRun = 4096;

// One centre's contributions to one footprint row. Objects Only limits how
// much of the centre's colour a receiver takes by its weight as well:
// a = min(1, t x w); the other modes take a = t.
template <bool ObjectsOnly>
void SpreadRow(const SpreadContext& ctx, int32_t x, int32_t y, int32_t yy, float bc, double dc) {
    const FrameView& f = ctx.f;
    const FootprintProfile& footprint = ctx.footprint;
    const float* w;
    int32_t centre;
    const int32_t top = footprint.Top(y);
    const int32_t reach = ctx.weights.Row(bc, yy - y, footprint.HalfWidth(yy - top), w, centre);
    if (reach < 0) return;  // nothing in this row lies within bc
    const ColumnSpan span = FootprintColumns(x, reach, f.width);
    const std::size_t c = f.Index(x, y);
    const double cr = f.red[c];
    const double cg = f.green[c];
    const double cb = f.blue[c];
    const double colour[4] = {cr, cg, cb, 1.0};
    const double separator = ctx.p.DOFSeperator;
    SumCell<float>* const rowCells = ctx.sums.Row(yy);
    const int32_t base = centre - x;  // w[base + xx] is the weight at column xx
    const NeighbourRow& near = ctx.blurs.Near(yy);
    if (!ObjectsOnly && near.Uniform(span.first, span.last, bc, dc, separator)) {
        // Every pixel of the span shares the centre's blur (t = 1, so a = 1):
        // each takes c x w, exactly as below.
        for (int32_t xx = span.first; xx <= span.last; ++xx) {
            AddWeighted(rowCells[xx], colour, w[base + xx]);
        }
        return;
    }
    const float* const rowDepth = ctx.depth.Row(yy);
    const float* const rowBlur = near.blur;
    for (int32_t xx = span.first; xx <= span.last; ++xx) {
        // The separator rule, the sum in double and not rounded.
        if (static_cast<double>(rowDepth[xx]) + separator < dc) continue;
        const float weight = w[base + xx];
        const float bn = rowBlur[xx];
        // t = min / max rounded to single: 1 for equal blurs, 0 for an
        // in-focus neighbour.
        float t;
        if (bn == bc) {
            t = 1.0f;
        } else {
            const float lo = bn < bc ? bn : bc;
            const float hi = bn < bc ? bc : bn;
            t = static_cast<float>(static_cast<double>(lo) / static_cast<double>(hi));
        }
        float a = t;
        if constexpr (ObjectsOnly) {
            const double tw = static_cast<double>(t) * static_cast<double>(weight);
            a = static_cast<float>(tw < 1.0 ? tw : 1.0);
        }
        const double wd = weight;
        SumCell<float>& cell = rowCells[xx];
        if (a == 1.0f) {
            // (c x 1 + own x 0) x w is exactly c x w.
            AddWeighted(cell, colour, wd);
        } else {
            // (c x a + own x (1 - a)) x w, 1 - a in single; with a = 0 this
            // is exactly own x w.
            const double ad = a;
            const double bd = static_cast<float>(1.0 - ad);
            const std::size_t n = f.Index(xx, yy);
            const double mixed[4] = {cr * ad + f.red[n] * bd, cg * ad + f.green[n] * bd,
                                     cb * ad + f.blue[n] * bd, 1.0};
            AddWeighted(cell, mixed, wd);
        }
    }
}

// The centres first..last of row y, all with blur bc, spread over one
// footprint row, gathered receiver by receiver: each receiver takes the
// run's centres within reach of it from left to right, the order in which
// centre by centre would add them. A receiver that shares the run's blur
// and lies more than the separator in front of none of those centres
// takes each one's colour unmixed (c x w); stretches of such receivers
// whose centres all belong to the run go through AddWeightedRun, side by
// side. Every other receiver takes the centres one by one by the full rule.
void SpreadRunRow(const SpreadContext& ctx, int32_t first, int32_t last, int32_t y, int32_t yy, float bc) {
    const FrameView& f = ctx.f;
    const FootprintProfile& footprint = ctx.footprint;
    const float* w;
    int32_t centre;
    const int32_t top = footprint.Top(y);
    const int32_t reach = ctx.weights.Row(bc, yy - y, footprint.HalfWidth(yy - top), w, centre);
    if (reach < 0) return;
    const int32_t from = FootprintColumns(first, reach, f.width).first;
    const int32_t to = FootprintColumns(last, reach, f.width).last;
    const float* const rowDepth = ctx.depth.Row(yy);
    const float* const rowBlur = ctx.blurs.Near(yy).blur;
    const float* const centreDepth = ctx.depth.Row(y);
    const double separator = ctx.p.DOFSeperator;
    SumCell<float>* const rowCells = ctx.sums.Row(yy);
    // Receivers that may take part in a stretch: all their centres belong
    // to the run.
    const int32_t plainFrom = first + reach;
    const int32_t plainEnd = (to < last - reach ? to : last - reach) + 1;
    for (int32_t xx = from; xx <= to; ++xx) {
        const int32_t stretch =
            xx >= plainFrom && xx < plainEnd
                ? ctx.kernels.plainStretchEnd(rowBlur, rowDepth, ctx.runDeepest, bc, separator, xx, plainEnd)
                : xx;
        if (stretch > xx) {
            if (ctx.fused) {
                ctx.kernels.addRunFused(rowCells + xx, ctx.runSingles + xx, w + centre, reach, stretch - xx);
            } else {
                ctx.kernels.addRun(rowCells + xx, ctx.runColours + xx, w + centre, reach, stretch - xx);
            }
            xx = stretch - 1;
            continue;
        }
        // The centres whose spans hold xx: within reach of it, in the run.
        const int32_t lo = xx - first > reach ? xx - reach : first;
        const int32_t hi = last - xx > reach ? xx + reach : last;
        const double receiver = static_cast<double>(rowDepth[xx]) + separator;
        const float bn = rowBlur[xx];
        // t = min / max rounded to single: 1 for equal blurs, 0 for an
        // in-focus receiver.
        float t = 1.0f;
        if (bn != bc) {
            const float small = bn < bc ? bn : bc;
            const float large = bn < bc ? bc : bn;
            t = static_cast<float>(static_cast<double>(small) / static_cast<double>(large));
        }
        const double ad = t;
        const double bd = static_cast<float>(1.0 - ad);
        const std::size_t n = f.Index(xx, yy);
        SumCell<float> sums = rowCells[xx];
        for (int32_t x = lo; x <= hi; ++x) {
            // The separator rule, the sum in double and not rounded.
            if (receiver < static_cast<double>(centreDepth[x])) continue;
            const double weight = w[centre + xx - x];
            if (t == 1.0f) {
                AddWeighted(sums, ctx.runColours[x], weight);
            } else {
                const RunColour& c = ctx.runColours[x];
                const double mixed[4] = {c[0] * ad + f.red[n] * bd, c[1] * ad + f.green[n] * bd,
                                         c[2] * ad + f.blue[n] * bd, 1.0};
                AddWeighted(sums, mixed, weight);
            }
        }
        rowCells[xx] = sums;
    }
}

// deepest[xx] for xx = from .. to: the deepest of depth[lo .. hi], the
// centres first .. last within reach of xx, leaving NaN depths out (-inf
// when nothing is left). The centres go in blocks of 2 x reach + 1 from
// first: ahead[x] is the deepest of x's block up to x, behind[x] that from
// x to the block's end (or last). A window of at most a block's length
// spans one block or two neighbouring ones: across two, its deepest is
// behind[lo] and ahead[hi] together; within one, it starts at the block's
// start or ends at last (only a window cut by an end of the run is
// shorter), and one of the two is all of it. Three looks at each centre
// instead of one for every centre within reach of every column. Only
// comparisons read the result, so which of two equal zeros it is does not
// matter.
void DeepestInReach(const float* depth, int32_t first, int32_t last, int32_t reach, int32_t from, int32_t to,
                    float* ahead, float* behind, float* deepest) {
    const int64_t block = 2 * static_cast<int64_t>(reach) + 1;
    auto known = [](float v) { return v == v ? v : -HUGE_VALF; };
    for (int64_t start = first; start <= last; start += block) {
        const auto b = static_cast<int32_t>(start);
        const int32_t e = last - start >= block ? static_cast<int32_t>(start + block - 1) : last;
        float most = -HUGE_VALF;
        for (int32_t x = b; x <= e; ++x) {
            most = known(depth[x]) > most ? known(depth[x]) : most;
            ahead[x] = most;
        }
        most = -HUGE_VALF;
        for (int32_t x = e; x >= b; --x) {
            most = known(depth[x]) > most ? known(depth[x]) : most;
            behind[x] = most;
        }
    }
    // The last column of lo's block and of hi's, as the window moves right.
    int64_t loEnd = first + block - 1;
    int64_t hiEnd = loEnd;
    for (int32_t xx = from; xx <= to; ++xx) {
        const int32_t lo = xx - first > reach ? xx - reach : first;
        const int32_t hi = last - xx > reach ? xx + reach : last;
        while (lo > loEnd) loEnd += block;
        while (hi > hiEnd) hiEnd += block;
        if (loEnd != hiEnd) {
            deepest[xx] = behind[lo] > ahead[hi] ? behind[lo] : ahead[hi];
        } else {
            deepest[xx] = lo == loEnd - block + 1 ? ahead[hi] : behind[lo];
        }
    }
}

// Spreads the centres whose footprints reach the rows first .. end-1 into
// those rows only, in the same order as over the whole frame.
template <bool ObjectsOnly>
void Spread(const SpreadContext& ctx, int32_t first, int32_t end) {
    const FrameView& f = ctx.f;
    const FrameParameters& p = ctx.p;
    const int32_t reach = FootprintReach(LargestDepthBlur(p), f.height);
    const int32_t yFrom = first > reach ? first - reach : 0;
    const int32_t yTo = f.height - end > reach ? end - 1 + reach : f.height - 1;
    ctx.blurs.Begin(yFrom);
    for (int32_t y = yFrom; y <= yTo; ++y) {
        ctx.blurs.Advance(y, ctx.depth, [&](int32_t row, float* out) {
            const float* const d = ctx.depth.Row(row);
            for (int32_t x = 0; x < f.width; ++x) out[x] = DepthBlur(d[x], p);
        });
        const float* const centreBlur = ctx.blurs.Blur(y);
        const float* const centreDepth = ctx.depth.Row(y);
        auto isCentre = [&](int32_t x) {
            const std::size_t c = f.Index(x, y);
            return centreBlur[x] > 0.0f &&
                   PixelSelected(ctx.s, f.alpha[c], f.shadow[c], f.red[c], f.green[c], f.blue[c]);
        };
        for (int32_t x = 0; x < f.width; ++x) {
            if (!isCentre(x)) continue;
            const float bc = centreBlur[x];
            ctx.footprint.Set(bc, kSofterAngleConstant);
            ctx.weights.Set(ctx.footprint);
            // The footprint's rows, cut to the strip.
            const int32_t top = ctx.footprint.Top(y) > first ? ctx.footprint.Top(y) : first;
            const int32_t bottom = ctx.footprint.Bottom(y) < end - 1 ? ctx.footprint.Bottom(y) : end - 1;
            // The run of neighbouring centres that share this blur.
            int32_t last = x;
            if constexpr (!ObjectsOnly) {
                while (last + 1 < f.width && last - x + 1 < kLongestRun && centreBlur[last + 1] == bc &&
                       isCentre(last + 1)) {
                    ++last;
                }
            }
            if (last - x + 1 < 2 * ctx.footprint.MaxHalfWidth() + 8) {
                for (int32_t xc = x; xc <= last; ++xc) {
                    for (int32_t yy = top; yy <= bottom; ++yy) {
                        SpreadRow<ObjectsOnly>(ctx, xc, y, yy, bc, centreDepth[xc]);
                    }
                }
            } else {
                for (int32_t xc = x; xc <= last; ++xc) {
                    const std::size_t c = f.Index(xc, y);
                    RunColour& colour = ctx.runColours[xc];
                    colour[0] = f.red[c];
                    colour[1] = f.green[c];
                    colour[2] = f.blue[c];
                    colour[3] = 1.0;
                    for (int k = 0; k < 4; ++k) {
                        ctx.runSingles[xc][k] = static_cast<float>(colour[k]);
                    }
                }
                // The deepest centre of the run within the widest reach of
                // each column the run reaches.
                const int32_t widest = ctx.footprint.MaxHalfWidth();
                const int32_t reachFrom = FootprintColumns(x, widest, f.width).first;
                const int32_t reachTo = FootprintColumns(last, widest, f.width).last;
                DeepestInReach(centreDepth, x, last, widest, reachFrom, reachTo, ctx.runDeepest + f.width,
                               ctx.runDeepest + 2 * f.width, ctx.runDeepest);
                for (int32_t yy = top; yy <= bottom; ++yy) {
                    SpreadRunRow(ctx, x, last, y, yy, bc);
                }
            }
            x = last;
        }
    }
}

// Whether the runs' receivers may add with the fused multiply-add. Every
// contribution is (C x a + N x (1 - a)) x w; it is a whole colour times w,
// as OneRoundingSuffices asks, when a is 1 (a receiver sharing the
// centre's blur) or 0 (one in focus), and Objects Only mixes by t x w
// besides. So it holds when every pixel's blur is 0 or one and the same
// b, with weights of b's footprint, and the frame's instruction set has
// the fused form (kernels).
// The look through the blurs stops at the first that breaks it.
bool FusedSumsHold(const FrameView& f, const DepthRows& depth, const FilterSettings& s,
                   const FrameParameters& p, const SofterDepthKernels& kernels) {
    if (kernels.addRunFused == nullptr || s.FilterInclude == kIncludeObjects) return false;
    float shared = 0.0f;
    for (int32_t y = 0; y < f.height; ++y) {
        const float* const row = depth.Row(y);
        for (int32_t x = 0; x < f.width; ++x) {
            const float b = DepthBlur(row[x], p);
            if (b == 0.0f || b == shared) continue;
            if (shared != 0.0f) return false;
            shared = b;
        }
    }
    return shared > 0.0f && OneRoundingSuffices(shared, f.width, f.height);
}

}  // namespace

bool SofterDepthOfFieldBlurPass(const FrameView& frame, const FilterSettings& settings,
                                const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    // Without a depth buffer there is nothing to measure the focus by.
    if (!frame.HasDepth()) return false;
    // The averaged planes first: when they cannot be had, nothing else is
    // asked of the host or the heap.
    ResultPlanes result;
    if (!result.Allocate(frame.PixelCount())) return false;
    const float largest = LargestDepthBlur(params);
    const int32_t reach = FootprintReach(largest, frame.height);
    DepthRows depth;
    if (!depth.Fetch(frame)) return false;
    const int32_t mode = settings.FilterInclude;
    // Any mode outside 0..4 selects no centre: the frame stays as it is.
    if (mode < kIncludeObjects || mode > kIncludeColorRange) return true;

    const SofterDepthKernels kernels = ChooseSofterDepthKernels(params.instructionSet);
    const bool fused = FusedSumsHold(frame, depth, settings, params, kernels);

    // Taller strips: each strip goes again over the centre rows within
    // reach above and below it.
    const RowStrips strips = RowStrips::For(frame.width, frame.height, kDepthStripPixels);
    // Each thread keeps its own sums, footprint, weights, blur rows and
    // colours, and takes strip after strip.
    StripQueue queue(strips);
    std::atomic<bool> failed{false};
    ForEachTask(queue.Workers(), [&](int32_t) {
        FootprintProfile footprint;
        FootprintWeights weights;
        NeighbourRows blurs;
        StripSums<float> sums;
        auto runColours = platform::WorkingArray<RunColour>::Allocate(static_cast<std::size_t>(frame.width));
        auto runSingles = platform::WorkingArray<float[4]>::Allocate(static_cast<std::size_t>(frame.width));
        // The deepest centres, and two working rows to find them.
        auto runDeepest = platform::WorkingArray<float>::Allocate(3 * static_cast<std::size_t>(frame.width));
        if (!runColours || !runSingles || !runDeepest || !sums.Reserve(frame.width, strips.perStrip) ||
            !footprint.Reserve(frame.width, frame.height, reach, params.instructionSet) ||
            !weights.Reserve(frame.width, reach, FootprintReach(largest, frame.width)) ||
            !blurs.Reserve(frame.width, frame.height, reach)) {
            failed = true;
            return;
        }
        const SpreadContext ctx{frame,
                                settings,
                                params,
                                depth,
                                footprint,
                                weights,
                                blurs,
                                sums,
                                runColours.data(),
                                runSingles.data(),
                                runDeepest.data(),
                                fused,
                                kernels};
        int32_t first = 0;
        int32_t end = 0;
        while (!failed && queue.Next(first, end)) {
            sums.Begin(frame, first, end);
            if (mode == kIncludeObjects) {
                Spread<true>(ctx, first, end);
            } else {
                Spread<false>(ctx, first, end);
            }
            sums.WriteTo(frame, result);
        }
    });
    if (failed) return false;
    result.CopyTo(frame);
    return true;
}

}  // namespace lumafex

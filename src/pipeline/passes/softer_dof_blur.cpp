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
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/frame/strips.h"
#include "pipeline/passes/softer_weights.h"
#include "pipeline/frame/wide_vectors.h"

// Linux x86-64 builds pick the wider vector unit at run time where the
// processor has it.
#if LUMAFEX_WIDE_VECTORS
#include <immintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumafex {

namespace {

// The weights of one centre's footprint rows for its blur, kept from one
// centre to the next while the blur stays the same (whole regions of a frame
// share their blur). Where a table for the largest possible blur would be
// too large (only a vast MaxDOFBlur gets there), each row's weights are
// worked out as it is visited instead.
//
// A table row is filled only as far as the footprint rows visited ask: a
// strip visits only its own rows of a footprint, and a row as wide as the
// frame needs no more columns than the frame has. So a blur that changes
// from centre to centre (a depth ramp, a huge MaxDOFBlur) costs no more
// weights than its contributions, whatever the blur.
class FootprintWeights {
public:
    // rowReach and columnReach: the largest reach of a footprint above and
    // beside its centre, each already limited by the frame.
    [[nodiscard]] bool Reserve(int32_t width, int32_t rowReach, int32_t columnReach) {
        const int64_t rows = 2 * static_cast<int64_t>(rowReach) + 1;
        const int64_t columns = 2 * static_cast<int64_t>(columnReach) + 1;
        constexpr int64_t kLargestTable = int64_t{1} << 20;
        if (rows <= kLargestTable / columns) {
            table_ = platform::WorkingArray<float>::Allocate(
                static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
            positive_ =
                platform::WorkingArray<int32_t>::Allocate(static_cast<std::size_t>(rows));
            checked_ =
                platform::WorkingArray<int32_t>::Allocate(static_cast<std::size_t>(rows));
            return table_ && positive_ && checked_;
        }
        row_ = platform::WorkingArray<float>::Allocate(2 * static_cast<std::size_t>(width) + 1);
        return static_cast<bool>(row_);
    }

    // Makes the table that of the footprint's current blur, every row still
    // to be filled.
    void Set(const FootprintProfile& footprint) {
        if (!table_ || (valid_ && footprint.Radius() == radius_)) return;
        valid_ = true;
        radius_ = footprint.Radius();
        reach_ = footprint.Reach();
        centre_ = footprint.MaxHalfWidth();
        stride_ = 2 * static_cast<std::size_t>(centre_) + 1;
        const auto rows = 2 * static_cast<std::size_t>(reach_) + 1;
        for (std::size_t i = 0; i < rows; ++i) {
            checked_[i] = -1;
            positive_[i] = -1;
        }
    }

    // The weights of the footprint row dy away from the centre, whose
    // half-width is hw: weights[centre + dx]. Returns how far from the centre
    // they stay above 0, at most hw.
    int32_t Row(float radius, int32_t dy, int32_t hw, const float*& weights, int32_t& centre) {
        int32_t positive;
        if (table_) {
            weights = RowStart(dy);
            centre = centre_;
            const auto i = static_cast<std::size_t>(dy + reach_);
            // Columns 0 .. checked_ have been looked at; the weights fall
            // with the distance, so a row whose last look found none (its
            // positive reach below checked_) is complete.
            if (positive_[i] == checked_[i] && checked_[i] < hw) {
                ExtendRow(dy, hw, RowStart(dy) + centre_, checked_[i], positive_[i]);
            }
            positive = positive_[i];
        } else {
            weights = row_.data();
            centre = hw;
            positive = FillWeights(radius, dy, hw, row_.data());
        }
        return positive < hw ? positive : hw;
    }

private:
    // FillWeights for the columns checked + 1 .. hw of row dy: the same
    // weights, stored at row[dx] and row[-dx], until the first not above 0.
    void ExtendRow(int32_t dy, int32_t hw, float* row, int32_t& checked, int32_t& positive) const {
        const double dy2 = static_cast<double>(dy) * static_cast<double>(dy);
        for (int32_t dx = checked + 1; dx <= hw; ++dx) {
            checked = dx;
            const double dx2 = static_cast<double>(dx) * static_cast<double>(dx);
            const double w = static_cast<double>(radius_) - std::sqrt(dx2 + dy2);
            if (!(w > 0.0)) return;
            // A positive w never rounds to 0 in single precision.
            const float rounded = static_cast<float>(w);
            row[dx] = rounded;
            row[-dx] = rounded;
            positive = dx;
        }
    }

    float* RowStart(int32_t dy) const {
        return table_.data() + static_cast<std::size_t>(dy + reach_) * stride_;
    }
    platform::WorkingArray<float> table_;
    platform::WorkingArray<int32_t> positive_;
    platform::WorkingArray<int32_t> checked_;
    platform::WorkingArray<float> row_;
    bool valid_ = false;
    float radius_ = 0.0f;
    int32_t reach_ = 0;
    int32_t centre_ = 0;
    std::size_t stride_ = 1;
};

// A centre's colour as AddWeighted takes it: red, green, blue and 1.
using RunColour = double[4];

// Adds to the sums of `count` neighbouring receivers the contributions of
// the centres around each: receiver i takes centre i + dx with weight
// weights[dx], for dx = -reach .. reach in that order, so each receiver
// adds exactly as it would alone. sources and weights point at the first
// receiver's own column and at dx = 0; every centre reached must exist.
void AddWeightedRunPortable(SumCell<float>* sums, const double (*sources)[4],
                            const float* weights, int32_t reach, int32_t count) {
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) AddWeightedFour(sums + i, sources + i, weights, reach);
    for (; i < count; ++i) {
        SumCell<float> cell = sums[i];
        for (int32_t dx = -reach; dx <= reach; ++dx) {
            AddWeighted(cell, sources[i + dx], weights[dx]);
        }
        sums[i] = cell;
    }
}

#if LUMAFEX_WIDE_VECTORS
// The same with four doubles to a register: a receiver's red, green, blue
// and weight sums side by side. Each step is the same double-precision
// product and sum, rounded to single precision once, as the portable form;
// no fused multiply-add is used.
__attribute__((target("avx"), always_inline)) inline __m256d WideStep(__m256d sum,
                                                                       const double* source,
                                                                       __m256d w) {
    return _mm256_cvtps_pd(
        _mm256_cvtpd_ps(_mm256_add_pd(sum, _mm256_mul_pd(_mm256_loadu_pd(source), w))));
}

__attribute__((target("avx"))) void AddWeightedRunWide(SumCell<float>* sums,
                                                       const double (*sources)[4],
                                                       const float* weights, int32_t reach,
                                                       int32_t count) {
    // Eight receivers at a time: each addition waits for the rounding of
    // the one before it in the same receiver, so many receivers keep the
    // unit busy.
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256d a[8];
        for (int k = 0; k < 8; ++k) a[k] = _mm256_cvtps_pd(_mm_loadu_ps(&sums[i + k].red));
        for (int32_t dx = -reach; dx <= reach; ++dx) {
            const __m256d w = _mm256_set1_pd(static_cast<double>(weights[dx]));
            for (int k = 0; k < 8; ++k) a[k] = WideStep(a[k], sources[i + k + dx], w);
        }
        for (int k = 0; k < 8; ++k) _mm_storeu_ps(&sums[i + k].red, _mm256_cvtpd_ps(a[k]));
    }
    for (; i < count; ++i) {
        __m256d a = _mm256_cvtps_pd(_mm_loadu_ps(&sums[i].red));
        for (int32_t dx = -reach; dx <= reach; ++dx) {
            a = WideStep(a, sources[i + dx], _mm256_set1_pd(static_cast<double>(weights[dx])));
        }
        _mm_storeu_ps(&sums[i].red, _mm256_cvtpd_ps(a));
    }
}
#endif

#if LUMAFEX_WIDE_VECTORS
// The same with the fused multiply-add in single precision, two receivers
// to a register: each sum is the exact sum + colour x w rounded once. The
// pass takes it only where that agrees with the two roundings above
// (OneRoundingSuffices and the frame's blurs, see the pass).
__attribute__((target("avx2,fma"))) void AddWeightedRunFused(SumCell<float>* sums,
                                                             const float (*sources)[4],
                                                             const float* weights, int32_t reach,
                                                             int32_t count) {
    static_assert(sizeof(SumCell<float>) == 4 * sizeof(float));
    float* const at = &sums->red;
    const float* const from = sources[0];
    // Sixteen receivers at a time, enough additions under way to cover
    // each one's wait for the one before it.
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m256 a[8];
        for (int k = 0; k < 8; ++k) a[k] = _mm256_loadu_ps(at + 4 * (i + 2 * k));
        for (int32_t dx = -reach; dx <= reach; ++dx) {
            const __m256 w = _mm256_set1_ps(weights[dx]);
            for (int k = 0; k < 8; ++k) {
                a[k] = _mm256_fmadd_ps(_mm256_loadu_ps(from + 4 * (i + 2 * k + dx)), w, a[k]);
            }
        }
        for (int k = 0; k < 8; ++k) _mm256_storeu_ps(at + 4 * (i + 2 * k), a[k]);
    }
    for (; i < count; ++i) {
        __m128 a = _mm_loadu_ps(at + 4 * i);
        for (int32_t dx = -reach; dx <= reach; ++dx) {
            a = _mm_fmadd_ps(_mm_loadu_ps(from + 4 * (i + dx)), _mm_set1_ps(weights[dx]), a);
        }
        _mm_storeu_ps(at + 4 * i, a);
    }
}
#endif

// Adds a run's contributions side by side: singles, the run's colours in
// single precision, are for the fused form (fused true).
void AddWeightedRun(SumCell<float>* sums, const double (*sources)[4],
                    const float (*singles)[4], bool fused, InstructionSet set,
                    const float* weights, int32_t reach, int32_t count) {
#if LUMAFEX_WIDE_VECTORS
    if (fused) {
        AddWeightedRunFused(sums, singles, weights, reach, count);
        return;
    }
    if (Allows(set, InstructionSet::Avx)) {
        AddWeightedRunWide(sums, sources, weights, reach, count);
        return;
    }
#else
    static_cast<void>(singles);
    static_cast<void>(fused);
    static_cast<void>(set);
#endif
    AddWeightedRunPortable(sums, sources, weights, reach, count);
}

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

// Where the stretch of plain receivers from x on ends, at most at end: a
// receiver is plain when it shares the run's blur bc and lies more than
// the separator in front of none of the run's centres within reach (the
// deepest of them, deepest[x]). With SSE2, blocks of four are tested at
// once, by the same comparisons; the block that ends the stretch is then
// gone through one by one.
int32_t PlainStretchEnd(const float* blur, const float* depth, const float* deepest, float bc,
                        double separator, int32_t x, int32_t end) {
#if defined(__SSE2__)
    const __m128 shared = _mm_set1_ps(bc);
    const __m128d apart = _mm_set1_pd(separator);
    for (; end - x >= 4; x += 4) {
        const __m128 d = _mm_loadu_ps(depth + x);
        const __m128 deep = _mm_loadu_ps(deepest + x);
        const int same = _mm_movemask_ps(_mm_cmpeq_ps(_mm_loadu_ps(blur + x), shared));
        const int inFront =
            _mm_movemask_pd(_mm_cmplt_pd(_mm_add_pd(_mm_cvtps_pd(d), apart), _mm_cvtps_pd(deep))) |
            _mm_movemask_pd(_mm_cmplt_pd(_mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(d, d)), apart),
                                         _mm_cvtps_pd(_mm_movehl_ps(deep, deep))))
                << 2;
        if ((same & ~inFront) != 15) break;
    }
#endif
    while (x < end && blur[x] == bc &&
           !(static_cast<double>(depth[x]) + separator < static_cast<double>(deepest[x]))) {
        ++x;
    }
    return x;
}

// The centres first..last of row y, all with blur bc, spread over one
// footprint row, gathered receiver by receiver: each receiver takes the
// run's centres within reach of it from left to right, the order in which
// centre by centre would add them. A receiver that shares the run's blur
// and lies more than the separator in front of none of those centres
// takes each one's colour unmixed (c x w); stretches of such receivers
// whose centres all belong to the run go through AddWeightedRun, side by
// side. Every other receiver takes the centres one by one by the full rule.
void SpreadRunRow(const SpreadContext& ctx, int32_t first, int32_t last, int32_t y,
                  int32_t yy, float bc) {
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
                ? PlainStretchEnd(rowBlur, rowDepth, ctx.runDeepest, bc, separator, xx, plainEnd)
                : xx;
        if (stretch > xx) {
            AddWeightedRun(rowCells + xx, ctx.runColours + xx, ctx.runSingles + xx, ctx.fused,
                           ctx.p.instructionSet, w + centre, reach, stretch - xx);
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
void DeepestInReach(const float* depth, int32_t first, int32_t last, int32_t reach,
                    int32_t from, int32_t to, float* ahead, float* behind, float* deepest) {
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
            const int32_t bottom =
                ctx.footprint.Bottom(y) < end - 1 ? ctx.footprint.Bottom(y) : end - 1;
            // The run of neighbouring centres that share this blur.
            int32_t last = x;
            if constexpr (!ObjectsOnly) {
                while (last + 1 < f.width && last - x + 1 < kLongestRun &&
                       centreBlur[last + 1] == bc && isCentre(last + 1)) {
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
                DeepestInReach(centreDepth, x, last, widest, reachFrom, reachTo,
                               ctx.runDeepest + f.width, ctx.runDeepest + 2 * f.width,
                               ctx.runDeepest);
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
// the fused form.
// The look through the blurs stops at the first that breaks it.
bool FusedSumsHold(const FrameView& f, const DepthRows& depth, const FilterSettings& s,
                   const FrameParameters& p) {
    if (!Allows(p.instructionSet, InstructionSet::Avx2Fma) || s.FilterInclude == kIncludeObjects) {
        return false;
    }
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

    const bool fused = FusedSumsHold(frame, depth, settings, params);

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
        auto runColours =
            platform::WorkingArray<RunColour>::Allocate(static_cast<std::size_t>(frame.width));
        auto runSingles = platform::WorkingArray<float[4]>::Allocate(
            static_cast<std::size_t>(frame.width));
        // The deepest centres, and two working rows to find them.
        auto runDeepest =
            platform::WorkingArray<float>::Allocate(3 * static_cast<std::size_t>(frame.width));
        if (!runColours || !runSingles || !runDeepest ||
            !sums.Reserve(frame.width, strips.perStrip) ||
            !footprint.Reserve(frame.width, frame.height, reach) ||
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
                                fused};
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

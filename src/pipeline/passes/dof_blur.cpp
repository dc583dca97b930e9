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
// ones, are gathered instead (LimitGather). The frame is cut into strips of
// receiving rows, worked on by the threads: each strip's sums are its own,
// and its averages go to its rows of a result copy that replaces the colour
// planes once every strip is done.
#include "pipeline/passes/dof_blur.h"

#include <atomic>
#include <cstring>
#include <type_traits>

#include "pipeline/frame/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/passes/mixed_lanes.h"
#include "pipeline/frame/strips.h"
#include "pipeline/frame/wide_vectors.h"

namespace lumafex {

namespace {

// Left out as a receiver: no contribution, no count.
constexpr float kTakesNoPart = -1.0f;

// The blur each pixel of a row takes part with as a receiver, from the
// row's depths and their blurs. In Full Frame mode DOFBlurSide leaves out
// the far side (1) or the near side (2); in the other modes an unselected
// pixel counts as in focus.
void FillReceivingBlurs(const FrameView& f, const FilterSettings& s, const FrameParameters& p,
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
    const float* Row(int32_t y) const {
        return blurs_.data() + static_cast<std::size_t>(y) * width_;
    }

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

// The marks of the spans of one strip's rows whose pixels all take one
// colour: for each row and value (red, green, blue, count), the value added
// at a span's first column and taken away after its last, width + 1
// entries. Unsigned, so that the running sums may wrap: each pixel's total
// is exact whenever the true total fits, as the sums' own type ensures.
template <typename Sum>
class SpanMarks {
public:
    using Mark = std::make_unsigned_t<Sum>;

    bool Reserve(int32_t width, int32_t rows) {
        width_ = width;
        const uint64_t cells =
            4 * (static_cast<uint64_t>(width) + 1) * static_cast<uint64_t>(rows);
        if (cells > std::numeric_limits<std::size_t>::max() / sizeof(Mark)) return false;
        marks_ = platform::WorkingArray<Mark>::Allocate(static_cast<std::size_t>(cells));
        marked_ = platform::WorkingArray<uint8_t>::Allocate(static_cast<std::size_t>(rows));
        return marks_ && marked_;
    }

    void Begin(int32_t first) { first_ = first; }

    // Every pixel of row y, columns from .. to (from <= to), takes r, g, b.
    void Add(int32_t y, int32_t from, int32_t to, Mark r, Mark g, Mark b) {
        Mark* const m[4] = {Values(y, 0), Values(y, 1), Values(y, 2), Values(y, 3)};
        const Mark add[4] = {r, g, b, 1};
        for (int v = 0; v < 4; ++v) {
            m[v][from] = static_cast<Mark>(m[v][from] + add[v]);
            m[v][to + 1] = static_cast<Mark>(m[v][to + 1] - add[v]);
        }
    }

    // Every centre x of first .. last gives its colour (from the planes'
    // row `colours`) to the columns x - hw .. x + hw of row y, clipped to the
    // row (hw >= 0).
    void AddRun(int32_t y, int32_t first, int32_t last, int32_t hw,
                const uint8_t* const (&colours)[3]) {
        Mark* const m[4] = {Values(y, 0), Values(y, 1), Values(y, 2), Values(y, 3)};
        // Spans cut at the left edge all start at column 0.
        const int32_t cut = hw - first < last - first + 1 ? hw : last + 1;
        for (int32_t x = first; x < cut; ++x) {
            for (int v = 0; v < 3; ++v) m[v][0] = static_cast<Mark>(m[v][0] + colours[v][x]);
            m[3][0] = static_cast<Mark>(m[3][0] + 1);
        }
        const int32_t from = cut > first ? cut : first;
        for (int v = 0; v < 3; ++v) AddShifted(m[v], colours[v], from, last, -hw);
        AddOnes(m[3], from, last, -hw);
        // Spans cut at the right edge end with the row and take nothing away.
        const int32_t stop = width_ - 1 - hw < last ? width_ - 1 - hw : last;
        for (int v = 0; v < 3; ++v) TakeShifted(m[v], colours[v], first, stop, hw + 1);
        TakeOnes(m[3], first, stop, hw + 1);
    }

    // Adds the marked totals of every row of the strip to its sums and
    // clears the marks for the next strip.
    void AddTo(StripSums<Sum>& sums) {
        for (int32_t y = sums.First(); y < sums.End(); ++y) {
            const auto row = static_cast<std::size_t>(y - first_);
            if (marked_[row] == 0) continue;
            marked_[row] = 0;
            Mark* const m[4] = {Values(y, 0), Values(y, 1), Values(y, 2), Values(y, 3)};
            SumCell<Sum>* const cells = sums.Row(y);
            Mark run[4] = {};
            for (int32_t x = 0; x < width_; ++x) {
                for (int v = 0; v < 4; ++v) run[v] = static_cast<Mark>(run[v] + m[v][x]);
                SumCell<Sum>& cell = cells[x];
                cell.red = static_cast<Sum>(static_cast<Mark>(cell.red) + run[0]);
                cell.green = static_cast<Sum>(static_cast<Mark>(cell.green) + run[1]);
                cell.blue = static_cast<Sum>(static_cast<Mark>(cell.blue) + run[2]);
                cell.count = static_cast<Sum>(static_cast<Mark>(cell.count) + run[3]);
            }
            std::memset(static_cast<void*>(m[0]), 0,
                        4 * (static_cast<std::size_t>(width_) + 1) * sizeof(Mark));
        }
    }

private:
    // Row y's marks of one value; marks the row as holding some.
    Mark* Values(int32_t y, int value) {
        const auto row = static_cast<std::size_t>(y - first_);
        marked_[row] = 1;
        return marks_.data() + (4 * row + static_cast<std::size_t>(value)) *
                                   (static_cast<std::size_t>(width_) + 1);
    }
    // m[x + shift] += c[x] (or -=, or the count's 1) for x = from .. to.
    static void AddShifted(Mark* __restrict m, const uint8_t* __restrict c, int32_t from,
                           int32_t to, int32_t shift) {
        for (int32_t x = from; x <= to; ++x) m[x + shift] = static_cast<Mark>(m[x + shift] + c[x]);
    }
    static void TakeShifted(Mark* __restrict m, const uint8_t* __restrict c, int32_t from,
                            int32_t to, int32_t shift) {
        for (int32_t x = from; x <= to; ++x) m[x + shift] = static_cast<Mark>(m[x + shift] - c[x]);
    }
    static void AddOnes(Mark* m, int32_t from, int32_t to, int32_t shift) {
        for (int32_t x = from; x <= to; ++x) m[x + shift] = static_cast<Mark>(m[x + shift] + 1);
    }
    static void TakeOnes(Mark* m, int32_t from, int32_t to, int32_t shift) {
        for (int32_t x = from; x <= to; ++x) m[x + shift] = static_cast<Mark>(m[x + shift] - 1);
    }

    platform::WorkingArray<Mark> marks_;
    platform::WorkingArray<uint8_t> marked_;
    int32_t width_ = 0;
    int32_t first_ = 0;
};

// What the spread of one strip works with.
template <typename Sum>
struct SpreadContext {
    const FrameView& f;
    const FilterSettings& s;
    const FrameParameters& p;
    const DepthRows& depth;
    const BlurPlane& blurs;
    FootprintProfile& footprint;
    NeighbourRows& receiving;
    StripSums<Sum>& sums;
    SpanMarks<Sum>& marks;
    RunPrefix* prefix;  // width + 1 entries
    float* centreBlurs;  // width entries
    float gathered;      // the blur whose centres LimitGather takes, or -1
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
    SumCell<Sum>* const rowCells = ctx.sums.Row(yy);
    const NeighbourRow& near = ctx.receiving.Near(yy);
    if (near.Uniform(span.first, span.last, bc, dc, separator)) {
        // Every pixel of the span takes the centre's colour.
        ctx.marks.Add(yy, span.first, span.last, cr, cg, cb);
        return;
    }
    const float* const rowDepth = ctx.depth.Row(yy);
    const float* const rowBlur = near.blur;
    int32_t xx = span.first;
    if constexpr (std::is_same_v<Sum, int32_t>) {
        // Four receivers at a time, then the rest one by one below.
        const ReceivingRow lanes{rowDepth,      rowBlur,       f.red + row,
                                 f.green + row, f.blue + row,  rowCells};
        xx = MixFourAtATime(lanes, MixingCentre{bc, dc, cr, cg, cb}, separator, span.first,
                            span.last, f.width);
    }
    for (; xx <= span.last; ++xx) {
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
// it: for rows no wider than twice the run, their sums come from the run's
// prefix sums, and wider rows take each centre's span as marks. Otherwise
// the centres are spread one by one.
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

// Spreads the centres whose footprints reach the rows first .. end-1 into
// those rows only, but for those LimitGather takes.
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
        const float* const centreDepth = ctx.depth.Row(y);
        const float* const depthBlurs = ctx.blurs.Row(y);
        // Each centre's blur, or 0 for a pixel that spreads nothing here.
        float* const blurs = ctx.centreBlurs;
        bool any = false;
        for (int32_t x = 0; x < f.width; ++x) {
            const std::size_t c = f.Index(x, y);
            float b = 0.0f;
            if (PixelSelected(s, f.alpha[c], f.shadow[c], f.red[c], f.green[c], f.blue[c])) {
                b = depthBlurs[x];
                if (b == ctx.gathered) b = 0.0f;
            }
            blurs[x] = b;
            any = any || b > 0.0f;
        }
        if (!any) continue;
        ctx.receiving.Advance(y, ctx.depth, [&](int32_t row, float* out) {
            FillReceivingBlurs(f, s, p, ctx.depth.Row(row), ctx.blurs.Row(row), row, out);
        });
        auto centreBlur = [blurs](int32_t x) { return blurs[x]; };
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

// The centres whose blur is one chosen value B (the limit MaxDOFBlur, which
// in most frames every far enough pixel reaches), gathered by receiving
// row. All of them share one footprint shape, so a receiver takes from
// each centre row the B-centres within one half-width of it: a window of
// that row's prefix sums of their colours and count. A receiver takes that
// total as it is when it shares their blur, as its own colour times their
// count when it is in focus (or unselected), and nothing when it takes no
// part, provided none of the B-centres around it lies more than the
// separator behind it: the deepest of them within the footprint's box
// decides. Any other receiver goes through the B-centres that reach it
// one by one, by the full rule. (A receiver in focus takes its own colour
// from every centre, so it keeps its colour whatever it counts.)
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
        totals_ = Accumulators<Window>::Allocate(static_cast<std::size_t>(w));
        boxMax_ = platform::WorkingArray<float>::Allocate(static_cast<std::size_t>(w));
        scratch_ = platform::WorkingArray<float>::Allocate(static_cast<std::size_t>(w));
        return prefix_ && rowMax_ && totals_ && boxMax_ && scratch_;
    }

    // Adds the B-centres' contributions to the rows first .. end-1.
    void Gather(const SpreadContext<Sum>& ctx, int32_t first, int32_t end) {
        const FrameView& f = ctx.f;
        const int32_t reach = profile_.Reach();
        top_ = first > reach ? first - reach : 0;
        const int32_t bottom = f.height - end > reach ? end - 1 + reach : f.height - 1;
        bool any = false;
        for (int32_t y = top_; y <= bottom; ++y) any = PrepareRow(ctx, y) || any;
        if (!any) return;
        const auto w = static_cast<std::size_t>(f.width);
        for (int32_t yy = first; yy < end; ++yy) {
            std::memset(static_cast<void*>(totals_.data()), 0, w * sizeof(SumCell<Window>));
            float* const box = boxMax_.data();
            for (std::size_t x = 0; x < w; ++x) box[x] = -HUGE_VALF;
            const int32_t from = yy > reach ? yy - reach : 0;
            const int32_t to = f.height - 1 - yy > reach ? yy + reach : f.height - 1;
            for (int32_t y = from; y <= to; ++y) {
                const int32_t hw = profile_.HalfWidth(yy - profile_.Top(y));
                if (hw < 0) continue;
                AddWindows(&totals_.data()->red, &Prefix(y)->red, f.width, hw);
                const float* const m = RowMax(y);
                for (std::size_t x = 0; x < w; ++x) box[x] = m[x] > box[x] ? m[x] : box[x];
            }
            Take(ctx, yy);
        }
    }

private:
    SumCell<Window>* Prefix(int32_t y) const {
        return prefix_.data() +
               static_cast<std::size_t>(y - top_) * (static_cast<std::size_t>(width_) + 1);
    }
    float* RowMax(int32_t y) const {
        return rowMax_.data() +
               static_cast<std::size_t>(y - top_) * (static_cast<std::size_t>(width_) + 1);
    }

    // Row y's prefix sums of the B-centres' colours and count, and the
    // deepest B-centre within the widest half-width of each column. False
    // when the row holds no B-centre.
    bool PrepareRow(const SpreadContext<Sum>& ctx, int32_t y) {
        const FrameView& f = ctx.f;
        const float* const depth = ctx.depth.Row(y);
        const float* const blurs = ctx.blurs.Row(y);
        float* const deepest = scratch_.data();
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
            for (int32_t x = 0; x + d < w; ++x) {
                m[x] = deepest[x + d] > m[x] ? deepest[x + d] : m[x];
            }
            for (int32_t x = d; x < w; ++x) {
                m[x] = deepest[x - d] > m[x] ? deepest[x - d] : m[x];
            }
        }
        return any;
    }

    // acc[x] += the window x - hw .. x + hw of the prefix sums, clipped to
    // the row, four values a column side by side: three plain loops over
    // the flat values, the middle one vectorisable.
    static void AddWindows(Window* __restrict acc, const Window* __restrict prefix, int32_t width,
                           int32_t hw) {
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
            for (std::size_t i = i0; i < i1; ++i) {
                acc[i] = static_cast<Window>(acc[i] + static_cast<Window>(prefix[i + ahead] -
                                                                      prefix[i - behind]));
            }
            x = middleEnd;
        }
        for (; x < width; ++x) {
            for (int v = 0; v < 4; ++v) {
                const Window window =
                    static_cast<Window>(prefix[4 * width + v] - prefix[4 * (x - hw) + v]);
                acc[4 * x + v] = static_cast<Window>(acc[4 * x + v] + window);
            }
        }
    }

    // Each receiver of row yy takes the gathered totals by its rule.
    void Take(const SpreadContext<Sum>& ctx, int32_t yy) {
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
            if (!hidden && bn == blur_) {
                cell.red = static_cast<Sum>(static_cast<Mark>(cell.red) + t.red);
                cell.green = static_cast<Sum>(static_cast<Mark>(cell.green) + t.green);
                cell.blue = static_cast<Sum>(static_cast<Mark>(cell.blue) + t.blue);
                cell.count = static_cast<Sum>(static_cast<Mark>(cell.count) + t.count);
            } else {
                TakeOneByOne(ctx, x, yy, bn, depth[x], cell);
            }
        }
    }

    // Receiver (xx, yy), with blur bn (above 0) and depth dn, takes from
    // every B-centre that reaches it by the full rule.
    void TakeOneByOne(const SpreadContext<Sum>& ctx, int32_t xx, int32_t yy, float bn, float dn,
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
                if (bn == blur_) {
                    cell.red += f.red[c];
                    cell.green += f.green[c];
                    cell.blue += f.blue[c];
                } else {
                    cell.red += Mixed<Sum>(f.red[c], f.red[n], t, u);
                    cell.green += Mixed<Sum>(f.green[c], f.green[n], t, u);
                    cell.blue += Mixed<Sum>(f.blue[c], f.blue[n], t, u);
                }
                cell.count += 1;
            }
        }
    }

    FootprintProfile profile_;
    Accumulators<Window> prefix_;
    platform::WorkingArray<float> rowMax_;
    Accumulators<Window> totals_;
    platform::WorkingArray<float> boxMax_;
    platform::WorkingArray<float> scratch_;
    float blur_ = 0.0f;
    int32_t width_ = 0;
    int32_t top_ = 0;
};

#if LUMAFEX_WIDE_VECTORS
// The gather with every loop built for AVX2: its window sums and depth
// maxima run twice as many columns at a time, the same values in each.
template <typename Sum>
[[gnu::noinline, gnu::flatten, gnu::target("avx2")]] void GatherShortWide(
    LimitGather<Sum, uint16_t>& gather, const SpreadContext<Sum>& ctx, int32_t first,
    int32_t end) {
    gather.Gather(ctx, first, end);
}
#endif

// The 16-bit gather in the widest form the frame's instruction set allows.
template <typename Sum>
void GatherShort(LimitGather<Sum, uint16_t>& gather, const SpreadContext<Sum>& ctx,
                 int32_t first, int32_t end) {
#if LUMAFEX_WIDE_VECTORS
    if (Allows(ctx.p.instructionSet, InstructionSet::Avx2Fma)) {
        GatherShortWide(gather, ctx, first, end);
        return;
    }
#endif
    gather.Gather(ctx, first, end);
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
        auto prefix =
            platform::WorkingArray<RunPrefix>::Allocate(static_cast<std::size_t>(f.width) + 1);
        auto centreBlurs =
            platform::WorkingArray<float>::Allocate(static_cast<std::size_t>(f.width));
        LimitGather<Sum> gather;
        LimitGather<Sum, uint16_t> shortGather;
        const float gathered = LimitGather<Sum>::Chosen(p);
        const bool shortWindows =
            gathered > 0.0f && LimitGather<Sum>::FitsShortWindows(gathered);
        if (!prefix || !centreBlurs || !sums.Reserve(f.width, strips.perStrip) ||
            (shortWindows &&
             !shortGather.Reserve(f.width, f.height, strips.perStrip, gathered)) ||
            (gathered > 0.0f && !shortWindows &&
             !gather.Reserve(f.width, f.height, strips.perStrip, gathered)) ||
            !marks.Reserve(f.width, strips.perStrip) ||
            !footprint.Reserve(f.width, f.height, reach) ||
            !receiving.Reserve(f.width, f.height, reach)) {
            failed = true;
            return;
        }
        const SpreadContext<Sum> ctx{f,         s,         p,
                                     depth,     blurs,     footprint,
                                     receiving, sums,      marks,
                                     prefix.data(), centreBlurs.data(), gathered};
        int32_t first = 0;
        int32_t end = 0;
        while (!failed && queue.Next(first, end)) {
            sums.Begin(f, first, end);
            marks.Begin(first);
            if (shortWindows) {
                GatherShort(shortGather, ctx, first, end);
            } else if (gathered > 0.0f) {
                gather.Gather(ctx, first, end);
            }
            Spread(ctx, first, end);
            marks.AddTo(sums);
            sums.WriteTo(f, result);
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

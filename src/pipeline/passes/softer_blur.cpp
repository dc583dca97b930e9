// The softer blur. Like the plain blur, every selected pixel spreads its
// colour over its footprint, but each contribution carries the weight
// w = r - distance, so the blur falls off linearly to nothing at the radius;
// unselected receivers mix the spread colour with their own by t = w / r.
//
// The sums are single-precision values rounded after every addition, so the
// order of the additions into a pixel matters: it must be the order of the
// spreading pixels, row by row and left to right. The pass therefore
// gathers: every receiver takes, from each source row that reaches it (top
// to bottom), the spreading pixels within the half-width of the footprint
// row that lands on it, from left to right. All pixels of a source row share
// their footprint's shape, so one table of weights serves a whole receiving
// row, and neighbouring receivers run side by side as vector lanes
// (weighted_lanes.h).
//
// The frame is cut into strips of receiving rows, worked on by the threads.
// A strip keeps the sums of its own rows only, visits the source rows that
// reach it from the top, and writes its averages into a result copy, which
// replaces the colour planes once every strip is done (the sources must be
// read as they were when the pass began). Only source pixels inside the
// frame are ever visited, and only those within reach of a receiver, so a
// radius beyond the frame costs no more than one as large as the frame.
#include "pipeline/passes/softer_blur.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <numeric>

#include "pipeline/frame/selection.h"
#include "pipeline/passes/average_rows.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/passes/softer_weights.h"
#include "pipeline/passes/weighted_lanes.h"
#include "pipeline/frame/wide_vectors.h"
#include "pipeline/frame/strips.h"
#include "pipeline/frame/thread_pool.h"

namespace lumafex {

namespace {

// How a receiving pixel takes a contribution, by selection mode: the spread
// colour, a blend of the spread colour and its own, or nothing.
enum Take : uint8_t { kTakeNone = 0, kTakeFull = 1, kTakeBlended = 2 };

template <int32_t Mode>
Take TakeOf(const FilterSettings& s, const FrameView& f, std::size_t j) {
    if constexpr (Mode == kIncludeObjects) return f.alpha[j] != 0 ? kTakeFull : kTakeBlended;
    if constexpr (Mode == kIncludeBackground) return f.alpha[j] == 0 ? kTakeFull : kTakeNone;
    if constexpr (Mode == kIncludeShadows) return f.shadow[j] != 0 ? kTakeFull : kTakeBlended;
    if constexpr (Mode == kIncludeColorRange) {
        return InColorRange(s, f.red[j], f.green[j], f.blue[j]) ? kTakeFull : kTakeBlended;
    }
    return kTakeFull;
}

// Receivers worked on at once: vectors of 2 doubles (SSE2) or 4 (AVX2),
// kRunVectors of them side by side, or in the fused form vectors of 8
// floats, kFusedVectors of them (enough additions under way to cover each
// one's wait for the one before it). Receiving rows are padded to whole
// runs, and source rows carry kMaxLanes zeros on either side, at least a
// run.
constexpr int kRunVectors = 2;
constexpr int kFusedVectors = 4;
constexpr int32_t kMaxLanes = 8 * kFusedVectors;

// Source rows prepared at a time.
constexpr int32_t kBlockRows = 8;

// How a run of receivers takes its contributions: all in full, none at all,
// or in different ways.
enum RunKind : uint8_t { kRunFull, kRunNone, kRunMixed };

struct Job {
    const FrameView* frame;
    const FilterSettings* settings;
    const FootprintProfile* footprint;
    const uint8_t* rowSpreads;  // per row: whether any of its pixels spreads
    uint8_t* result[3];         // the averaged planes
    RowStrips strips;
    std::size_t padded;         // the width rounded up to whole runs
    StripQueue queue{strips};
    std::atomic<bool> failed{false};
};

// One thread's working rows.
struct Workspace {
    platform::WorkingArray<double> sums;     // red, green, blue, weight planes of a strip
    platform::WorkingArray<uint8_t> takes;   // per receiver of the strip
    platform::WorkingArray<uint8_t> runs;    // RunKind per run of the strip
    platform::WorkingArray<double> values;   // a block of source rows, four planes each
    platform::WorkingArray<float> singles;   // the same in single precision
    platform::WorkingArray<int32_t> before;  // per row: spreading pixels before each column
    platform::WorkingArray<float> weights;   // per row and receiving row: its weights
    platform::WorkingArray<double> blend;    // the same: t and 1 - t for them
    platform::WorkingArray<float> shared;    // weight sums of the distinct receivers
    platform::WorkingArray<double> interior;  // the weight sums of rows away from the
                                              // edges, then their reciprocals
    platform::WorkingArray<uint8_t> on;      // which pixels of a source row spread
#if LUMAFEX_WIDE_VECTORS
    platform::WorkingArray<FusedStep> steps;  // a block's offsets for two receiving rows
#endif

    // False when the memory cannot be had. The counts are formed in 64 bits
    // (a width below 2^31 and at most 128 rows keep them far inside), and
    // none is asked for that would not fit the address space.
    bool Allocate(uint64_t width, uint64_t padded, uint64_t rows) {
        const uint64_t sourceRow = padded + 2 * kMaxLanes;
        const uint64_t table = 2 * width + 1;
        const uint64_t largest = std::numeric_limits<std::size_t>::max() / sizeof(double);
        if (4 * rows * padded > largest || kBlockRows * 4 * sourceRow > largest ||
            2 * kBlockRows * 2 * table > largest) {
            return false;
        }
        auto count = [](uint64_t n) { return static_cast<std::size_t>(n); };
        sums = platform::WorkingArray<double>::Allocate(count(4 * rows * padded));
        takes = platform::WorkingArray<uint8_t>::Allocate(count(rows * padded));
        runs = platform::WorkingArray<uint8_t>::Allocate(count(rows * (padded / 4)));
        values = platform::WorkingArray<double>::Allocate(count(kBlockRows * 4 * sourceRow));
        singles = platform::WorkingArray<float>::Allocate(count(kBlockRows * 4 * sourceRow));
        before = platform::WorkingArray<int32_t>::Allocate(count(kBlockRows * (width + 1)));
        // Weights, t and 1 - t of the block's rows for two receiving rows.
        weights = platform::WorkingArray<float>::Allocate(count(2 * kBlockRows * table));
        blend = platform::WorkingArray<double>::Allocate(count(2 * kBlockRows * 2 * table));
        shared = platform::WorkingArray<float>::Allocate(count(width + 1));
        interior = platform::WorkingArray<double>::Allocate(count(2 * width));
        on = platform::WorkingArray<uint8_t>::Allocate(count(width));
#if LUMAFEX_WIDE_VECTORS
        steps = platform::WorkingArray<FusedStep>::Allocate(kBlockRows * (2 * kMaxLanes + 1));
        if (!steps) return false;
#endif
        return sums && takes && runs && values && singles && before && weights && blend &&
               shared && interior && on;
    }
};

// Whether every sum of the pass stays 0 or a normal single-precision value,
// so that it can be rounded on its bits. Every sum is at most 255 x (1 + r
// x the number of contributions, at most W x H), far below the largest
// single-precision value unless r is. Every weight is r, or at least 2^-49
// when r is at least 1 (r - sqrt(n) is then 0 or at least that much), and
// no product of weights, t and colours formed from them comes near 2^-126.
bool SumsStayNormal(float radius, int32_t width, int32_t height) {
    const double r = radius;
    const double most = 256.0 * (1.0 + r * static_cast<double>(width) *
                                           static_cast<double>(height));
    return r >= 0x1p-20 && r <= 0x1p40 && most < 0x1p126;
}

// The loops over whole rows below take their rows as separate parameters,
// so that the compiler knows they do not overlap and works on many pixels
// at once; they are inlined, so that the AVX2 strips get them built for
// AVX2.

// out[x] = the colour where on[x] is 1, else 0 (on[x] is 0 or 1).
template <typename T>
[[gnu::always_inline]] inline void SpreadingColours(const uint8_t* __restrict colour,
                                                    const uint8_t* __restrict on, int32_t width,
                                                    T* __restrict out) {
    for (int32_t x = 0; x < width; ++x) out[x] = static_cast<T>(colour[x] * on[x]);
}

// before[x] = how many of on[0 .. x-1] are 1, for x = 0 .. width.
[[gnu::always_inline]] inline void CountSpreading(const uint8_t* __restrict on, int32_t width,
                                                  int32_t* __restrict before) {
    int32_t count = 0;
    before[0] = 0;
    for (int32_t x = 0; x < width; ++x) {
        count += on[x];
        before[x + 1] = count;
    }
}

// Makes row y the source row: its spreading pixels' colours and 1, zero
// where a pixel does not spread, in double and, for the fused form, in
// single precision (the full frame's fused form needs no doubles: it has
// no receivers that blend). on is a working line of the width.
template <int32_t Mode, bool Fused>
void PrepareSource(const FrameView& f, const FilterSettings& s, int32_t y, double* const* value,
                   float* const* single, int32_t* before, uint8_t* on) {
    const std::size_t row = f.Index(0, y);
    const uint8_t* const colours[3] = {f.red + row, f.green + row, f.blue + row};
    constexpr bool kDoubles = !Fused || Mode != kIncludeFullFrame;
    if constexpr (Mode == kIncludeFullFrame) {
        // Every pixel spreads.
        for (int c = 0; c < 3; ++c) {
            if constexpr (kDoubles) std::copy(colours[c], colours[c] + f.width, value[c]);
            if constexpr (Fused) std::copy(colours[c], colours[c] + f.width, single[c]);
        }
        if constexpr (kDoubles) std::fill(value[3], value[3] + f.width, 1.0);
        if constexpr (Fused) std::fill(single[3], single[3] + f.width, 1.0f);
        std::iota(before, before + f.width + 1, 0);
        return;
    }
    for (int32_t x = 0; x < f.width; ++x) {
        on[x] = PixelSelectedIn<Mode>(s, f, row + static_cast<std::size_t>(x)) ? 1 : 0;
    }
    for (int c = 0; c < 3; ++c) {
        if constexpr (kDoubles) SpreadingColours(colours[c], on, f.width, value[c]);
        if constexpr (Fused) SpreadingColours(colours[c], on, f.width, single[c]);
    }
    for (int32_t x = 0; x < f.width; ++x) {
        if constexpr (kDoubles) value[3][x] = on[x];
        if constexpr (Fused) single[3][x] = on[x];
    }
    CountSpreading(on, f.width, before);
}

// out[x] = the colour for x below the width, 0 from there to padded.
[[gnu::always_inline]] inline void SeedColours(const uint8_t* __restrict colour, int32_t width,
                                               std::size_t padded, double* __restrict out) {
    const auto w = static_cast<std::size_t>(width);
    for (std::size_t x = 0; x < w; ++x) out[x] = colour[x];
    for (std::size_t x = w; x < padded; ++x) out[x] = 0.0;
}

// Seeds the strip's sums with the receivers' own colours, weight 1 (unless
// the weights are summed apart), and notes how each receiver and each run
// of L takes contributions.
template <int32_t Mode, int L>
void SeedStrip(const Job& job, Workspace& ws, int32_t first, int32_t end, bool weights,
               double* const* sums) {
    const FrameView& f = *job.frame;
    const std::size_t p = job.padded;
    const std::size_t runsPerRow = p / L;
    for (int32_t yy = first; yy < end; ++yy) {
        const std::size_t o = static_cast<std::size_t>(yy - first) * p;
        const std::size_t row = f.Index(0, yy);
        SeedColours(f.red + row, f.width, p, sums[0] + o);
        SeedColours(f.green + row, f.width, p, sums[1] + o);
        SeedColours(f.blue + row, f.width, p, sums[2] + o);
        if (weights) std::fill(sums[3] + o, sums[3] + o + p, 1.0);
        uint8_t* const takes = ws.takes.data() + o;
        const auto width = static_cast<std::size_t>(f.width);
        for (std::size_t x = 0; x < width; ++x) takes[x] = TakeOf<Mode>(*job.settings, f, row + x);
        // Columns past the frame's edge gather too, but are never read.
        std::fill(takes + width, takes + p, uint8_t{kTakeFull});
        uint8_t* const runs = ws.runs.data() + static_cast<std::size_t>(yy - first) * runsPerRow;
        for (std::size_t r = 0; r < runsPerRow; ++r) {
            // Takes are 0, 1 or 2: all are 1 when their AND is, none is
            // taken when their OR is 0.
            uint8_t all = 0xFF;
            uint8_t any = 0;
            for (std::size_t x = r * L; x < (r + 1) * L; ++x) {
                all &= takes[x];
                any |= takes[x];
            }
            runs[r] = all == kTakeFull ? kRunFull : (any == 0 ? kRunNone : kRunMixed);
        }
    }
}

// In the full frame every pixel spreads, so a receiver's weight sum depends
// only on where the frame's edges cut its footprint rows: the receivers at
// least `margin` columns (the widest half-width) from both edges share
// theirs. Sums the weights of receiving row yy for the margin columns at
// either edge and one column between them, in the order of the gather, and
// writes every receiver's into weightRow. Needs a frame wider than twice the
// margin and a table of 2 x width + 1 weights.
void SharedWeightSums(const FootprintProfile& fp, int32_t yy, int32_t width, int32_t height,
                      float* table, float* distinct, double* weightRow) {
    const int32_t margin = fp.MaxHalfWidth();
    const int32_t count = 2 * margin + 1;
    // distinct[k] belongs to column k for k <= margin, and to column
    // width - count + k for the others.
    for (int32_t k = 0; k < count; ++k) distinct[k] = 1.0f;
    const int32_t reachRows = fp.Reach();
    const int32_t yFrom = yy > reachRows ? yy - reachRows : 0;
    const int32_t yTo = height - 1 - yy > reachRows ? yy + reachRows : height - 1;
    for (int32_t y = yFrom; y <= yTo; ++y) {
        const int32_t top = fp.Top(y);
        if (yy < top || yy > fp.Bottom(y)) continue;
        const int32_t hw = fp.HalfWidth(yy - top);
        if (hw < 0) continue;
        const int32_t reach = FillWeights(fp.Radius(), yy - y, hw, table);
        if (reach < 0) continue;
        const float* const w = table + hw;
        for (int32_t k = 0; k < count; ++k) {
            const int32_t x = k <= margin ? k : width - count + k;
            const int32_t lo = reach < x ? -reach : -x;
            const int32_t hi = reach < width - 1 - x ? reach : width - 1 - x;
            float sum = distinct[k];
            for (int32_t dx = lo; dx <= hi; ++dx) {
                sum = static_cast<float>(static_cast<double>(sum) + static_cast<double>(w[dx]));
            }
            distinct[k] = sum;
        }
    }
    for (int32_t x = 0; x < width; ++x) {
        const int32_t k = x <= margin ? x : (x >= width - margin ? x - (width - count) : margin);
        weightRow[x] = distinct[k];
    }
}

// The AVX2 gathers of one run, each a function of its own built for AVX2,
// so that its sums stay in registers whatever the code around it. (The
// SSE2 runs are short enough to gain from being inlined.)
#if LUMAFEX_WIDE_VECTORS
template <bool ByBits, int Channels>
[[gnu::noinline, gnu::target("avx2")]] void GatherFullAvx2(const SumLanes& sums, int32_t x0,
                                                          int32_t width,
                                                          const SourceRowLanes* rows,
                                                          int32_t count) {
    GatherFullLanes<4, kRunVectors, ByBits, Channels>(sums, x0, width, rows, count);
}
template <bool ByBits>
[[gnu::noinline, gnu::target("avx2")]] void GatherMixedAvx2(
    const SumLanes& sums, int32_t x0, int32_t width, const SourceRowLanes* rows, int32_t count,
    const int64_t* full, const int64_t* blended, const double (*own)[4 * kRunVectors]) {
    GatherMixedLanes<4, kRunVectors, ByBits>(sums, x0, width, rows, count, full, blended, own);
}
#endif

template <int W, bool ByBits, int Channels>
[[gnu::always_inline]] inline void GatherFull(const SumLanes& sums, int32_t x0, int32_t width,
                                              const SourceRowLanes* rows, int32_t count) {
    if constexpr (W == 2) {
        GatherFullLanes<2, kRunVectors, ByBits, Channels>(sums, x0, width, rows, count);
    } else {
#if LUMAFEX_WIDE_VECTORS
        GatherFullAvx2<ByBits, Channels>(sums, x0, width, rows, count);
#else
        static_assert(W == 2, "the AVX2 gathers exist only with wide vectors");
#endif
    }
}

template <int W, bool ByBits>
[[gnu::always_inline]] inline void GatherMixed(const SumLanes& sums, int32_t x0, int32_t width,
                                               const SourceRowLanes* rows, int32_t count,
                                               const int64_t* full, const int64_t* blended,
                                               const double (*own)[W * kRunVectors]) {
    if constexpr (W == 2) {
        GatherMixedLanes<2, kRunVectors, ByBits>(sums, x0, width, rows, count, full, blended,
                                                 own);
    } else {
#if LUMAFEX_WIDE_VECTORS
        GatherMixedAvx2<ByBits>(sums, x0, width, rows, count, full, blended, own);
#else
        static_assert(W == 2, "the AVX2 gathers exist only with wide vectors");
#endif
    }
}

// A receiving row as a strip gathers it: the source rows of the block that
// reach it (source[i] is rows[i]'s place in the block), its sums, how its
// runs and receivers take, and where it lies in the frame.
struct Receiving {
    SourceRowLanes rows[kBlockRows];
    int32_t source[kBlockRows];
    int32_t count;
    bool blendReady;  // whether the rows' t and 1 - t are filled in
    SumLanes sums;
    const uint8_t* runs;
    const uint8_t* takes;
    std::size_t at;
};

// Gathers the receiving rows first .. end-1 and averages them into the
// result planes. Fused (with W = 4) takes the receivers of full runs in
// single-precision lanes, 32 at a time, and the others 8 at a time as
// doubles.
template <int32_t Mode, int W, bool Fused>
[[gnu::always_inline]] inline void SofterStrip(Job& job, Workspace& ws, int32_t first,
                                               int32_t end) {
    const FrameView& f = *job.frame;
    const FootprintProfile& fp = *job.footprint;
    const std::size_t p = job.padded;
    const std::size_t planeSize = p * static_cast<std::size_t>(job.strips.perStrip);
    double* const sums[4] = {ws.sums.data(), ws.sums.data() + planeSize,
                            ws.sums.data() + 2 * planeSize, ws.sums.data() + 3 * planeSize};
    constexpr int kMixedLanes = W * kRunVectors;
    constexpr int kLanes = Fused ? 8 * kFusedVectors : kMixedLanes;

    const std::size_t sourceRow = p + 2 * kMaxLanes;
    const std::size_t table = 2 * static_cast<std::size_t>(f.width) + 1;
    const float radius = fp.Radius();
    const double r = static_cast<double>(radius);
    const std::size_t runsPerRow = p / kLanes;
    const int32_t width = f.width;
    // With an infinite radius the weights are infinite too, and only the
    // mixed form adds exactly nothing for the pixels that do not spread.
    const bool finite = r <= std::numeric_limits<double>::max();
    // Rounding on the bits pays with AVX2's three-operand instructions; with
    // SSE2 the register copies it needs cost more than two conversions.
    const bool byBits = W >= 4 && SumsStayNormal(radius, f.width, f.height);
    // Whether the receivers' weight sums are summed apart from the gather,
    // once for all but the columns near the edges (worth it only while
    // those are few).
    const bool sharedWeights = Mode == kIncludeFullFrame && finite &&
                               4 * (2 * static_cast<int64_t>(fp.MaxHalfWidth()) + 1) <= width;
    SeedStrip<Mode, kLanes>(job, ws, first, end, !sharedWeights, sums);

    // The source rows that reach the strip, top to bottom, a block of up to
    // kBlockRows spreading ones at a time: each receiving row takes the
    // rows of a block in turn while its sums stay in registers.
    const int32_t reachRows = fp.Reach();
    const int32_t yFrom = first > reachRows ? first - reachRows : 0;
    const int32_t yTo = f.height - end > reachRows ? end - 1 + reachRows : f.height - 1;
    for (int32_t y = yFrom; y <= yTo;) {
        int32_t block[kBlockRows];
        int32_t n = 0;
        for (; y <= yTo && n < kBlockRows; ++y) {
            if (job.rowSpreads[y] == 0) continue;
            double* value[4];
            float* single[4];
            for (int c = 0; c < 4; ++c) {
                value[c] = ws.values.data() + (4 * n + c) * sourceRow + kMaxLanes;
                single[c] = ws.singles.data() + (4 * n + c) * sourceRow + kMaxLanes;
            }
            PrepareSource<Mode, Fused>(f, *job.settings, y, value, single,
                                       ws.before.data() + n * static_cast<std::size_t>(width + 1),
                                       ws.on.data());
            block[n++] = y;
        }
        if (n == 0) continue;
        const int32_t from = fp.Top(block[0]) > first ? fp.Top(block[0]) : first;
        const int32_t to = fp.Bottom(block[n - 1]) < end - 1 ? fp.Bottom(block[n - 1]) : end - 1;
        // The source rows of the block that reach receiving row yy, with
        // their weights in the tables of the given slot (0 or 1).
        auto collect = [&](int32_t yy, int32_t slot, Receiving& rc) __attribute__((always_inline)) {
            rc.count = 0;
            rc.blendReady = false;
            for (int32_t k = 0; k < n; ++k) {
                const int32_t top = fp.Top(block[k]);
                if (yy < top || yy > fp.Bottom(block[k])) continue;
                const int32_t hw = fp.HalfWidth(yy - top);
                if (hw < 0) continue;
                // The weights stay above 0 out to `reach` columns either side.
                const std::size_t t = static_cast<std::size_t>(slot * kBlockRows + rc.count);
                float* const weights = ws.weights.data() + t * table;
                const int32_t reach = FillWeights(radius, yy - block[k], hw, weights);
                if (reach < 0) continue;
                const std::size_t v = 4 * static_cast<std::size_t>(k) * sourceRow + kMaxLanes;
                rc.rows[rc.count] = {{ws.values.data() + v, ws.values.data() + v + sourceRow,
                                      ws.values.data() + v + 2 * sourceRow,
                                      ws.values.data() + v + 3 * sourceRow},
                                     {ws.singles.data() + v, ws.singles.data() + v + sourceRow,
                                      ws.singles.data() + v + 2 * sourceRow,
                                      ws.singles.data() + v + 3 * sourceRow},
                                     ws.before.data() + k * static_cast<std::size_t>(width + 1),
                                     weights + hw,
                                     ws.blend.data() + 2 * t * table + hw,
                                     ws.blend.data() + (2 * t + 1) * table + hw,
                                     reach};
                rc.source[rc.count++] = k;
            }
            const std::size_t o = static_cast<std::size_t>(yy - first) * p;
            rc.sums = {{sums[0] + o, sums[1] + o, sums[2] + o, sums[3] + o}};
            rc.runs = ws.runs.data() + static_cast<std::size_t>(yy - first) * runsPerRow;
            rc.at = f.Index(0, yy);
            rc.takes = ws.takes.data() + o;
        };
        // Gathers the run of receivers at x0 of one receiving row.
        auto gatherRun = [&](Receiving& rc, int32_t x0) __attribute__((always_inline)) {
            const RunKind kind = static_cast<RunKind>(rc.runs[x0 / kLanes]);
            if (rc.count == 0 || kind == kRunNone) return;
            const SourceRowLanes* const rows = rc.rows;
            const int32_t count = rc.count;
            const SumLanes& row = rc.sums;
            if (kind == kRunFull && finite) {
#if LUMAFEX_WIDE_VECTORS
                if constexpr (Fused) {
                    if (sharedWeights) {
                        GatherFullFused<kFusedVectors, 3>(row, x0, width, rows, count);
                    } else {
                        GatherFullFused<kFusedVectors, 4>(row, x0, width, rows, count);
                    }
                    return;
                }
#endif
                if (sharedWeights && byBits) {
                    GatherFull<W, true, 3>(row, x0, width, rows, count);
                } else if (sharedWeights) {
                    GatherFull<W, false, 3>(row, x0, width, rows, count);
                } else if (byBits) {
                    GatherFull<W, true, 4>(row, x0, width, rows, count);
                } else {
                    GatherFull<W, false, 4>(row, x0, width, rows, count);
                }
                return;
            }
            if (!rc.blendReady) {
                // t in double: how much of the spread colour a blended
                // receiver takes, from 1 at the centre to 0 at r.
                for (int32_t k = 0; k < count; ++k) {
                    double* const t = rows[k].t;
                    double* const rest = rows[k].rest;
                    for (int32_t dx = -rows[k].reach; dx <= rows[k].reach; ++dx) {
                        t[dx] = static_cast<double>(rows[k].weight[dx]) / r;
                        rest[dx] = 1.0 - t[dx];
                    }
                }
                rc.blendReady = true;
            }
            for (int32_t x1 = x0; x1 < x0 + kLanes && x1 < width; x1 += kMixedLanes) {
                int64_t full[kMixedLanes];
                int64_t blended[kMixedLanes];
                double own[3][kMixedLanes];
                const uint8_t* const takes = rc.takes + x1;
                const std::size_t at = rc.at + static_cast<std::size_t>(x1);
                for (int i = 0; i < kMixedLanes; ++i) {
                    full[i] = takes[i] == kTakeFull ? -1 : 0;
                    blended[i] = takes[i] == kTakeBlended ? -1 : 0;
                    const bool inside = x1 + i < width;
                    own[0][i] = inside ? f.red[at + i] : 0.0;
                    own[1][i] = inside ? f.green[at + i] : 0.0;
                    own[2][i] = inside ? f.blue[at + i] : 0.0;
                }
                if (byBits) {
                    GatherMixed<W, true>(row, x1, width, rows, count, full, blended, own);
                } else {
                    GatherMixed<W, false>(row, x1, width, rows, count, full, blended, own);
                }
            }
        };
        // The fused form takes two receiving rows at a time, and gathers
        // their runs that both take in full together.
        constexpr int32_t kRowsAtOnce = Fused ? 2 : 1;
        for (int32_t yy = from; yy <= to; yy += kRowsAtOnce) {
            Receiving rc[kRowsAtOnce];
            collect(yy, 0, rc[0]);
            if constexpr (!Fused) {
                for (int32_t x0 = 0; x0 < width; x0 += kLanes) gatherRun(rc[0], x0);
                continue;
            }
#if LUMAFEX_WIDE_VECTORS
            if constexpr (Fused) {
                if (yy + 1 > to) {
                    for (int32_t x0 = 0; x0 < width; x0 += kLanes) gatherRun(rc[0], x0);
                    continue;
                }
                collect(yy + 1, 1, rc[1]);
                // The source rows that reach either, in order.
                SourceRowPair pairs[kBlockRows];
                int32_t count = 0;
                for (int32_t i = 0, j = 0; i < rc[0].count || j < rc[1].count; ++count) {
                    const int32_t a = i < rc[0].count ? rc[0].source[i] : n;
                    const int32_t b = j < rc[1].count ? rc[1].source[j] : n;
                    pairs[count] = {{a <= b ? &rc[0].rows[i] : nullptr,
                                     b <= a ? &rc[1].rows[j] : nullptr}};
                    i += a <= b ? 1 : 0;
                    j += b <= a ? 1 : 0;
                }
                const SumLanes both[2] = {rc[0].sums, rc[1].sums};
                // While every reach stays within the zeros around the source
                // rows, the runs that both rows take in full go along one
                // list of steps (weighted_lanes.h).
                int32_t steps = 0;
                bool stepped = finite && rc[0].count > 0 && rc[1].count > 0;
                for (int32_t k = 0; k < count && stepped; ++k) {
                    const int32_t reachA = pairs[k].row[0] ? pairs[k].row[0]->reach : -1;
                    const int32_t reachB = pairs[k].row[1] ? pairs[k].row[1]->reach : -1;
                    const int32_t most = reachA > reachB ? reachA : reachB;
                    stepped = most <= kMaxLanes;
                    if (!stepped) break;
                    const SourceRowLanes& row = *(pairs[k].row[0] ? pairs[k].row[0]
                                                                  : pairs[k].row[1]);
                    for (int32_t dx = -most; dx <= most; ++dx) {
                        const bool a = dx >= -reachA && dx <= reachA;
                        const bool b = dx >= -reachB && dx <= reachB;
                        ws.steps[static_cast<std::size_t>(steps++)] = {
                            row.single[0] + dx,
                            {a ? pairs[k].row[0]->weight[dx] : 0.0f,
                             b ? pairs[k].row[1]->weight[dx] : 0.0f}};
                    }
                }
                for (int32_t x0 = 0; x0 < width; x0 += kLanes) {
                    const bool together = stepped && rc[0].runs[x0 / kLanes] == kRunFull &&
                                          rc[1].runs[x0 / kLanes] == kRunFull;
                    if (together && sharedWeights) {
                        for (int32_t x1 = x0; x1 < x0 + kLanes; x1 += 16) {
                            GatherFullFusedSteps<2, 3>(both, x1, ws.steps.data(), steps,
                                                       sourceRow);
                        }
                    } else if (together) {
                        for (int32_t x1 = x0; x1 < x0 + kLanes; x1 += 8) {
                            GatherFullFusedSteps<1, 4>(both, x1, ws.steps.data(), steps,
                                                       sourceRow);
                        }
                    } else {
                        gatherRun(rc[0], x0);
                        gatherRun(rc[1], x0);
                    }
                }
            }
#endif
        }
    }

    // Summed apart, the weights of a receiving row depend only on which of
    // its sources' footprint rows the top and bottom edges cut. Rows at
    // least 2R rows from both edges (R the reach) have every one whole, so
    // they share one row of weight sums, made once with its reciprocals.
    const int64_t interiorFrom = 2 * int64_t{reachRows};
    const int64_t interiorTo = f.height - 1 - 2 * int64_t{reachRows};
    bool interiorReady = false;

    // Averages: the colour sums over the weight sum, limited to 0 .. 255
    // and truncated. A receiver without a positive weight keeps its colour.
    for (int32_t yy = first; yy < end; ++yy) {
        const std::size_t o = static_cast<std::size_t>(yy - first) * p;
        const double* weightRow = sums[3] + o;
        const double* reciprocals = nullptr;
        if (sharedWeights && yy >= interiorFrom && yy <= interiorTo) {
            double* const shared = ws.interior.data();
            if (!interiorReady) {
                SharedWeightSums(fp, yy, width, f.height, ws.weights.data(), ws.shared.data(),
                                 shared);
                for (int32_t x = 0; x < width; ++x) shared[width + x] = 1.0 / shared[x];
                interiorReady = true;
            }
            weightRow = shared;
            reciprocals = shared + width;
        } else if (sharedWeights) {
            SharedWeightSums(fp, yy, width, f.height, ws.weights.data(), ws.shared.data(),
                             sums[3] + o);
        }
        const std::size_t row = f.Index(0, yy);
        const uint8_t* const own[3] = {f.red + row, f.green + row, f.blue + row};
#if LUMAFEX_WIDE_VECTORS
        if constexpr (W == 4) {
            const double* const rowSums[4] = {sums[0] + o, sums[1] + o, sums[2] + o, weightRow};
            uint8_t* const out[3] = {job.result[0] + row, job.result[1] + row,
                                     job.result[2] + row};
            AverageRowsWide(rowSums, reciprocals, own, width, out);
            continue;
        }
#endif
        (void)reciprocals;
        for (int c = 0; c < 3; ++c) {
            AverageRow(sums[c] + o, weightRow, own[c], width, job.result[c] + row);
        }
    }
}

template <int W, bool Fused>
[[gnu::always_inline]] inline void SofterStripInMode(Job& job, Workspace& ws, int32_t first,
                                                     int32_t end) {
    WithMode(job.settings->FilterInclude, [&](auto mode) __attribute__((always_inline)) {
        SofterStrip<decltype(mode)::value, W, Fused>(job, ws, first, end);
    });
}

void SofterStripSse2(Job& job, Workspace& ws, int32_t first, int32_t end) {
    SofterStripInMode<2, false>(job, ws, first, end);
}

#if LUMAFEX_WIDE_VECTORS
__attribute__((target("avx2"))) void SofterStripAvx2(Job& job, Workspace& ws, int32_t first,
                                                     int32_t end) {
    SofterStripInMode<4, false>(job, ws, first, end);
}

__attribute__((target("avx2,fma"))) void SofterStripFused(Job& job, Workspace& ws,
                                                          int32_t first, int32_t end) {
    SofterStripInMode<4, true>(job, ws, first, end);
}
#endif

// One thread's share: its own working rows, then strips until none is left.
void SofterWorker(Job& job, void (*strip)(Job&, Workspace&, int32_t, int32_t)) {
    Workspace ws;
    if (!ws.Allocate(static_cast<std::size_t>(job.frame->width), job.padded,
                     static_cast<std::size_t>(job.strips.perStrip))) {
        job.failed = true;
        return;
    }
    int32_t first = 0;
    int32_t end = 0;
    while (!job.failed && job.queue.Next(first, end)) strip(job, ws, first, end);
}

template <int32_t Mode>
bool AnySpreads(const FrameView& f, const FilterSettings& s, uint8_t* rowSpreads) {
    bool any = false;
    for (int32_t y = 0; y < f.height; ++y) {
        const std::size_t row = f.Index(0, y);
        uint8_t found = 0;
        for (int32_t x = 0; x < f.width && found == 0; ++x) {
            found = PixelSelectedIn<Mode>(s, f, row + static_cast<std::size_t>(x)) ? 1 : 0;
        }
        rowSpreads[y] = found;
        any = any || found != 0;
    }
    return any;
}

bool FindSpreadingRows(const FrameView& f, const FilterSettings& s, uint8_t* rowSpreads) {
    bool any = false;  // a mode outside the five selects no pixel
    WithMode(s.FilterInclude,
             [&](auto mode) { any = AnySpreads<decltype(mode)::value>(f, s, rowSpreads); });
    return any;
}

}  // namespace

bool SofterBlurPass(const FrameView& frame, const FilterSettings& settings,
                    const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    FootprintProfile footprint;
    if (!footprint.Reserve(frame.width, frame.height,
                           FootprintReach(params.BlurAmount, frame.height))) {
        return false;
    }
    // The averaged planes, kept apart until every strip has read the frame.
    const std::size_t pixels = frame.PixelCount();
    auto result = pixels > std::numeric_limits<std::size_t>::max() / 3
                      ? platform::WorkingArray<uint8_t>()
                      : platform::WorkingArray<uint8_t>::Allocate(3 * pixels);
    auto rowSpreads =
        platform::WorkingArray<uint8_t>::Allocate(static_cast<std::size_t>(frame.height));
    if (!result || !rowSpreads) return false;
    // Without a radius, or without a spreading pixel, every pixel averages
    // its own colour with weight 1: it stays as it is.
    if (!(params.BlurAmount > 0.0f)) return true;
    if (!FindSpreadingRows(frame, settings, rowSpreads.data())) return true;
    footprint.Set(params.BlurAmount, kSofterAngleConstant);

    const uint64_t wholeRuns =
        (static_cast<uint64_t>(frame.width) + kMaxLanes - 1) / kMaxLanes * kMaxLanes;
    if (wholeRuns > std::numeric_limits<std::size_t>::max() / 64) return false;
    const auto padded = static_cast<std::size_t>(wholeRuns);
    Job job{&frame,
            &settings,
            &footprint,
            rowSpreads.data(),
            {result.data(), result.data() + pixels, result.data() + 2 * pixels},
            RowStrips::For(frame.width, frame.height),
            padded};
    void (*strip)(Job&, Workspace&, int32_t, int32_t) = SofterStripSse2;
#if LUMAFEX_WIDE_VECTORS
    if (Allows(params.instructionSet, InstructionSet::Avx2Fma)) {
        // Receivers that take the full colour take nothing else (how a
        // receiver takes depends on itself alone), so their sums qualify.
        strip = OneRoundingSuffices(params.BlurAmount, frame.width, frame.height)
                    ? SofterStripFused
                    : SofterStripAvx2;
    }
#endif
    ForEachTask(job.queue.Workers(), [&job, strip](int32_t) { SofterWorker(job, strip); });
    if (job.failed) return false;
    std::memcpy(frame.red, job.result[0], pixels);
    std::memcpy(frame.green, job.result[1], pixels);
    std::memcpy(frame.blue, job.result[2], pixels);
    return true;
}

}  // namespace lumafex

// The plain blur. Every selected pixel adds its colour to every pixel of its
// footprint (radius BlurAmount), each receiver counting the contributions;
// afterwards every pixel becomes the integer average of its own colour and
// what it received. All tests and colours are read from the frame as it was
// when the pass began; the planes change only at the write-back.
//
// Every contribution is an integer of its own and the sums are integers, so
// the order of the additions does not matter. That lets the pass gather:
// all pixels of a row share their footprint's shape, so a receiver gets
// from each source row exactly the spreading pixels within the half-width
// of the footprint row that lands on it, and that sum is the difference of
// two prefix sums of the source row. How a receiver takes a contribution
// (whole, or averaged with its own colour) depends only on the receiver, and
// the averaged form is linear in the counts and sums (HalfSum below), so a
// receiver first gathers plain totals and applies its rule once.
//
// The frame is cut into strips of receiver rows, worked on by the threads.
// Footprints of fewer than 256 pixels (every radius up to about 8) sum in
// sixteen-bit vector lanes, a receiving row at a time, and write most rows
// in place (narrow_blur.cpp). Larger ones sum in 32 or 64 bits, a
// source row at a time into the strip's rows, each strip writing its
// averages to its own rows of a result copy, which replaces the colour
// planes once every strip is done. Their prefix sums and averages run on
// integer lanes (blur_lanes.h), built for SSE2 and, where the frame allows
// it, AVX2.
#include "pipeline/passes/blur.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "pipeline/frame/lanes/int_lanes.h"
#include "pipeline/frame/lanes/lanes_target.h"
#include "pipeline/frame/selection.h"
#include "pipeline/frame/strips.h"
#include "pipeline/frame/thread_pool.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/blur_sums.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/passes/narrow_blur.h"

namespace lumafex {

namespace {

using namespace blur_sums;

// numerator / d, truncated, for 32-bit sums: numerator below 2^31, d below
// 2^23 and the quotient at most 255, by the reciprocal fl(1 / d) the three
// channels of a pixel share. The true (numerator + 0.5) / d lies at least
// 0.5 / d > 2^-24 from every whole number; the two roundings move a value
// below 256 by less than 2^-43.
int64_t QuotientByInverse(uint64_t numerator, double inverse) {
    return static_cast<int64_t>((static_cast<double>(numerator) + 0.5) * inverse);
}

// Unsigned arithmetic, so that prefix sums may wrap: a window's sum is the
// difference of two prefix sums modulo 2^bits, exact whenever the true sum
// fits. Thirty-two bits serve whatever NeedsWideSums allows, 64 the rest
// (footprints of fewer than 256 pixels take the narrow form).
template <typename U>
struct StripJob {
    const FrameView* frame;
    const FilterSettings* settings;
    const FootprintProfile* footprint;
    const uint8_t* rowSpreads;  // per row: whether any of its pixels spreads
    const U* clippedTotals;     // column totals of rows 0 .. R, value after value
    uint8_t* result[3];         // the averaged planes
    InstructionSet set;         // the widest lanes the frame allows
    RowStrips strips;
    StripQueue queue{strips};
    std::atomic<bool> failed{false};
};

// Fills the prefix sums of the spreading pixels of row y: prefix[v][x] over
// the columns before x.
template <int32_t Mode, typename U>
void BuildPrefix(const FrameView& f, const FilterSettings& s, int32_t y, U* const* prefix) {
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    U sum[kValues] = {};
    for (int v = 0; v < kModeValues; ++v) prefix[v][0] = 0;
    const std::size_t row = f.Index(0, y);
    for (int32_t x = 0; x < f.width; ++x) {
        const std::size_t i = row + static_cast<std::size_t>(x);
        const U m = PixelSelectedIn<Mode>(s, f, i) ? 1 : 0;
        sum[kRed] = static_cast<U>(sum[kRed] + m * f.red[i]);
        sum[kGreen] = static_cast<U>(sum[kGreen] + m * f.green[i]);
        sum[kBlue] = static_cast<U>(sum[kBlue] + m * f.blue[i]);
        sum[kCount] = static_cast<U>(sum[kCount] + m);
        if constexpr (kHasHalf<Mode>) {
            sum[kOddRed] = static_cast<U>(sum[kOddRed] + (m & f.red[i]));
            sum[kOddGreen] = static_cast<U>(sum[kOddGreen] + (m & f.green[i]));
            sum[kOddBlue] = static_cast<U>(sum[kOddBlue] + (m & f.blue[i]));
        }
        for (int v = 0; v < kModeValues; ++v) prefix[v][x + 1] = sum[v];
    }
}

// Adds row y's spreading values to the column totals, or takes them away.
template <int32_t Mode, bool Remove, typename U>
void AddToColumns(const FrameView& f, const FilterSettings& s, int32_t y, U* const* columns) {
    const std::size_t row = f.Index(0, y);
    for (int32_t x = 0; x < f.width; ++x) {
        const std::size_t i = row + static_cast<std::size_t>(x);
        const U m = PixelSelectedIn<Mode>(s, f, i) ? 1 : 0;
        U add[kValues] = {static_cast<U>(m * f.red[i]), static_cast<U>(m * f.green[i]),
                          static_cast<U>(m * f.blue[i]), m,
                          static_cast<U>(m & f.red[i]), static_cast<U>(m & f.green[i]),
                          static_cast<U>(m & f.blue[i])};
        constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
        for (int v = 0; v < kModeValues; ++v) {
            U& total = columns[v][x];
            total = static_cast<U>(Remove ? total - add[v] : total + add[v]);
        }
    }
}

// prefix[v][x] = the column totals of the columns before x.
template <int Values, typename U>
void ColumnPrefix(const U* const* columns, int32_t width, U* const* prefix) {
    const auto w = static_cast<std::size_t>(width);
    for (int v = 0; v < Values; ++v) {
        U sum = 0;
        prefix[v][0] = 0;
        for (std::size_t x = 0; x < w; ++x) {
            sum = static_cast<U>(sum + columns[v][x]);
            prefix[v][x + 1] = sum;
        }
    }
}

// acc[x] += the sum of the source row over columns x - hw .. x + hw, clipped
// to the row: three plain loops, the middle one (no clipping) vectorisable.
template <typename U>
void AddWindows(U* __restrict acc, const U* __restrict prefix, int32_t width, int32_t hw) {
    const int32_t leftEnd = hw < width ? hw : width;  // columns whose window starts at 0
    int32_t x = 0;
    for (; x < leftEnd; ++x) {
        const int32_t hi = width - 1 - x > hw ? x + hw + 1 : width;
        acc[x] = static_cast<U>(acc[x] + prefix[hi]);
    }
    const int32_t middleEnd = width - hw;  // columns whose window fits entirely
    for (; x < middleEnd; ++x) {
        acc[x] = static_cast<U>(acc[x] + static_cast<U>(prefix[x + hw + 1] - prefix[x - hw]));
    }
    for (; x < width; ++x) {
        acc[x] = static_cast<U>(acc[x] + static_cast<U>(prefix[width] - prefix[x - hw]));
    }
}

#if LUMAFEX_INT_LANES
// The row loops on 32-bit lanes, compiled once for each set of lanes: the
// wide copy with the wider instructions enabled for every function in it.
namespace narrow {
using L = Sse2IntLanes;
#include "pipeline/passes/blur_lanes.h"
}  // namespace narrow
#if LUMAFEX_WIDE_VECTORS
LUMAFEX_LANES_BEGIN_AVX2
namespace wide {
using L = Avx2IntLanes;
#include "pipeline/passes/blur_lanes.h"
}  // namespace wide
LUMAFEX_LANES_END
#endif
#endif

// The lanes forms of a strip's loops over 32-bit sums; null where the
// scalar form serves (64-bit sums, or no lanes).
template <int32_t Mode>
struct RowKernels {
    void (*prefix)(const uint32_t*, std::size_t, uint32_t*) = nullptr;
    std::size_t (*average)(const FrameView&, const FilterSettings&, std::size_t, const uint32_t* const*,
                           uint8_t* const*) = nullptr;
};

template <int32_t Mode, typename U>
RowKernels<Mode> ChooseKernels([[maybe_unused]] InstructionSet set) {
    RowKernels<Mode> k;
#if LUMAFEX_INT_LANES
    if constexpr (sizeof(U) == 4) {
        k = {narrow::ColumnPrefix, narrow::AverageRuns<Mode>};
#if LUMAFEX_WIDE_VECTORS
        if (Allows(set, InstructionSet::Avx2Fma)) k = {wide::ColumnPrefix, wide::AverageRuns<Mode>};
#endif
    }
#endif
    return k;
}

// The column totals' prefix sums of every value, on lanes where kernels
// have them.
template <int Values, int32_t Mode, typename U>
void PrefixOfColumns(const RowKernels<Mode>& kernels, const U* const* columns, int32_t width,
                     U* const* prefix) {
    if constexpr (sizeof(U) == 4) {
        if (kernels.prefix != nullptr) {
            const auto w = static_cast<std::size_t>(width);
            for (int v = 0; v < Values; ++v) kernels.prefix(columns[v], w, prefix[v]);
            return;
        }
    }
    ColumnPrefix<Values>(columns, width, prefix);
}

// Adds to the strip's totals what the source rows 0 .. R spread (see
// BlurStrip), from their column totals.
template <int32_t Mode, typename U>
void GatherClippedRows(StripJob<U>& job, const RowKernels<Mode>& kernels, int32_t first, int32_t end,
                       U* const* acc, U* const* prefix, U* const* columns) {
    const FrameView& f = *job.frame;
    const FootprintProfile& fp = *job.footprint;
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const auto w = static_cast<std::size_t>(f.width);
    const int32_t reach = fp.Reach();
    const int32_t clippedLast = reach < f.height - 1 ? reach : f.height - 1;
    // The totals of rows from .. clippedLast: summed directly, or, when
    // fewer rows lie above from, as the frame's totals of rows
    // 0 .. clippedLast less those rows (none at all for a radius as
    // tall as the frame).
    const int32_t from = first > reach ? first - reach : 0;
    if (from <= clippedLast - from) {
        for (int v = 0; v < kModeValues; ++v) {
            std::memcpy(columns[v], job.clippedTotals + static_cast<std::size_t>(v) * w, w * sizeof(U));
        }
        for (int32_t y = 0; y < from; ++y) {
            if (job.rowSpreads[y] != 0) AddToColumns<Mode, true>(f, *job.settings, y, columns);
        }
    } else {
        for (int v = 0; v < kModeValues; ++v) std::memset(columns[v], 0, w * sizeof(U));
        for (int32_t y = from; y <= clippedLast; ++y) {
            if (job.rowSpreads[y] != 0) AddToColumns<Mode, false>(f, *job.settings, y, columns);
        }
    }
    for (int32_t yy = first; yy < end && yy - reach <= clippedLast; ++yy) {
        const int32_t leaving = yy - reach - 1;
        if (yy > first && leaving >= 0 && job.rowSpreads[leaving] != 0) {
            AddToColumns<Mode, true>(f, *job.settings, leaving, columns);
        }
        const int32_t hw = fp.HalfWidth(yy);
        if (hw < 0) continue;
        PrefixOfColumns<kModeValues>(kernels, columns, f.width, prefix);
        const std::size_t o = w * static_cast<std::size_t>(yy - first);
        for (int v = 0; v < kModeValues; ++v) AddWindows(acc[v] + o, prefix[v], f.width, hw);
    }
}

// Adds to the strip's totals what the source rows below the clipped ones
// whose footprints reach the strip spread, top to bottom.
template <int32_t Mode, typename U>
void GatherOtherRows(StripJob<U>& job, int32_t first, int32_t end, U* const* acc, U* const* prefix) {
    const FrameView& f = *job.frame;
    const FootprintProfile& fp = *job.footprint;
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const auto w = static_cast<std::size_t>(f.width);
    const int32_t reach = fp.Reach();
    const int32_t clippedLast = reach < f.height - 1 ? reach : f.height - 1;
    const int32_t top = first - reach > clippedLast ? first - reach : clippedLast + 1;
    const int32_t bottom = f.height - end > reach ? end - 1 + reach : f.height - 1;
    for (int32_t y = top; y <= bottom; ++y) {
        if (job.rowSpreads[y] == 0) continue;
        BuildPrefix<Mode>(f, *job.settings, y, prefix);
        const int32_t rowsTop = fp.Top(y);
        const int32_t from = rowsTop > first ? rowsTop : first;
        const int32_t to = fp.Bottom(y) < end - 1 ? fp.Bottom(y) : end - 1;
        for (int32_t yy = from; yy <= to; ++yy) {
            const int32_t hw = fp.HalfWidth(yy - rowsTop);
            if (hw < 0) continue;
            const std::size_t o = w * static_cast<std::size_t>(yy - first);
            for (int v = 0; v < kModeValues; ++v) AddWindows(acc[v] + o, prefix[v], f.width, hw);
        }
    }
}

// Each receiver of row `row` takes its totals a by its own rule and
// averages, from column x on.
template <int32_t Mode, typename U>
void AverageTail(const FrameView& f, const FilterSettings& s, std::size_t row, std::size_t x,
                 const U* const* a, uint8_t* const* out) {
    const uint8_t* const own[3] = {f.red + row, f.green + row, f.blue + row};
    for (; x < static_cast<std::size_t>(f.width); ++x) {
        const Take take = TakeOf<Mode>(s, f, row + x);
        const uint64_t n = take == Take::None ? 0 : a[kCount][x];
        const double inverse = 1.0 / static_cast<double>(n + 1);
        for (int c = 0; c < 3; ++c) {
            const uint64_t mine = own[c][x];
            uint64_t taken = take == Take::None ? 0 : a[kRed + c][x];
            if constexpr (kHasHalf<Mode>) {
                if (take == Take::Half) {
                    taken = static_cast<uint64_t>(HalfSum(static_cast<int64_t>(mine), static_cast<int64_t>(n),
                                                          static_cast<int64_t>(taken),
                                                          static_cast<int64_t>(a[kOddRed + c][x])));
                }
            }
            const uint64_t q =
                sizeof(U) == 4 ? QuotientByInverse(mine + taken, inverse) : Quotient<U>(mine + taken, n + 1);
            out[c][x] = static_cast<uint8_t>(q >= 255 ? 255 : q);
        }
    }
}

// Gathers and averages the rows first .. end-1 into the result planes.
template <int32_t Mode, typename U>
void BlurStrip(StripJob<U>& job, const RowKernels<Mode>& kernels, int32_t first, int32_t end, U* const* acc,
               U* const* prefix, U* const* columns) {
    const FrameView& f = *job.frame;
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const auto w = static_cast<std::size_t>(f.width);
    const std::size_t cells = w * static_cast<std::size_t>(end - first);
    for (int v = 0; v < kModeValues; ++v) std::memset(acc[v], 0, cells * sizeof(U));

    // Source rows 0 .. R have their footprints' tops cut off by the frame's
    // edge, so each starts at row 0 and reaches receiver row yy (when it
    // reaches it at all: y >= yy - R) with the same half-width,
    // HalfWidth(yy). Their contributions to yy are one window over the
    // column totals of those rows, kept as yy moves down: a row leaves when
    // it falls out of reach. That bounds the cost of a radius as tall as
    // the frame, where every source row is such a row, to a few operations
    // per pixel.
    const int32_t reach = job.footprint->Reach();
    const int32_t clippedLast = reach < f.height - 1 ? reach : f.height - 1;
    if (first - reach <= clippedLast) GatherClippedRows<Mode>(job, kernels, first, end, acc, prefix, columns);
    GatherOtherRows<Mode>(job, first, end, acc, prefix);

    // Each receiver takes its totals by its own rule and averages.
    for (int32_t yy = first; yy < end; ++yy) {
        const std::size_t row = f.Index(0, yy);
        const std::size_t o = w * static_cast<std::size_t>(yy - first);
        const U* a[kValues] = {};
        for (int v = 0; v < kModeValues; ++v) a[v] = acc[v] + o;
        uint8_t* const out[3] = {job.result[0] + row, job.result[1] + row, job.result[2] + row};
        std::size_t x = 0;
        if constexpr (sizeof(U) == 4) {
            if (kernels.average != nullptr) x = kernels.average(f, *job.settings, row, a, out);
        }
        AverageTail<Mode>(f, *job.settings, row, x, a, out);
    }
}

// One thread's share: its own working rows, then strips until none is left.
template <int32_t Mode, typename U>
void BlurWorker(StripJob<U>& job) {
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const auto w = static_cast<std::size_t>(job.frame->width);
    const auto rows = static_cast<std::size_t>(job.strips.perStrip);
    auto accBlock = platform::WorkingArray<U>::Allocate(kModeValues * w * rows);
    auto prefixBlock = platform::WorkingArray<U>::Allocate(kModeValues * (w + 1));
    auto columnBlock = platform::WorkingArray<U>::Allocate(kModeValues * w);
    if (!accBlock || !prefixBlock || !columnBlock) {
        job.failed = true;
        return;
    }
    U* acc[kValues] = {};
    U* prefix[kValues] = {};
    U* columns[kValues] = {};
    for (int v = 0; v < kModeValues; ++v) {
        acc[v] = accBlock.data() + static_cast<std::size_t>(v) * w * rows;
        prefix[v] = prefixBlock.data() + static_cast<std::size_t>(v) * (w + 1);
        columns[v] = columnBlock.data() + static_cast<std::size_t>(v) * w;
    }
    const RowKernels<Mode> kernels = ChooseKernels<Mode, U>(job.set);
    int32_t first = 0;
    int32_t end = 0;
    while (!job.failed && job.queue.Next(first, end)) {
        BlurStrip<Mode>(job, kernels, first, end, acc, prefix, columns);
    }
}

template <int32_t Mode, typename U>
[[nodiscard]] bool Gather(const FrameView& f, const FilterSettings& s, const FootprintProfile& footprint,
                          InstructionSet set, uint8_t* const* result) {
    const std::size_t h = static_cast<std::size_t>(f.height);
    auto spreads = platform::WorkingArray<uint8_t>::Allocate(h);
    if (!spreads) return false;
    for (int32_t y = 0; y < f.height; ++y) {
        const std::size_t row = f.Index(0, y);
        uint8_t any = 0;
        for (int32_t x = 0; x < f.width && any == 0; ++x) {
            any = PixelSelectedIn<Mode>(s, f, row + static_cast<std::size_t>(x)) ? 1 : 0;
        }
        spreads[static_cast<std::size_t>(y)] = any;
    }
    // The column totals of the rows whose footprints' tops are cut off.
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const auto w = static_cast<std::size_t>(f.width);
    auto totals = platform::WorkingArray<U>::Allocate(kModeValues * w);
    if (!totals) return false;
    U* columns[kValues] = {};
    for (int v = 0; v < kModeValues; ++v) columns[v] = totals.data() + static_cast<std::size_t>(v) * w;
    const int32_t clippedLast =
        footprint.Reach() < f.height - 1 ? footprint.Reach() : f.height - 1;
    for (int32_t y = 0; y <= clippedLast; ++y) {
        if (spreads[static_cast<std::size_t>(y)] != 0) AddToColumns<Mode, false>(f, s, y, columns);
    }
    StripJob<U> job{&f,
                    &s,
                    &footprint,
                    spreads.data(),
                    totals.data(),
                    {result[0], result[1], result[2]},
                    set,
                    RowStrips::For(f.width, f.height)};
    ForEachTask(job.queue.Workers(), [&job](int32_t) { BlurWorker<Mode>(job); });
    return !job.failed;
}

template <typename U>
[[nodiscard]] bool GatherInMode(const FrameView& f, const FilterSettings& s, const FootprintProfile& fp,
                                InstructionSet set, uint8_t* const* result) {
    // A mode that selects no pixel leaves the frame as it is.
    bool done = true;
    WithMode(s.FilterInclude,
             [&](auto mode) { done = Gather<decltype(mode)::value, U>(f, s, fp, set, result); });
    return done;
}

}  // namespace

bool BlurPass(const FrameView& frame, const FilterSettings& settings,
              const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    FootprintProfile footprint;
    const int32_t reach = FootprintReach(params.BlurAmount, frame.height);
    if (!footprint.Reserve(frame.width, frame.height, reach, params.instructionSet)) return false;
    if (params.BlurAmount > 0.0f && settings.FilterInclude >= kIncludeObjects &&
        settings.FilterInclude <= kIncludeColorRange) {
        footprint.Set(params.BlurAmount, kBlurAngleConstant);
        const int64_t rows = 2 * static_cast<int64_t>(reach) + 1;
        const int64_t columns = 2 * static_cast<int64_t>(footprint.MaxHalfWidth()) + 1;
        const int64_t tall = rows < frame.height ? rows : frame.height;
        const int64_t wideColumns = columns < frame.width ? columns : frame.width;
        // A receiver's totals stay below (tall x wideColumns + 1) x 255,
        // under 2^16 for a footprint of fewer than 256 pixels. Builds
        // without integer lanes take the general gather.
        if constexpr (LUMAFEX_INT_LANES != 0) {
            if (tall * wideColumns < 65535 / 255 - 1) {
                return NarrowBlurGather(frame, settings, footprint, params.instructionSet);
            }
        }
    }
    // The averaged planes, kept apart until every strip has read the frame.
    const std::size_t pixels = frame.PixelCount();
    auto result = pixels > std::numeric_limits<std::size_t>::max() / 3
                      ? platform::WorkingArray<uint8_t>()
                      : platform::WorkingArray<uint8_t>::Allocate(3 * pixels);
    if (!result) return false;
    // Without a radius nothing is spread: every pixel averages its own colour.
    if (!(params.BlurAmount > 0.0f)) return true;
    footprint.Set(params.BlurAmount, kBlurAngleConstant);
    uint8_t* const planes[3] = {result.data(), result.data() + pixels,
                                result.data() + 2 * pixels};

    const int64_t rows = 2 * static_cast<int64_t>(footprint.Reach()) + 1;
    const int64_t columns = 2 * static_cast<int64_t>(footprint.MaxHalfWidth()) + 1;
    const int64_t tall = rows < frame.height ? rows : frame.height;
    const int64_t wideColumns = columns < frame.width ? columns : frame.width;
    // A receiver's totals stay below (tall x wideColumns + 1) x 255.
    const bool done = NeedsWideSums(tall, wideColumns)
                          ? GatherInMode<uint64_t>(frame, settings, footprint, params.instructionSet, planes)
                          : GatherInMode<uint32_t>(frame, settings, footprint, params.instructionSet, planes);
    if (!done) return false;
    if (settings.FilterInclude < kIncludeObjects || settings.FilterInclude > kIncludeColorRange) {
        return true;
    }
    std::memcpy(frame.red, planes[0], pixels);
    std::memcpy(frame.green, planes[1], pixels);
    std::memcpy(frame.blue, planes[2], pixels);
    return true;
}

}  // namespace lumafex

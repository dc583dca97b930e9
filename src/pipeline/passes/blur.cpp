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
// in place (the narrow gather below). Larger ones sum in 32 or 64 bits, a
// source row at a time into the strip's rows, each strip writing its
// averages to its own rows of a result copy, which replaces the colour
// planes once every strip is done.
#include "pipeline/passes/blur.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "pipeline/frame/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/frame/strips.h"
#include "pipeline/frame/thread_pool.h"
#include "pipeline/passes/wide_vectors.h"

namespace lumafex {

namespace {

// How a receiving pixel takes a contribution, by selection mode: the whole
// colour, the average of its own and the spread colour, or nothing.
enum class Take { Full, Half, None };

template <int32_t Mode>
Take TakeOf(const FilterSettings& s, const FrameView& f, std::size_t j) {
    if constexpr (Mode == kIncludeObjects) return f.alpha[j] != 0 ? Take::Full : Take::Half;
    if constexpr (Mode == kIncludeBackground) return f.alpha[j] == 0 ? Take::Full : Take::None;
    if constexpr (Mode == kIncludeShadows) return f.shadow[j] != 0 ? Take::Full : Take::Half;
    if constexpr (Mode == kIncludeColorRange) {
        return InColorRange(s, f.red[j], f.green[j], f.blue[j]) ? Take::Full : Take::Half;
    }
    return Take::Full;
}

// Whether some receivers of this mode average their own colour with the
// spread one; only those need the counts of odd values.
template <int32_t Mode>
constexpr bool kHasHalf =
    Mode == kIncludeObjects || Mode == kIncludeShadows || Mode == kIncludeColorRange;

// The sum of (own + c) / 2 over n spreading values c, each division dropping
// its remainder: (n x own + sum of c - number of odd own + c) / 2, where
// own + c is odd for the odd c when own is even and for the even c when
// own is odd. The numerator is even, so the division is exact.
int64_t HalfSum(int64_t own, int64_t n, int64_t sum, int64_t odd) {
    const int64_t oddTotals = (own & 1) != 0 ? n - odd : odd;
    return (n * own + sum - oddTotals) / 2;
}

// Reciprocals for whole-number division by 1 .. 256: with
// M = ceil(2^32 / d) = (2^32 + e) / d, 0 <= e < d, n x M / 2^32 exceeds
// n / d by n x e / (d x 2^32), less than 1 / d whenever n x e < 2^32; then
// the product truncates to the quotient n / d exactly. Here n < 2^17 and
// e < 2^8.
struct Reciprocals {
    uint64_t of[257];  // 2^32 itself for d = 1
    constexpr Reciprocals() : of{} {
        for (uint64_t d = 1; d <= 256; ++d) {
            of[d] = ((uint64_t{1} << 32) + d - 1) / d;
        }
    }
};
constexpr Reciprocals kReciprocals;

// numerator / denominator, truncated. Sixteen-bit sums come from footprints
// of at most 255 pixels (numerator below 2^17, denominator at most 256);
// larger ones divide in double precision, whose quotient of two whole
// numbers below 2^53 never rounds up to the next whole number.
template <typename U>
uint64_t Quotient(uint64_t numerator, uint64_t denominator) {
    if constexpr (sizeof(U) == 2) {
        return (numerator * kReciprocals.of[denominator]) >> 32;
    } else {
        return static_cast<uint64_t>(static_cast<double>(numerator) /
                                     static_cast<double>(denominator));
    }
}

// numerator / d, truncated, for 32-bit sums: numerator below 2^31, d below
// 2^23 and the quotient at most 255, by the reciprocal fl(1 / d) the three
// channels of a pixel share. The true (numerator + 0.5) / d lies at least
// 0.5 / d > 2^-24 from every whole number; the two roundings move a value
// below 256 by less than 2^-43.
int64_t QuotientByInverse(uint64_t numerator, double inverse) {
    return static_cast<int64_t>((static_cast<double>(numerator) + 0.5) * inverse);
}

// The gathered values: colour sums, count, and odd counts per channel.
constexpr int kValues = 7;
enum Value { kRed, kGreen, kBlue, kCount, kOddRed, kOddGreen, kOddBlue };

// Unsigned arithmetic, so that prefix sums may wrap: a window's sum is the
// difference of two prefix sums modulo 2^bits, exact whenever the true sum
// fits. Sixteen bits serve small footprints (twice the lanes of a vector),
// 32 whatever NeedsWideSums allows, 64 the rest.
template <typename U>
struct StripJob {
    const FrameView* frame;
    const FilterSettings* settings;
    const FootprintProfile* footprint;
    const uint8_t* rowSpreads;  // per row: whether any of its pixels spreads
    const U* clippedTotals;     // column totals of rows 0 .. R, value after value
    uint8_t* result[3];         // the averaged planes
    RowStrips strips;
    std::atomic<int32_t> nextStrip{0};
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

// prefix[v][x] = the column totals of the columns before x. Thirty-two-bit
// totals run four columns at a time, each lane adding the lanes before it
// and the carry from the columns before.
template <int Values, typename U>
void ColumnPrefix(const U* const* columns, int32_t width, U* const* prefix) {
    typedef uint32_t Scan4 __attribute__((vector_size(16)));
    const auto w = static_cast<std::size_t>(width);
    for (int v = 0; v < Values; ++v) {
        U sum = 0;
        prefix[v][0] = 0;
        std::size_t x = 0;
        if constexpr (sizeof(U) == 4) {
            const Scan4 zero = {};
            Scan4 carry = {};
            for (; x + 4 <= w; x += 4) {
                Scan4 lanes;
                std::memcpy(&lanes, columns[v] + x, sizeof lanes);
                lanes += __builtin_shuffle(lanes, zero, Scan4{4, 0, 1, 2});
                lanes += __builtin_shuffle(lanes, zero, Scan4{4, 4, 0, 1});
                lanes += carry;
                std::memcpy(prefix[v] + x + 1, &lanes, sizeof lanes);
                carry = __builtin_shuffle(lanes, Scan4{3, 3, 3, 3});
            }
            sum = carry[0];
        }
        for (; x < w; ++x) {
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

// The lanes of a vector from memory of any alignment.
template <typename V>
[[gnu::always_inline]] inline V LoadLanes(const void* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Averages four receivers from x on from 32-bit totals, as the scalar form
// does (QuotientByInverse) in double-precision lanes. The receivers' own
// rule is a lane mask. An averaged take is the sum of (own + c) / 2 over
// the n spreading values c: with own = 2a + p and c = 2b + q each term is
// a + b + (p & q), so the sum is n x a + (sum - odd) / 2 + p x odd, every
// part well inside 32 bits.
template <int32_t Mode>
[[gnu::always_inline]] inline void AverageFour(const FrameView& f, const FilterSettings& s,
                                               std::size_t row, std::size_t x,
                                               const uint32_t* const* a, uint8_t* const* out) {
    typedef int32_t Ints4 __attribute__((vector_size(16)));
    typedef uint32_t Totals4 __attribute__((vector_size(16)));
    typedef double Doubles4 __attribute__((vector_size(32)));
    typedef uint8_t Bytes4 __attribute__((vector_size(4)));
    typedef uint16_t Halves4 __attribute__((vector_size(8)));
    const std::size_t i = row + x;
    auto widen = [](const uint8_t* p, Ints4& lanes) {
        lanes = __builtin_convertvector(
            __builtin_convertvector(LoadLanes<Bytes4>(p), Halves4), Ints4);
    };
    auto totals = [x](const uint32_t* p, Ints4& lanes) {
        lanes = (Ints4)LoadLanes<Totals4>(p + x);
    };
    Ints4 n;
    totals(a[kCount], n);
    Ints4 full = Ints4{} - 1;  // every lane whole
    if constexpr (Mode == kIncludeObjects || Mode == kIncludeBackground) {
        Ints4 alpha;
        widen(f.alpha + i, alpha);
        full = Mode == kIncludeObjects ? alpha != 0 : alpha == 0;
    } else if constexpr (Mode == kIncludeShadows) {
        Ints4 shadow;
        widen(f.shadow + i, shadow);
        full = shadow != 0;
    }
    Ints4 own[3];
    widen(f.red + i, own[0]);
    widen(f.green + i, own[1]);
    widen(f.blue + i, own[2]);
    if constexpr (Mode == kIncludeColorRange) {
        full = (s.r1 <= own[0]) & (own[0] <= s.r2) & (s.g1 <= own[1]) & (own[1] <= s.g2) &
               (s.b1 <= own[2]) & (own[2] <= s.b2);
    }
    if constexpr (Mode == kIncludeBackground) n &= full;
    const Doubles4 inverse = 1.0 / (__builtin_convertvector(n, Doubles4) + 1.0);
    for (int c = 0; c < 3; ++c) {
        Ints4 taken;
        totals(a[kRed + c], taken);
        if constexpr (Mode == kIncludeBackground) taken &= full;
        if constexpr (kHasHalf<Mode>) {
            Ints4 odd;
            totals(a[kOddRed + c], odd);
            const Ints4 half = n * (own[c] >> 1) + ((taken - odd) >> 1) + (own[c] & 1) * odd;
            taken = (taken & full) | (half & ~full);
        }
        const Doubles4 num = __builtin_convertvector(own[c] + taken, Doubles4) + 0.5;
        Ints4 q = __builtin_convertvector(num * inverse, Ints4);
        q = q > 255 ? 255 : q;
        for (int k = 0; k < 4; ++k) out[c][x + static_cast<std::size_t>(k)] = static_cast<uint8_t>(q[k]);
    }
}

// Gathers and averages the rows first .. end-1 into the result planes.
template <int32_t Mode, typename U>
void BlurStrip(StripJob<U>& job, int32_t first, int32_t end, U* const* acc, U* const* prefix,
               U* const* columns) {
    const FrameView& f = *job.frame;
    const FootprintProfile& fp = *job.footprint;
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
    const int32_t reach = fp.Reach();
    const int32_t clippedLast = reach < f.height - 1 ? reach : f.height - 1;
    if (first - reach <= clippedLast) {
        // The totals of rows from .. clippedLast: summed directly, or, when
        // fewer rows lie above from, as the frame's totals of rows
        // 0 .. clippedLast less those rows (none at all for a radius as
        // tall as the frame).
        const int32_t from = first > reach ? first - reach : 0;
        if (from <= clippedLast - from) {
            for (int v = 0; v < kModeValues; ++v) {
                std::memcpy(columns[v], job.clippedTotals + static_cast<std::size_t>(v) * w,
                            w * sizeof(U));
            }
            for (int32_t y = 0; y < from; ++y) {
                if (job.rowSpreads[y] != 0) AddToColumns<Mode, true>(f, *job.settings, y, columns);
            }
        } else {
            for (int v = 0; v < kModeValues; ++v) std::memset(columns[v], 0, w * sizeof(U));
            for (int32_t y = from; y <= clippedLast; ++y) {
                if (job.rowSpreads[y] != 0) {
                    AddToColumns<Mode, false>(f, *job.settings, y, columns);
                }
            }
        }
        for (int32_t yy = first; yy < end && yy - reach <= clippedLast; ++yy) {
            const int32_t leaving = yy - reach - 1;
            if (yy > first && leaving >= 0 && job.rowSpreads[leaving] != 0) {
                AddToColumns<Mode, true>(f, *job.settings, leaving, columns);
            }
            const int32_t hw = fp.HalfWidth(yy);
            if (hw < 0) continue;
            ColumnPrefix<kModeValues>(columns, f.width, prefix);
            const std::size_t o = w * static_cast<std::size_t>(yy - first);
            for (int v = 0; v < kModeValues; ++v) AddWindows(acc[v] + o, prefix[v], f.width, hw);
        }
    }

    // The other source rows whose footprints reach the strip, top to bottom.
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

    // Each receiver takes its totals by its own rule and averages.
    const FilterSettings& s = *job.settings;
    for (int32_t yy = first; yy < end; ++yy) {
        const std::size_t row = f.Index(0, yy);
        const U* const a[kValues] = {acc[0] + w * static_cast<std::size_t>(yy - first),
                                     acc[1] + w * static_cast<std::size_t>(yy - first),
                                     acc[2] + w * static_cast<std::size_t>(yy - first),
                                     acc[3] + w * static_cast<std::size_t>(yy - first),
                                     kHasHalf<Mode> ? acc[4] + w * (yy - first) : nullptr,
                                     kHasHalf<Mode> ? acc[5] + w * (yy - first) : nullptr,
                                     kHasHalf<Mode> ? acc[6] + w * (yy - first) : nullptr};
        const uint8_t* const own[3] = {f.red + row, f.green + row, f.blue + row};
        uint8_t* const out[3] = {job.result[0] + row, job.result[1] + row, job.result[2] + row};
        std::size_t x = 0;
        if constexpr (sizeof(U) == 4) {
            for (; x + 4 <= w; x += 4) AverageFour<Mode>(f, s, row, x, a, out);
        }
        for (; x < w; ++x) {
            const Take take = TakeOf<Mode>(s, f, row + x);
            const uint64_t n = take == Take::None ? 0 : a[kCount][x];
            const double inverse = 1.0 / static_cast<double>(n + 1);
            for (int c = 0; c < 3; ++c) {
                const uint64_t mine = own[c][x];
                uint64_t taken = take == Take::None ? 0 : a[kRed + c][x];
                if constexpr (kHasHalf<Mode>) {
                    if (take == Take::Half) {
                        taken = static_cast<uint64_t>(
                            HalfSum(static_cast<int64_t>(mine), static_cast<int64_t>(n),
                                    static_cast<int64_t>(taken),
                                    static_cast<int64_t>(a[kOddRed + c][x])));
                    }
                }
                const uint64_t q = sizeof(U) == 4 ? QuotientByInverse(mine + taken, inverse)
                                                  : Quotient<U>(mine + taken, n + 1);
                out[c][x] = static_cast<uint8_t>(q >= 255 ? 255 : q);
            }
        }
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
    for (;;) {
        const int32_t strip = job.nextStrip.fetch_add(1);
        if (strip >= job.strips.Count() || job.failed) break;
        BlurStrip<Mode>(job, job.strips.First(strip), job.strips.End(strip), acc, prefix,
                        columns);
    }
}

template <int32_t Mode, typename U>
[[nodiscard]] bool Gather(const FrameView& f, const FilterSettings& s, const FootprintProfile& footprint,
                          uint8_t* const* result) {
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
                    RowStrips::For(f.width, f.height)};
    const int32_t strips = job.strips.Count();
    const int32_t threads = ThreadCount() < strips ? ThreadCount() : strips;
    ForEachTask(threads, [&job](int32_t) { BlurWorker<Mode>(job); });
    return !job.failed;
}

// Footprints of fewer than 256 pixels: sixteen-bit sums, gathered a
// receiving row at a time from a rolling set of prefix rows.
//
// Each source row's prefix sums are built once per strip into a ring of
// 2R + 1 slots, one slot for each row a receiver can reach. A slot holds
// every value's prefix plane with room on both sides: zeros to the left of
// column 0 and the row's total repeated to the right of its last column,
// each as wide as the widest half-width, and a run of lanes beyond. A
// receiver's window over a source row is then the difference of two plane
// entries at fixed offsets whatever the column, so one loop without edge
// tests runs over the whole row, and the receivers' sums over all the
// source rows stay in vector registers until they are stored. The frame's
// top edge needs nothing of its own: a row whose footprint is cut off
// there simply has the half-width HalfWidth(yy) at receiver row yy.
//
// The sums wrap modulo 2^16 like the prefix sums they come from; a
// receiver's true totals stay below 2^16, so they come out exact.
template <int Bytes>
struct NarrowLanes {
    typedef uint16_t Sums __attribute__((vector_size(Bytes)));
    static constexpr int kLanes = Bytes / 2;
};

// Eight pixels' values in 32-bit lanes, their single-precision forms, and
// the sixteen- and eight-bit forms they are loaded from and stored to.
typedef int32_t Ints8 __attribute__((vector_size(32)));
typedef float Floats8 __attribute__((vector_size(32)));
typedef uint16_t Sums8 __attribute__((vector_size(16)));
typedef uint8_t Bytes8 __attribute__((vector_size(8)));


// Eight bytes widened to 32-bit lanes, through sixteen bits (a direct
// conversion is built lane by lane).
// (Returned through a reference: a 32-byte vector return value would tie
// the function's calling convention to the instruction set.)
[[gnu::always_inline]] inline void WidenBytes(const uint8_t* p, Ints8& out) {
    out = __builtin_convertvector(__builtin_convertvector(LoadLanes<Bytes8>(p), Sums8), Ints8);
}

// The receivers of one row handled per step of the gather: two vectors of
// the widest kind, so that every form runs whole steps over a row padded
// to this many columns.
constexpr std::size_t kNarrowStep = 32;

struct NarrowJob {
    const FrameView* frame;
    const FilterSettings* settings;
    const FootprintProfile* footprint;
    const uint8_t* rowSpreads;
    // The averages of the rows a neighbouring strip reads (R at either
    // end of a strip, or all of a short strip) wait here: borderRows per
    // strip, each three planes of the frame's width.
    uint8_t* border;
    int32_t borderRows;
    RowStrips strips;
    int32_t ringRows;          // slots in the ring: 2R + 1, at most the height
    std::size_t margin;        // the widest half-width: plane entries left of column 0
    std::size_t planeStride;   // entries of one value's plane
    std::size_t accStride;     // the width padded to whole steps
    std::atomic<int32_t> nextStrip{0};
    std::atomic<bool> failed{false};
};

// Where receiving row yy of the strip first .. end-1 leaves its averages:
// in the frame itself when no other strip reads the row, else in the
// strip's border rows. A row is written in place only once this strip has
// built its prefix sums and taken its own colours, so every strip reads
// the frame as it was.
[[gnu::always_inline]] inline void OutputRow(const NarrowJob& job, int32_t first, int32_t end,
                                             int32_t yy, uint8_t** out) {
    const int32_t reach = job.footprint->Reach();
    int32_t slot = -1;
    if (job.borderRows == job.strips.perStrip || yy - first < reach) {
        slot = yy - first;
    } else if (end - 1 - yy < reach) {
        slot = job.borderRows - (end - yy);
    }
    const FrameView& f = *job.frame;
    if (slot < 0) {
        const std::size_t row = f.Index(0, yy);
        out[0] = f.red + row;
        out[1] = f.green + row;
        out[2] = f.blue + row;
        return;
    }
    const auto w = static_cast<std::size_t>(f.width);
    const std::size_t at = static_cast<std::size_t>(first / job.strips.perStrip) *
                               static_cast<std::size_t>(job.borderRows) +
                           static_cast<std::size_t>(slot);
    for (int c = 0; c < 3; ++c) out[c] = job.border + (3 * at + static_cast<std::size_t>(c)) * w;
}

// One thread's working rows, parts of blocks obtained for every thread
// before any strip starts: the ring of prefix slots, the gathered sums of
// one receiving row, and the plane pointers of the rows it gathers from.
struct NarrowWorkspace {
    uint16_t* ring;
    uint16_t* acc;
    const uint16_t** terms;  // upper, then lower entries
    // The half-widths of this row's windows, then those the counts in acc
    // were gathered with (countedRows of them; -1 before the first row).
    int32_t* widths;
    int32_t countedRows;
};

// Eight columns' selection, colours and prefix sums in sixteen-bit lanes.
typedef uint16_t Scan8 __attribute__((vector_size(16)));
typedef int16_t SignedScan8 __attribute__((vector_size(16)));

// A colour-range limit as a sixteen-bit lane value that compares with a
// colour byte as the limit itself does.
[[gnu::always_inline]] inline int16_t RangeLimit(int32_t limit) {
    return static_cast<int16_t>(limit < -1 ? -1 : (limit > 256 ? 256 : limit));
}

// Whether the eight pixels from i on spread: all ones or zero per lane.
template <int32_t Mode>
[[gnu::always_inline]] inline Scan8 SpreadMask(const FrameView& f, const FilterSettings& s,
                                               std::size_t i, Scan8 red, Scan8 green,
                                               Scan8 blue) {
    if constexpr (Mode == kIncludeObjects || Mode == kIncludeBackground ||
                  Mode == kIncludeShadows) {
        const Scan8 m = __builtin_convertvector(
            LoadLanes<Bytes8>((Mode == kIncludeShadows ? f.shadow : f.alpha) + i), Scan8);
        return (Scan8)(Mode == kIncludeBackground ? m == 0 : m != 0);
    } else if constexpr (Mode == kIncludeColorRange) {
        const auto r = (SignedScan8)red;
        const auto g = (SignedScan8)green;
        const auto b = (SignedScan8)blue;
        return (Scan8)((RangeLimit(s.r1) <= r) & (r <= RangeLimit(s.r2)) &
                       (RangeLimit(s.g1) <= g) & (g <= RangeLimit(s.g2)) &
                       (RangeLimit(s.b1) <= b) & (b <= RangeLimit(s.b2)));
    } else {
        return Scan8{} - 1;
    }
}

// The running sums of eight lanes, each lane adding the ones before it and
// the carry from the columns before.
[[gnu::always_inline]] inline Scan8 RunningSums(Scan8 v, Scan8 carry) {
    const Scan8 zero = {};
    v += __builtin_shuffle(v, zero, Scan8{8, 0, 1, 2, 3, 4, 5, 6});
    v += __builtin_shuffle(v, zero, Scan8{8, 8, 0, 1, 2, 3, 4, 5});
    v += __builtin_shuffle(v, zero, Scan8{8, 8, 8, 8, 0, 1, 2, 3});
    return v + carry;
}

// Fills the slot of row y: per value, zeros for the margin and column 0,
// the running sums of the spreading values, then the row's total to the
// plane's end. Eight columns at a time, the last few one by one.
template <int32_t Mode>
[[gnu::always_inline]] inline void BuildPaddedPrefix(const NarrowJob& job, int32_t y,
                                                     uint16_t* slot) {
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const FrameView& f = *job.frame;
    const FilterSettings& s = *job.settings;
    const std::size_t o = job.margin;
    uint16_t* p[kValues] = {};
    for (int v = 0; v < kModeValues; ++v) {
        p[v] = slot + static_cast<std::size_t>(v) * job.planeStride;
        std::memset(p[v], 0, (o + 1) * sizeof(uint16_t));
        p[v] += o + 1;  // p[v][x] = the sum of the columns up to x
    }
    const std::size_t row = f.Index(0, y);
    const auto w = static_cast<std::size_t>(f.width);
    Scan8 carry[kValues] = {};
    std::size_t x = 0;
    for (; x + 8 <= w; x += 8) {
        const std::size_t i = row + x;
        const Scan8 red = __builtin_convertvector(LoadLanes<Bytes8>(f.red + i), Scan8);
        const Scan8 green = __builtin_convertvector(LoadLanes<Bytes8>(f.green + i), Scan8);
        const Scan8 blue = __builtin_convertvector(LoadLanes<Bytes8>(f.blue + i), Scan8);
        const Scan8 m = SpreadMask<Mode>(f, s, i, red, green, blue);
        Scan8 add[kValues] = {red & m, green & m, blue & m, m & 1};
        if constexpr (kHasHalf<Mode>) {
            add[kOddRed] = red & m & 1;
            add[kOddGreen] = green & m & 1;
            add[kOddBlue] = blue & m & 1;
        }
        for (int v = 0; v < kModeValues; ++v) {
            const Scan8 sums = RunningSums(add[v], carry[v]);
            std::memcpy(p[v] + x, &sums, sizeof sums);
            carry[v] = __builtin_shuffle(sums, Scan8{7, 7, 7, 7, 7, 7, 7, 7});
        }
    }
    uint16_t sum[kValues] = {};
    for (int v = 0; v < kModeValues; ++v) sum[v] = carry[v][0];
    for (; x < w; ++x) {
        const std::size_t i = row + x;
        const auto m = static_cast<uint16_t>(PixelSelectedIn<Mode>(s, f, i) ? 1 : 0);
        sum[kRed] = static_cast<uint16_t>(sum[kRed] + m * f.red[i]);
        sum[kGreen] = static_cast<uint16_t>(sum[kGreen] + m * f.green[i]);
        sum[kBlue] = static_cast<uint16_t>(sum[kBlue] + m * f.blue[i]);
        sum[kCount] = static_cast<uint16_t>(sum[kCount] + m);
        if constexpr (kHasHalf<Mode>) {
            sum[kOddRed] = static_cast<uint16_t>(sum[kOddRed] + (m & f.red[i]));
            sum[kOddGreen] = static_cast<uint16_t>(sum[kOddGreen] + (m & f.green[i]));
            sum[kOddBlue] = static_cast<uint16_t>(sum[kOddBlue] + (m & f.blue[i]));
        }
        for (int v = 0; v < kModeValues; ++v) p[v][x] = sum[v];
    }
    const std::size_t rest = job.planeStride - o - 1 - w;
    for (int v = 0; v < kModeValues; ++v) {
        for (std::size_t k = 0; k < rest; ++k) p[v][w + k] = sum[v];
    }
}

// acc[x] = the sum over the terms k of upper[k][x] - lower[k][x], for x
// from 0 to the padded width, two vectors at a time.
template <int Bytes>
[[gnu::always_inline]] inline void GatherRow(uint16_t* __restrict acc,
                                             const uint16_t* const* upper,
                                             const uint16_t* const* lower, int32_t count,
                                             std::size_t width) {
    using Sums = typename NarrowLanes<Bytes>::Sums;
    constexpr std::size_t kLanes = NarrowLanes<Bytes>::kLanes;
    for (std::size_t x = 0; x < width; x += 2 * kLanes) {
        Sums s0 = {};
        Sums s1 = {};
        for (int32_t k = 0; k < count; ++k) {
            Sums u0, u1, l0, l1;  // copied in, so that any alignment serves
            std::memcpy(&u0, upper[k] + x, sizeof u0);
            std::memcpy(&u1, upper[k] + x + kLanes, sizeof u1);
            std::memcpy(&l0, lower[k] + x, sizeof l0);
            std::memcpy(&l1, lower[k] + x + kLanes, sizeof l1);
            s0 += u0 - l0;
            s1 += u1 - l1;
        }
        std::memcpy(acc + x, &s0, sizeof s0);
        std::memcpy(acc + x + kLanes, &s1, sizeof s1);
    }
}

// Averages eight receivers from x on. The quotient of two whole numbers
// num < 2^16 and 1 <= d <= 256 whose result is at most 255 is
// trunc((num + 0.5) x fl(1 / d)) in single precision: num + 0.5 is exact,
// and the true (num + 0.5) / d lies at least 0.5 / d >= 2^-9 from every
// whole number, while the two roundings move a value below 256 by less
// than 256 x 2^-23 = 2^-15. The receivers' own rule (whole, averaged or
// nothing) is a lane mask.
template <int32_t Mode>
[[gnu::always_inline]] inline void AverageEight(const FrameView& f, const FilterSettings& s,
                                                std::size_t row, std::size_t x,
                                                const uint16_t* const* a, uint8_t* const* out) {
    const std::size_t i = row + x;
    Ints8 n = __builtin_convertvector(LoadLanes<Sums8>(a[kCount] + x), Ints8);
    Ints8 full = Ints8{} - 1;  // every lane whole
    if constexpr (Mode == kIncludeObjects || Mode == kIncludeBackground) {
        Ints8 alpha;
        WidenBytes(f.alpha + i, alpha);
        full = Mode == kIncludeObjects ? alpha != 0 : alpha == 0;
    } else if constexpr (Mode == kIncludeShadows) {
        Ints8 shadow;
        WidenBytes(f.shadow + i, shadow);
        full = shadow != 0;
    }
    Ints8 own[3];
    WidenBytes(f.red + i, own[0]);
    WidenBytes(f.green + i, own[1]);
    WidenBytes(f.blue + i, own[2]);
    if constexpr (Mode == kIncludeColorRange) {
        full = (s.r1 <= own[0]) & (own[0] <= s.r2) & (s.g1 <= own[1]) & (own[1] <= s.g2) &
               (s.b1 <= own[2]) & (own[2] <= s.b2);
    }
    // The receivers that take nothing count nobody.
    if constexpr (Mode == kIncludeBackground) n &= full;
    const Floats8 reciprocal = 1.0f / __builtin_convertvector(n + 1, Floats8);
    for (int c = 0; c < 3; ++c) {
        Ints8 taken = __builtin_convertvector(LoadLanes<Sums8>(a[kRed + c] + x), Ints8);
        if constexpr (Mode == kIncludeBackground) taken &= full;
        if constexpr (kHasHalf<Mode>) {
            const Ints8 odd = __builtin_convertvector(LoadLanes<Sums8>(a[kOddRed + c] + x), Ints8);
            const Ints8 oddTotals = odd + (own[c] & 1) * (n - 2 * odd);
            const Ints8 half = (n * own[c] + taken - oddTotals) >> 1;
            taken = (taken & full) | (half & ~full);
        }
        const Floats8 num = __builtin_convertvector(own[c] + taken, Floats8) + 0.5f;
        Ints8 q = __builtin_convertvector(num * reciprocal, Ints8);
        q = q > 255 ? 255 : q;
        typedef uint8_t Bytes32 __attribute__((vector_size(32)));
        const auto bytes = (Bytes32)q;  // the low byte of every lane
        const Bytes8 packed = __builtin_shufflevector(bytes, bytes, 0, 4, 8, 12, 16, 20, 24, 28);
        std::memcpy(out[c] + x, &packed, sizeof packed);
    }
}

// Gathers and averages the receiving rows first .. end-1.
template <int32_t Mode, int Bytes>
[[gnu::always_inline]] inline void NarrowStrip(NarrowJob& job, NarrowWorkspace& ws, int32_t first,
                                               int32_t end) {
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const FrameView& f = *job.frame;
    const FilterSettings& s = *job.settings;
    const FootprintProfile& fp = *job.footprint;
    const int32_t reach = fp.Reach();
    const std::size_t slotSize = static_cast<std::size_t>(kModeValues) * job.planeStride;
    auto slotOf = [&](int32_t y) {
        return ws.ring + static_cast<std::size_t>(y % job.ringRows) * slotSize;
    };
    const uint16_t** upper = ws.terms;
    const uint16_t** lower = ws.terms + job.ringRows;
    const uint16_t* a[kValues] = {};
    for (int v = 0; v < kModeValues; ++v) {
        a[v] = ws.acc + static_cast<std::size_t>(v) * job.accStride;
    }
    const auto w = static_cast<std::size_t>(f.width);
    const std::size_t wholeEights = w / 8 * 8;
    int32_t built = (first > reach ? first - reach : 0) - 1;
    for (int32_t yy = first; yy < end; ++yy) {
        const int32_t top = yy > reach ? yy - reach : 0;
        const int32_t last = f.height - 1 - yy > reach ? yy + reach : f.height - 1;
        for (int32_t y = built + 1; y <= last; ++y) {
            if (job.rowSpreads[y] != 0) BuildPaddedPrefix<Mode>(job, y, slotOf(y));
        }
        built = last;
        // The source rows reaching this row, and where their windows lie.
        int32_t count = 0;
        for (int32_t y = top; y <= last; ++y) {
            if (job.rowSpreads[y] == 0) continue;
            const int32_t hw = fp.HalfWidth(yy - fp.Top(y));
            if (hw < 0) continue;
            const uint16_t* plane = slotOf(y) + job.margin;
            upper[count] = plane + hw + 1;
            lower[count] = plane - hw;
            ws.widths[count] = hw;
            ++count;
        }
        // With every pixel spreading, a receiver's count depends only on the
        // windows' widths: the rows between the frame's top and bottom
        // bands keep the counts of the row before.
        bool countsKept = false;
        if constexpr (Mode == kIncludeFullFrame) {
            int32_t* counted = ws.widths + job.ringRows;
            countsKept = count == ws.countedRows &&
                         std::memcmp(counted, ws.widths,
                                     static_cast<std::size_t>(count) * sizeof(int32_t)) == 0;
            if (!countsKept) {
                std::memcpy(counted, ws.widths,
                            static_cast<std::size_t>(count) * sizeof(int32_t));
                ws.countedRows = count;
            }
        }
        for (int v = 0; v < kModeValues; ++v) {
            if (v != kCount || !countsKept) {
                GatherRow<Bytes>(ws.acc + static_cast<std::size_t>(v) * job.accStride,
                                 upper, lower, count, job.accStride);
            }
            const std::size_t next = job.planeStride;
            for (int32_t k = 0; k < count; ++k) {
                upper[k] += next;
                lower[k] += next;
            }
        }
        const std::size_t row = f.Index(0, yy);
        uint8_t* out[3];
        OutputRow(job, first, end, yy, out);
        std::size_t x = 0;
        for (; x < wholeEights; x += 8) AverageEight<Mode>(f, s, row, x, a, out);
        for (; x < w; ++x) {
            const Take take = TakeOf<Mode>(s, f, row + x);
            const uint64_t n = take == Take::None ? 0 : a[kCount][x];
            const uint8_t own[3] = {f.red[row + x], f.green[row + x], f.blue[row + x]};
            for (int c = 0; c < 3; ++c) {
                uint64_t taken = take == Take::None ? 0 : a[kRed + c][x];
                if constexpr (kHasHalf<Mode>) {
                    if (take == Take::Half) {
                        taken = static_cast<uint64_t>(
                            HalfSum(own[c], static_cast<int64_t>(n), static_cast<int64_t>(taken),
                                    static_cast<int64_t>(a[kOddRed + c][x])));
                    }
                }
                const uint64_t q = Quotient<uint16_t>(own[c] + taken, n + 1);
                out[c][x] = static_cast<uint8_t>(q >= 255 ? 255 : q);
            }
        }
    }
}

template <int Bytes>
[[gnu::always_inline]] inline void NarrowStripInMode(NarrowJob& job, NarrowWorkspace& ws,
                                                     int32_t first, int32_t end) {
    switch (job.settings->FilterInclude) {
        case kIncludeObjects: NarrowStrip<kIncludeObjects, Bytes>(job, ws, first, end); break;
        case kIncludeBackground: NarrowStrip<kIncludeBackground, Bytes>(job, ws, first, end); break;
        case kIncludeShadows: NarrowStrip<kIncludeShadows, Bytes>(job, ws, first, end); break;
        case kIncludeFullFrame: NarrowStrip<kIncludeFullFrame, Bytes>(job, ws, first, end); break;
        default: NarrowStrip<kIncludeColorRange, Bytes>(job, ws, first, end); break;
    }
}

void NarrowStripSse2(NarrowJob& job, NarrowWorkspace& ws, int32_t first, int32_t end) {
    NarrowStripInMode<16>(job, ws, first, end);
}

#if LUMAFEX_WIDE_VECTORS
__attribute__((target("avx2"))) void NarrowStripAvx2(NarrowJob& job, NarrowWorkspace& ws,
                                                     int32_t first, int32_t end) {
    NarrowStripInMode<32>(job, ws, first, end);
}
#endif

// The whole narrow gather, in place: every working block first (so that a
// missing one leaves the frame untouched), the rows that spread, the
// strips on the threads, then the border rows back into the frame.
[[nodiscard]] bool NarrowGather(const FrameView& f, const FilterSettings& s,
                                const FootprintProfile& fp) {
    const int32_t reach = fp.Reach();
    const auto w = static_cast<std::size_t>(f.width);
    const auto h = static_cast<std::size_t>(f.height);
    const auto margin = static_cast<std::size_t>(fp.MaxHalfWidth() < f.width ? fp.MaxHalfWidth()
                                                                               : f.width);
    const std::size_t accStride = (w + kNarrowStep - 1) / kNarrowStep * kNarrowStep;
    // Room for the windows of every padded column: up to margin + 1 past it.
    const std::size_t planeStride = margin + accStride + margin + 1;
    // Taller strips than the default: each repeats the prefix rows of 2R
    // rows around it, and needs no working rows of its own size.
    const RowStrips rowStrips = RowStrips::For(f.width, f.height, 131072);
    const int64_t reaching = 2 * static_cast<int64_t>(reach) + 1;
    const auto ringRows = static_cast<int32_t>(reaching < f.height ? reaching : f.height);
    const int32_t borderRows = 2 * static_cast<int64_t>(reach) < rowStrips.perStrip
                                   ? 2 * reach
                                   : rowStrips.perStrip;
    const auto strips = static_cast<std::size_t>(rowStrips.Count());
    const int32_t threads = ThreadCount() < rowStrips.Count() ? ThreadCount() : rowStrips.Count();
    const auto t = static_cast<std::size_t>(threads);
    const std::size_t values =
        s.FilterInclude == kIncludeBackground || s.FilterInclude == kIncludeFullFrame ? 4 : kValues;
    const auto slots = static_cast<std::size_t>(ringRows);
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    if (planeStride > kMax / values / slots / t || accStride > kMax / values / t ||
        w > kMax / 3 / static_cast<std::size_t>(borderRows + 1) / strips) {
        return false;
    }
    auto border = platform::WorkingArray<uint8_t>::Allocate(
        strips * static_cast<std::size_t>(borderRows) * 3 * w);
    auto ring = platform::WorkingArray<uint16_t>::Allocate(t * slots * values * planeStride);
    auto acc = platform::WorkingArray<uint16_t>::Allocate(t * values * accStride);
    auto terms = platform::WorkingArray<const uint16_t*>::Allocate(t * 2 * slots);
    auto widths = platform::WorkingArray<int32_t>::Allocate(t * 2 * slots);
    auto spreads = platform::WorkingArray<uint8_t>::Allocate(h);
    if ((!border && borderRows > 0) || !ring || !acc || !terms || !widths || !spreads) {
        return false;
    }
    for (int32_t y = 0; y < f.height; ++y) {
        const std::size_t row = f.Index(0, y);
        bool any = false;
        for (std::size_t x = 0; x < w && !any; ++x) {
            any = PixelSelected(s, f.alpha[row + x], f.shadow[row + x], f.red[row + x],
                                f.green[row + x], f.blue[row + x]);
        }
        spreads[static_cast<std::size_t>(y)] = any ? 1 : 0;
    }
    NarrowJob job{&f,         &s,        &fp,       spreads.data(), border.data(), borderRows,
                  rowStrips,  ringRows,  margin,    planeStride,    accStride};
    void (*strip)(NarrowJob&, NarrowWorkspace&, int32_t, int32_t) = NarrowStripSse2;
#if LUMAFEX_WIDE_VECTORS
    if (WideVectorsAvailable()) strip = NarrowStripAvx2;
#endif
    ForEachTask(threads, [&](int32_t index) {
        const auto i = static_cast<std::size_t>(index);
        NarrowWorkspace ws{ring.data() + i * slots * values * planeStride,
                           acc.data() + i * values * accStride, terms.data() + i * 2 * slots,
                           widths.data() + i * 2 * slots, -1};
        for (;;) {
            const int32_t n = job.nextStrip.fetch_add(1);
            if (n >= job.strips.Count()) break;
            strip(job, ws, job.strips.First(n), job.strips.End(n));
        }
    });
    for (int32_t n = 0; n < job.strips.Count(); ++n) {
        const int32_t first = job.strips.First(n);
        const int32_t end = job.strips.End(n);
        for (int32_t yy = first; yy < end; ++yy) {
            uint8_t* out[3];
            OutputRow(job, first, end, yy, out);
            const std::size_t row = f.Index(0, yy);
            if (out[0] == f.red + row) continue;
            std::memcpy(f.red + row, out[0], w);
            std::memcpy(f.green + row, out[1], w);
            std::memcpy(f.blue + row, out[2], w);
        }
    }
    return true;
}

template <typename U>
[[nodiscard]] bool GatherInMode(const FrameView& f, const FilterSettings& s, const FootprintProfile& fp,
                                uint8_t* const* result) {
    switch (s.FilterInclude) {
        case kIncludeObjects: return Gather<kIncludeObjects, U>(f, s, fp, result);
        case kIncludeBackground: return Gather<kIncludeBackground, U>(f, s, fp, result);
        case kIncludeShadows: return Gather<kIncludeShadows, U>(f, s, fp, result);
        case kIncludeFullFrame: return Gather<kIncludeFullFrame, U>(f, s, fp, result);
        case kIncludeColorRange: return Gather<kIncludeColorRange, U>(f, s, fp, result);
        default: return true;  // no pixel is selected: the frame stays as it is
    }
}

}  // namespace

bool BlurPass(const FrameView& frame, const FilterSettings& settings,
              const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    FootprintProfile footprint;
    const int32_t reach = FootprintReach(params.BlurAmount, frame.height);
    if (!footprint.Reserve(frame.width, frame.height, reach)) return false;
    if (params.BlurAmount > 0.0f && settings.FilterInclude >= kIncludeObjects &&
        settings.FilterInclude <= kIncludeColorRange) {
        footprint.Set(params.BlurAmount, kBlurAngleConstant);
        const int64_t rows = 2 * static_cast<int64_t>(reach) + 1;
        const int64_t columns = 2 * static_cast<int64_t>(footprint.MaxHalfWidth()) + 1;
        const int64_t tall = rows < frame.height ? rows : frame.height;
        const int64_t wideColumns = columns < frame.width ? columns : frame.width;
        // A receiver's totals stay below (tall x wideColumns + 1) x 255,
        // under 2^16 for a footprint of fewer than 256 pixels.
        if (tall * wideColumns < 65535 / 255 - 1) return NarrowGather(frame, settings, footprint);
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
                          ? GatherInMode<uint64_t>(frame, settings, footprint, planes)
                          : GatherInMode<uint32_t>(frame, settings, footprint, planes);
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

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
// The frame is cut into strips of receiver rows, worked on by the threads;
// each strip writes its averages to its own rows of a result copy, which
// replaces the colour planes once every strip is done.
#include "pipeline/passes/blur.h"

#include <atomic>
#include <cstring>

#include "pipeline/final/selection.h"
#include "pipeline/passes/accumulators.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/strips.h"
#include "pipeline/thread_pool.h"

namespace lumafex {

namespace {

// How a receiving pixel takes a contribution, by selection mode: the whole
// colour, the average of its own and the spread colour, or nothing.
enum class Take { Full, Half, None };

template <int32_t Mode>
bool Spreads(const FilterSettings& s, const FrameView& f, std::size_t i) {
    if constexpr (Mode == kIncludeObjects) return f.alpha[i] != 0;
    if constexpr (Mode == kIncludeBackground) return f.alpha[i] == 0;
    if constexpr (Mode == kIncludeShadows) return f.shadow[i] != 0;
    if constexpr (Mode == kIncludeColorRange) {
        return InColorRange(s, f.red[i], f.green[i], f.blue[i]);
    }
    return true;
}

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

// The gathered values: colour sums, count, and odd counts per channel.
constexpr int kValues = 7;
enum Value { kRed, kGreen, kBlue, kCount, kOddRed, kOddGreen, kOddBlue };

// Unsigned arithmetic, so that prefix sums may wrap: a window's sum is the
// difference of two prefix sums modulo 2^bits, exact whenever the true sum
// fits, which NeedsWideSums guarantees for 32 bits; otherwise 64 are used.
template <typename U>
struct StripJob {
    const FrameView* frame;
    const FilterSettings* settings;
    const FootprintProfile* footprint;
    const uint8_t* rowSpreads;  // per row: whether any of its pixels spreads
    uint8_t* result[3];         // the averaged planes
    RowStrips strips;
    std::atomic<int32_t> nextStrip{0};
    std::atomic<bool> failed{false};
};

// Fills the prefix sums of the spreading pixels of row y: prefix[v][x] over
// the columns before x.
template <int32_t Mode, typename U>
void BuildPrefix(const FrameView& f, const FilterSettings& s, int32_t y, U* const* prefix) {
    constexpr int values = kHasHalf<Mode> ? kValues : 4;
    U sum[kValues] = {};
    for (int v = 0; v < values; ++v) prefix[v][0] = 0;
    const std::size_t row = f.Index(0, y);
    for (int32_t x = 0; x < f.width; ++x) {
        const std::size_t i = row + static_cast<std::size_t>(x);
        const U m = Spreads<Mode>(s, f, i) ? 1 : 0;
        sum[kRed] += m * f.red[i];
        sum[kGreen] += m * f.green[i];
        sum[kBlue] += m * f.blue[i];
        sum[kCount] += m;
        if constexpr (kHasHalf<Mode>) {
            sum[kOddRed] += m & f.red[i];
            sum[kOddGreen] += m & f.green[i];
            sum[kOddBlue] += m & f.blue[i];
        }
        for (int v = 0; v < values; ++v) prefix[v][x + 1] = sum[v];
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
        acc[x] += prefix[hi];
    }
    const int32_t middleEnd = width - hw;  // columns whose window fits entirely
    for (; x < middleEnd; ++x) acc[x] += prefix[x + hw + 1] - prefix[x - hw];
    for (; x < width; ++x) acc[x] += prefix[width] - prefix[x - hw];
}

// Gathers and averages the rows first .. end-1 into the result planes.
template <int32_t Mode, typename U>
void BlurStrip(StripJob<U>& job, int32_t first, int32_t end, U* const* acc, U* const* prefix) {
    const FrameView& f = *job.frame;
    const FootprintProfile& fp = *job.footprint;
    constexpr int values = kHasHalf<Mode> ? kValues : 4;
    const auto w = static_cast<std::size_t>(f.width);
    const std::size_t cells = w * static_cast<std::size_t>(end - first);
    for (int v = 0; v < values; ++v) std::memset(acc[v], 0, cells * sizeof(U));

    // Source rows whose footprints reach the strip, top to bottom.
    const int32_t reach = fp.Reach();
    const int32_t top = first > reach ? first - reach : 0;
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
            for (int v = 0; v < values; ++v) AddWindows(acc[v] + o, prefix[v], f.width, hw);
        }
    }

    // Each receiver takes its totals by its own rule and averages. The
    // quotient of two whole numbers below 2^53 is truncated exactly from
    // its double-precision value, which lets the loop vectorise.
    const FilterSettings& s = *job.settings;
    for (int32_t yy = first; yy < end; ++yy) {
        const std::size_t row = f.Index(0, yy);
        const std::size_t o = w * static_cast<std::size_t>(yy - first);
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t j = row + x;
            const std::size_t k = o + x;
            const auto n = static_cast<int64_t>(acc[kCount][k]);
            const Take take = TakeOf<Mode>(s, f, j);
            const int64_t counted = take == Take::None ? 0 : n;
            for (int c = 0; c < 3; ++c) {
                const int64_t own = c == 0 ? f.red[j] : (c == 1 ? f.green[j] : f.blue[j]);
                int64_t taken = take == Take::None ? 0 : static_cast<int64_t>(acc[kRed + c][k]);
                if constexpr (kHasHalf<Mode>) {
                    if (take == Take::Half) {
                        taken = HalfSum(own, n, taken, static_cast<int64_t>(acc[kOddRed + c][k]));
                    }
                }
                const auto q = static_cast<int64_t>(static_cast<double>(own + taken) /
                                                    static_cast<double>(counted + 1));
                job.result[c][j] = static_cast<uint8_t>(q >= 255 ? 255 : q);
            }
        }
    }
}

// One thread's share: its own working rows, then strips until none is left.
template <int32_t Mode, typename U>
void BlurWorker(StripJob<U>& job) {
    constexpr int values = kHasHalf<Mode> ? kValues : 4;
    const auto w = static_cast<std::size_t>(job.frame->width);
    const auto rows = static_cast<std::size_t>(job.strips.perStrip);
    auto accBlock = platform::WorkingArray<U>::Allocate(values * w * rows);
    auto prefixBlock = platform::WorkingArray<U>::Allocate(values * (w + 1));
    if (!accBlock || !prefixBlock) {
        job.failed = true;
        return;
    }
    U* acc[kValues] = {};
    U* prefix[kValues] = {};
    for (int v = 0; v < values; ++v) {
        acc[v] = accBlock.data() + static_cast<std::size_t>(v) * w * rows;
        prefix[v] = prefixBlock.data() + static_cast<std::size_t>(v) * (w + 1);
    }
    for (;;) {
        const int32_t strip = job.nextStrip.fetch_add(1);
        if (strip >= job.strips.Count() || job.failed) break;
        BlurStrip<Mode>(job, job.strips.First(strip), job.strips.End(strip), acc, prefix);
    }
}

template <int32_t Mode, typename U>
bool Gather(const FrameView& f, const FilterSettings& s, const FootprintProfile& footprint,
            uint8_t* const* result) {
    const std::size_t h = static_cast<std::size_t>(f.height);
    auto spreads = platform::WorkingArray<uint8_t>::Allocate(h);
    if (!spreads) return false;
    for (int32_t y = 0; y < f.height; ++y) {
        const std::size_t row = f.Index(0, y);
        uint8_t any = 0;
        for (int32_t x = 0; x < f.width && any == 0; ++x) {
            any = Spreads<Mode>(s, f, row + static_cast<std::size_t>(x)) ? 1 : 0;
        }
        spreads[static_cast<std::size_t>(y)] = any;
    }
    StripJob<U> job{&f, &s, &footprint, spreads.data(), {result[0], result[1], result[2]},
                    RowStrips::For(f.width, f.height)};
    const int32_t strips = job.strips.Count();
    const int32_t threads = ThreadCount() < strips ? ThreadCount() : strips;
    ForEachTask(threads, [&job](int32_t) { BlurWorker<Mode>(job); });
    return !job.failed;
}

template <typename U>
bool GatherInMode(const FrameView& f, const FilterSettings& s, const FootprintProfile& fp,
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
    if (!footprint.Reserve(frame.width, frame.height,
                           FootprintReach(params.BlurAmount, frame.height))) {
        return false;
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
    const bool wide = NeedsWideSums(rows < frame.height ? rows : frame.height,
                                    columns < frame.width ? columns : frame.width);
    const bool done = wide ? GatherInMode<uint64_t>(frame, settings, footprint, planes)
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

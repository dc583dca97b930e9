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
//
// The row loops are written once over integer lanes (narrow_blur_lanes.h)
// and built for SSE2 and, where the frame allows it, AVX2.
#include "pipeline/passes/narrow_blur.h"

#include <cstring>
#include <limits>

#include "pipeline/frame/lanes/int_lanes.h"
#include "pipeline/frame/lanes/lanes_target.h"
#include "pipeline/frame/selection.h"
#include "pipeline/frame/strips.h"
#include "pipeline/frame/thread_pool.h"
#include "pipeline/passes/blur_sums.h"
#include "platform/memory.h"

namespace lumafex {

#if LUMAFEX_INT_LANES

namespace {

using namespace blur_sums;

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
    int32_t ringRows;         // slots in the ring: 2R + 1, at most the height
    std::size_t margin;       // the widest half-width: plane entries left of column 0
    std::size_t planeStride;  // entries of one value's plane
    std::size_t accStride;    // the width padded to whole steps
};

// Where receiving row yy of the strip first .. end-1 leaves its averages:
// in the frame itself when no other strip reads the row, else in the
// strip's border rows. A row is written in place only once this strip has
// built its prefix sums and taken its own colours, so every strip reads
// the frame as it was.
inline void OutputRow(const NarrowJob& job, int32_t first, int32_t end, int32_t yy, uint8_t** out) {
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
    const std::size_t at =
        static_cast<std::size_t>(first / job.strips.perStrip) * static_cast<std::size_t>(job.borderRows) +
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
    // With every pixel spreading: the multipliers that divide by the counts
    // in acc (DivideWhole).
    uint16_t* multipliers;
};

// The ring slot of source row y.
template <int32_t Mode>
uint16_t* SlotOf(const NarrowJob& job, const NarrowWorkspace& ws, int32_t y) {
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const std::size_t slotSize = static_cast<std::size_t>(kModeValues) * job.planeStride;
    return ws.ring + static_cast<std::size_t>(y % job.ringRows) * slotSize;
}

// The prefix sums of row y from column x on, one by one, carrying on from
// sum, then the row's total to the plane's end.
template <int32_t Mode>
void FinishPrefix(const NarrowJob& job, std::size_t row, std::size_t x, uint16_t (&sum)[kValues],
                  uint16_t* const* p) {
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const FrameView& f = *job.frame;
    const auto w = static_cast<std::size_t>(f.width);
    for (; x < w; ++x) {
        const std::size_t i = row + x;
        const auto m = static_cast<uint16_t>(PixelSelectedIn<Mode>(*job.settings, f, i) ? 1 : 0);
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
    const std::size_t rest = job.planeStride - job.margin - 1 - w;
    for (int v = 0; v < kModeValues; ++v) {
        for (std::size_t k = 0; k < rest; ++k) p[v][w + k] = sum[v];
    }
}

// The source rows reaching receiving row yy, and where their windows lie
// in their slots: the terms' first planes and the half-widths. Returns
// how many there are.
template <int32_t Mode>
int32_t ReachingRows(const NarrowJob& job, NarrowWorkspace& ws, int32_t yy) {
    const FootprintProfile& fp = *job.footprint;
    const int32_t reach = fp.Reach();
    const int32_t top = yy > reach ? yy - reach : 0;
    const int32_t last = job.frame->height - 1 - yy > reach ? yy + reach : job.frame->height - 1;
    const uint16_t** upper = ws.terms;
    const uint16_t** lower = ws.terms + job.ringRows;
    int32_t count = 0;
    for (int32_t y = top; y <= last; ++y) {
        if (job.rowSpreads[y] == 0) continue;
        const int32_t hw = fp.HalfWidth(yy - fp.Top(y));
        if (hw < 0) continue;
        const uint16_t* plane = SlotOf<Mode>(job, ws, y) + job.margin;
        upper[count] = plane + hw + 1;
        lower[count] = plane - hw;
        ws.widths[count] = hw;
        ++count;
    }
    return count;
}

// With every pixel spreading, a receiver's count depends only on the
// windows' widths: the rows between the frame's top and bottom bands keep
// the counts of the row before. Whether this row's windows are those the
// counts were gathered with; if not, they become them.
inline bool KeepCounts(const NarrowJob& job, NarrowWorkspace& ws, int32_t count) {
    int32_t* counted = ws.widths + job.ringRows;
    const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(int32_t);
    if (count == ws.countedRows && std::memcmp(counted, ws.widths, bytes) == 0) return true;
    std::memcpy(counted, ws.widths, bytes);
    ws.countedRows = count;
    return false;
}

// The multipliers DivideWhole divides the counts by.
inline void FillMultipliers(const NarrowWorkspace& ws, const uint16_t* counts, std::size_t stride) {
    for (std::size_t k = 0; k < stride; ++k) {
        const uint32_t d = counts[k] + 1u;
        ws.multipliers[k] = static_cast<uint16_t>(d == 1 ? 0 : (65536 + d - 1) / d);
    }
}

// Averages the receivers of a row from x on, one by one.
template <int32_t Mode>
void AverageTail(const FrameView& f, const FilterSettings& s, std::size_t row, std::size_t x,
                 const uint16_t* const* a, uint8_t* const* out) {
    for (; x < static_cast<std::size_t>(f.width); ++x) {
        const Take take = TakeOf<Mode>(s, f, row + x);
        const uint64_t n = take == Take::None ? 0 : a[kCount][x];
        const uint8_t own[3] = {f.red[row + x], f.green[row + x], f.blue[row + x]};
        for (int c = 0; c < 3; ++c) {
            uint64_t taken = take == Take::None ? 0 : a[kRed + c][x];
            if constexpr (kHasHalf<Mode>) {
                if (take == Take::Half) {
                    taken = static_cast<uint64_t>(HalfSum(own[c], static_cast<int64_t>(n),
                                                          static_cast<int64_t>(taken),
                                                          static_cast<int64_t>(a[kOddRed + c][x])));
                }
            }
            const uint64_t q = Quotient<uint16_t>(own[c] + taken, n + 1);
            out[c][x] = static_cast<uint8_t>(q >= 255 ? 255 : q);
        }
    }
}

// The row loops, compiled once for each set of lanes: the wide copy with
// the wider instructions enabled for every function in it.
namespace narrow {
using L = Sse2WordLanes;
using LI = Sse2IntLanes;
#include "pipeline/passes/narrow_blur_lanes.h"
}  // namespace narrow
#if LUMAFEX_WIDE_VECTORS
LUMAFEX_LANES_BEGIN_AVX2
namespace wide {
using L = Avx2WordLanes;
using LI = Avx2IntLanes;
#include "pipeline/passes/narrow_blur_lanes.h"
}  // namespace wide
LUMAFEX_LANES_END
#endif

using StripFunction = void (*)(const NarrowJob&, NarrowWorkspace&, int32_t, int32_t);

// The widest form the frame's instruction set allows.
StripFunction ChooseStrip([[maybe_unused]] InstructionSet set) {
#if LUMAFEX_WIDE_VECTORS
    if (Allows(set, InstructionSet::Avx2Fma)) return wide::NarrowStrip;
#endif
    return narrow::NarrowStrip;
}

// The sizes of the gather's working blocks.
struct NarrowLayout {
    std::size_t margin, accStride, planeStride;
    RowStrips strips;
    int32_t ringRows, borderRows, threads;
    std::size_t values;  // per slot and per receiving row
    bool fits;           // every block's size is a size_t
};

NarrowLayout LayOut(const FrameView& f, const FilterSettings& s, const FootprintProfile& fp) {
    NarrowLayout l{};
    const int32_t reach = fp.Reach();
    const auto w = static_cast<std::size_t>(f.width);
    l.margin = static_cast<std::size_t>(fp.MaxHalfWidth() < f.width ? fp.MaxHalfWidth() : f.width);
    l.accStride = (w + kNarrowStep - 1) / kNarrowStep * kNarrowStep;
    // Room for the windows of every padded column: up to margin + 1 past it.
    l.planeStride = l.margin + l.accStride + l.margin + 1;
    // Taller strips than the default: each repeats the prefix rows of 2R
    // rows around it, and needs no working rows of its own size.
    l.strips = RowStrips::For(f.width, f.height, 131072);
    const int64_t reaching = 2 * static_cast<int64_t>(reach) + 1;
    l.ringRows = static_cast<int32_t>(reaching < f.height ? reaching : f.height);
    l.borderRows = 2 * static_cast<int64_t>(reach) < l.strips.perStrip ? 2 * reach : l.strips.perStrip;
    l.threads = ThreadCount() < l.strips.Count() ? ThreadCount() : l.strips.Count();
    l.values = s.FilterInclude == kIncludeBackground || s.FilterInclude == kIncludeFullFrame ? 4 : kValues;
    const auto t = static_cast<std::size_t>(l.threads);
    const auto slots = static_cast<std::size_t>(l.ringRows);
    const auto strips = static_cast<std::size_t>(l.strips.Count());
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    l.fits = l.planeStride <= kMax / l.values / slots / t && l.accStride <= kMax / (l.values + 1) / t &&
             w <= kMax / 3 / static_cast<std::size_t>(l.borderRows + 1) / strips;
    return l;
}

// Per row: whether any of its pixels spreads.
void MarkSpreadingRows(const FrameView& f, const FilterSettings& s, uint8_t* spreads) {
    const auto w = static_cast<std::size_t>(f.width);
    for (int32_t y = 0; y < f.height; ++y) {
        const std::size_t row = f.Index(0, y);
        bool any = false;
        for (std::size_t x = 0; x < w && !any; ++x) {
            any = PixelSelected(s, f.alpha[row + x], f.shadow[row + x], f.red[row + x], f.green[row + x],
                                f.blue[row + x]);
        }
        spreads[static_cast<std::size_t>(y)] = any ? 1 : 0;
    }
}

// The border rows' averages back into the frame, once every strip is done.
void WriteBorders(const NarrowJob& job) {
    const FrameView& f = *job.frame;
    const auto w = static_cast<std::size_t>(f.width);
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
}

}  // namespace

// The whole narrow gather, in place: every working block first (so that a
// missing one leaves the frame untouched), the rows that spread, the
// strips on the threads, then the border rows back into the frame.
bool NarrowBlurGather(const FrameView& f, const FilterSettings& s, const FootprintProfile& fp,
                      InstructionSet set) {
    const NarrowLayout l = LayOut(f, s, fp);
    if (!l.fits) return false;
    const auto t = static_cast<std::size_t>(l.threads);
    const auto slots = static_cast<std::size_t>(l.ringRows);
    const auto rows = static_cast<std::size_t>(l.borderRows);
    const auto strips = static_cast<std::size_t>(l.strips.Count());
    const auto w = static_cast<std::size_t>(f.width);
    auto border = platform::WorkingArray<uint8_t>::Allocate(strips * rows * 3 * w);
    auto ring = platform::WorkingArray<uint16_t>::Allocate(t * slots * l.values * l.planeStride);
    // One more plane than values: the full frame's multipliers.
    const std::size_t accPlanes = l.values + 1;
    auto acc = platform::WorkingArray<uint16_t>::Allocate(t * accPlanes * l.accStride);
    auto terms = platform::WorkingArray<const uint16_t*>::Allocate(t * 2 * slots);
    auto widths = platform::WorkingArray<int32_t>::Allocate(t * 2 * slots);
    auto spreads = platform::WorkingArray<uint8_t>::Allocate(static_cast<std::size_t>(f.height));
    if ((!border && rows > 0) || !ring || !acc || !terms || !widths || !spreads) return false;
    MarkSpreadingRows(f, s, spreads.data());
    const NarrowJob job{&f,       &s,         &fp,      spreads.data(), border.data(), l.borderRows,
                        l.strips, l.ringRows, l.margin, l.planeStride,  l.accStride};
    const StripFunction strip = ChooseStrip(set);
    StripQueue queue(l.strips);
    ForEachTask(l.threads, [&](int32_t index) {
        const auto i = static_cast<std::size_t>(index);
        NarrowWorkspace ws{ring.data() + i * slots * l.values * l.planeStride,
                           acc.data() + i * accPlanes * l.accStride,
                           terms.data() + i * 2 * slots,
                           widths.data() + i * 2 * slots,
                           -1,
                           acc.data() + (i * accPlanes + l.values) * l.accStride};
        int32_t first = 0;
        int32_t end = 0;
        while (queue.Next(first, end)) strip(job, ws, first, end);
    });
    WriteBorders(job);
    return true;
}

#endif

}  // namespace lumafex

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
#include "pipeline/passes/narrow_blur.h"

#include <emmintrin.h>

#include <cstring>
#include <limits>

#include "pipeline/frame/selection.h"
#include "pipeline/frame/strips.h"
#include "pipeline/frame/thread_pool.h"
#include "pipeline/passes/blur_sums.h"
#include "pipeline/frame/wide_vectors.h"
#include "platform/memory.h"

namespace lumafex {

namespace {

using namespace blur_sums;

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
    StripQueue queue{strips};
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
    // With every pixel spreading: the multipliers that divide by the counts
    // in acc (DivideWhole).
    uint16_t* multipliers;
};

// Eight columns' selection, colours and prefix sums in sixteen-bit lanes.
typedef uint16_t Scan8 __attribute__((vector_size(16)));
typedef int16_t SignedScan8 __attribute__((vector_size(16)));

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
        SignedScan8 in;
        ColourRangeMask(s, (SignedScan8)red, (SignedScan8)green, (SignedScan8)blue, in);
        return (Scan8)in;
    } else {
        return Scan8{} - 1;
    }
}

// The running sums of eight lanes, each lane adding the ones before it and
// the carry from the columns before.
[[gnu::always_inline]] inline Scan8 RunningSums(Scan8 v, Scan8 carry) {
    const Scan8 zero = {};
    v += __builtin_shufflevector(v, zero, 8, 0, 1, 2, 3, 4, 5, 6);
    v += __builtin_shufflevector(v, zero, 8, 8, 0, 1, 2, 3, 4, 5);
    v += __builtin_shufflevector(v, zero, 8, 8, 8, 8, 0, 1, 2, 3);
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
            carry[v] = __builtin_shufflevector(sums, sums, 7, 7, 7, 7, 7, 7, 7, 7);
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
    if constexpr (Mode == kIncludeColorRange) ColourRangeMask(s, own[0], own[1], own[2], full);
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

// Averages eight receivers from x on when every receiver takes every
// contribution whole: q = num / d with num = own + sum <= 255 x d below
// 2^16 and d = count + 1 <= 256, in sixteen-bit lanes. With
// M = ceil(2^16 / d) = (2^16 + e) / d, 0 <= e < d, num x M / 2^16 exceeds
// num / d by num x e / (2^16 x d) <= 255 x 255 / 2^16 < 1, so its whole
// part q0 is q or q + 1 (and at most 255): q0 x d > num says which. A
// receiver with d = 1 (multiplier 0) keeps num.
[[gnu::always_inline]] inline void DivideWhole(const FrameView& f, std::size_t row,
                                               std::size_t x, const uint16_t* const* a,
                                               const uint16_t* multipliers, uint8_t* const* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i d = _mm_add_epi16(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(a[kCount] + x)), ones);
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(multipliers + x));
    const __m128i alone = _mm_cmpeq_epi16(d, ones);
    const uint8_t* const own[3] = {f.red + row, f.green + row, f.blue + row};
    for (int c = 0; c < 3; ++c) {
        const __m128i mine =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(own[c] + x)), zero);
        const __m128i num = _mm_add_epi16(
            mine, _mm_loadu_si128(reinterpret_cast<const __m128i*>(a[kRed + c] + x)));
        __m128i q = _mm_mulhi_epu16(num, m);
        // All ones where q x d <= num, which keeps q; zero where it is one too many.
        const __m128i fits = _mm_cmpeq_epi16(_mm_subs_epu16(_mm_mullo_epi16(q, d), num), zero);
        q = _mm_add_epi16(q, _mm_xor_si128(fits, _mm_cmpeq_epi16(zero, zero)));
        q = _mm_or_si128(_mm_and_si128(alone, num), _mm_andnot_si128(alone, q));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out[c] + x), _mm_packus_epi16(q, q));
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
        if constexpr (Mode == kIncludeFullFrame) {
            if (!countsKept) {
                for (std::size_t k = 0; k < job.accStride; ++k) {
                    const uint32_t d = a[kCount][k] + 1u;
                    ws.multipliers[k] = static_cast<uint16_t>(d == 1 ? 0 : (65536 + d - 1) / d);
                }
            }
            for (; x < wholeEights; x += 8) DivideWhole(f, row, x, a, ws.multipliers, out);
        } else {
            for (; x < wholeEights; x += 8) AverageEight<Mode>(f, s, row, x, a, out);
        }
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
    WithMode(job.settings->FilterInclude, [&](auto mode) __attribute__((always_inline)) {
        NarrowStrip<decltype(mode)::value, Bytes>(job, ws, first, end);
    });
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

}  // namespace

// The whole narrow gather, in place: every working block first (so that a
// missing one leaves the frame untouched), the rows that spread, the
// strips on the threads, then the border rows back into the frame.
bool NarrowBlurGather(const FrameView& f, const FilterSettings& s, const FootprintProfile& fp,
                      [[maybe_unused]] InstructionSet set) {
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
    // One more plane than values: the full frame's multipliers.
    const std::size_t accPlanes = values + 1;
    auto acc = platform::WorkingArray<uint16_t>::Allocate(t * accPlanes * accStride);
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
    if (Allows(set, InstructionSet::Avx2Fma)) strip = NarrowStripAvx2;
#endif
    ForEachTask(threads, [&](int32_t index) {
        const auto i = static_cast<std::size_t>(index);
        NarrowWorkspace ws{ring.data() + i * slots * values * planeStride,
                           acc.data() + i * accPlanes * accStride, terms.data() + i * 2 * slots,
                           widths.data() + i * 2 * slots, -1,
                           acc.data() + (i * accPlanes + values) * accStride};
        int32_t first = 0;
        int32_t end = 0;
        while (job.queue.Next(first, end)) strip(job, ws, first, end);
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

}  // namespace lumafex

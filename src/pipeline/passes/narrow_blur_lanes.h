// The narrow blur's row loops on vector lanes. Deliberately without an
// include guard: narrow_blur.cpp includes it once per instruction set,
// inside a namespace that names the word lanes L and the int lanes LI of
// that set, so that every function here, lambdas included, is compiled for
// those instructions. It expects the types and scalar steps of that file
// (NarrowJob, NarrowWorkspace, OutputRow, SlotOf, FinishPrefix, ReachingRows, KeepCounts, FillMultipliers,
// AverageTail) to be declared.

#include "pipeline/passes/blur_selection_lanes.h"

// Fills the slot of row y: per value, zeros for the margin and column 0,
// the running sums of the spreading values, then the row's total to the
// plane's end. A run of lanes at a time, the last few columns one by one.
template <int32_t Mode>
void BuildPaddedPrefix(const NarrowJob& job, int32_t y, uint16_t* slot) {
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const FrameView& f = *job.frame;
    const std::size_t o = job.margin;
    uint16_t* p[kValues] = {};
    for (int v = 0; v < kModeValues; ++v) {
        p[v] = slot + static_cast<std::size_t>(v) * job.planeStride;
        std::memset(p[v], 0, (o + 1) * sizeof(uint16_t));
        p[v] += o + 1;  // p[v][x] = the sum of the columns up to x
    }
    const std::size_t row = f.Index(0, y);
    const auto w = static_cast<std::size_t>(f.width);
    const L::V one = L::Set(1);
    L::V carry[kValues];
    for (int v = 0; v < kModeValues; ++v) carry[v] = L::Zero();
    std::size_t x = 0;
    for (; x + L::kCount <= w; x += L::kCount) {
        const std::size_t i = row + x;
        const L::V red = L::LoadBytes(f.red + i);
        const L::V green = L::LoadBytes(f.green + i);
        const L::V blue = L::LoadBytes(f.blue + i);
        const L::V m = SelectedLanes<L, Mode>(f, *job.settings, i, red, green, blue);
        L::V add[kValues] = {L::And(red, m), L::And(green, m), L::And(blue, m), L::And(m, one)};
        if constexpr (kHasHalf<Mode>) {
            add[kOddRed] = L::And(add[kRed], one);
            add[kOddGreen] = L::And(add[kGreen], one);
            add[kOddBlue] = L::And(add[kBlue], one);
        }
        for (int v = 0; v < kModeValues; ++v) {
            const L::V sums = L::RunningSums(add[v], carry[v]);
            L::Store(p[v] + x, sums);
            carry[v] = L::Last(sums);
        }
    }
    uint16_t sum[kValues] = {};
    for (int v = 0; v < kModeValues; ++v) sum[v] = L::LastLane(carry[v]);
    FinishPrefix<Mode>(job, row, x, sum, p);
}

// acc[x] = the sum over the terms k of upper[k][x] - lower[k][x], for x
// from 0 to the padded width, two vectors at a time.
inline void GatherRow(uint16_t* __restrict acc, const uint16_t* const* upper, const uint16_t* const* lower,
                      int32_t count, std::size_t width) {
    constexpr std::size_t kLanes = L::kCount;
    for (std::size_t x = 0; x < width; x += 2 * kLanes) {
        L::V s0 = L::Zero();
        L::V s1 = L::Zero();
        for (int32_t k = 0; k < count; ++k) {
            s0 = L::Add(s0, L::Sub(L::Load(upper[k] + x), L::Load(lower[k] + x)));
            s1 = L::Add(s1, L::Sub(L::Load(upper[k] + x + kLanes), L::Load(lower[k] + x + kLanes)));
        }
        L::Store(acc + x, s0);
        L::Store(acc + x + kLanes, s1);
    }
}

// Averages a run of receivers from x on. The quotient of two whole numbers
// num < 2^16 and 1 <= d <= 256 whose result is at most 255 is
// trunc((num + 0.5) x fl(1 / d)) in single precision: num + 0.5 is exact,
// and the true (num + 0.5) / d lies at least 0.5 / d >= 2^-9 from every
// whole number, while the two roundings move a value below 256 by less
// than 256 x 2^-23 = 2^-15. The receivers' own rule (whole, averaged or
// nothing) is a lane mask.
template <int32_t Mode>
[[gnu::always_inline]] inline void AverageRun(const FrameView& f, const FilterSettings& s, std::size_t row,
                                              std::size_t x, const uint16_t* const* a, uint8_t* const* out) {
    const std::size_t i = row + x;
    const LI::V own[3] = {LI::LoadBytes(f.red + i), LI::LoadBytes(f.green + i), LI::LoadBytes(f.blue + i)};
    const LI::V full = SelectedLanes<LI, Mode>(f, s, i, own[0], own[1], own[2]);  // lanes taken whole
    LI::V n = LI::LoadWords(a[kCount] + x);
    // The receivers that take nothing count nobody.
    if constexpr (Mode == kIncludeBackground) n = LI::And(n, full);
    const LI::Singles inverse = LI::InverseSingle(LI::Add(n, LI::Set(1)));
    for (int c = 0; c < 3; ++c) {
        LI::V taken = LI::LoadWords(a[kRed + c] + x);
        if constexpr (Mode == kIncludeBackground) taken = LI::And(taken, full);
        if constexpr (kHasHalf<Mode>) {
            // HalfSum on lanes.
            const LI::V odd = LI::LoadWords(a[kOddRed + c] + x);
            const LI::V ownOdd = LI::Sub(LI::Zero(), LI::And(own[c], LI::Set(1)));
            const LI::V oddTotals = LI::Add(odd, LI::And(ownOdd, LI::Sub(n, LI::Add(odd, odd))));
            const LI::V half = LI::ShiftRight(LI::Sub(LI::Add(LI::Mul(n, own[c]), taken), oddTotals), 1);
            taken = LI::Or(LI::And(full, taken), LI::AndNot(full, half));
        }
        const LI::V q = LI::MidpointTimes(LI::Add(own[c], taken), inverse);
        LI::StoreBytes(out[c] + x, LI::Min(q, LI::Set(255)));
    }
}

// Averages a run of receivers from x on when every receiver takes every
// contribution whole: q = num / d with num = own + sum <= 255 x d below
// 2^16 and d = count + 1 <= 256, in sixteen-bit lanes. With
// M = ceil(2^16 / d) = (2^16 + e) / d, 0 <= e < d, num x M / 2^16 exceeds
// num / d by num x e / (2^16 x d) <= 255 x 255 / 2^16 < 1, so its whole
// part q0 is q or q + 1 (and at most 255): q0 x d > num says which. A
// receiver with d = 1 (multiplier 0) keeps num.
[[gnu::always_inline]] inline void DivideWhole(const FrameView& f, std::size_t row, std::size_t x,
                                               const uint16_t* const* a, const uint16_t* multipliers,
                                               uint8_t* const* out) {
    const L::V zero = L::Zero();
    const L::V ones = L::Set(1);
    const L::V d = L::Add(L::Load(a[kCount] + x), ones);
    const L::V m = L::Load(multipliers + x);
    const L::V alone = L::Equal(d, ones);
    const uint8_t* const own[3] = {f.red + row, f.green + row, f.blue + row};
    for (int c = 0; c < 3; ++c) {
        const L::V num = L::Add(L::LoadBytes(own[c] + x), L::Load(a[kRed + c] + x));
        L::V q = L::MulHigh(num, m);
        // All ones where q x d <= num, which keeps q; zero where it is one too many.
        const L::V fits = L::Equal(L::SubOrZero(L::MulLow(q, d), num), zero);
        q = L::Add(q, L::Xor(fits, L::Set(-1)));
        q = L::Or(L::And(alone, num), L::AndNot(alone, q));
        L::StoreBytes(out[c] + x, q);
    }
}

// acc[v] = the sums of every value over the reaching rows' windows, for
// the receiving row the terms point at; the terms then move on a plane.
template <int32_t Mode>
void GatherValues(const NarrowJob& job, NarrowWorkspace& ws, int32_t count, bool countsKept) {
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const uint16_t** upper = ws.terms;
    const uint16_t** lower = ws.terms + job.ringRows;
    for (int v = 0; v < kModeValues; ++v) {
        if (v != kCount || !countsKept) {
            GatherRow(ws.acc + static_cast<std::size_t>(v) * job.accStride, upper, lower, count,
                      job.accStride);
        }
        for (int32_t k = 0; k < count; ++k) {
            upper[k] += job.planeStride;
            lower[k] += job.planeStride;
        }
    }
}

// Averages receiving row yy from the sums in the workspace.
template <int32_t Mode>
void AverageRow(const NarrowJob& job, NarrowWorkspace& ws, int32_t first, int32_t end, int32_t yy,
                bool countsKept) {
    constexpr int kModeValues = kHasHalf<Mode> ? kValues : 4;
    const FrameView& f = *job.frame;
    const uint16_t* a[kValues] = {};
    for (int v = 0; v < kModeValues; ++v) a[v] = ws.acc + static_cast<std::size_t>(v) * job.accStride;
    const std::size_t row = f.Index(0, yy);
    const auto w = static_cast<std::size_t>(f.width);
    uint8_t* out[3];
    OutputRow(job, first, end, yy, out);
    std::size_t x = 0;
    if constexpr (Mode == kIncludeFullFrame) {
        if (!countsKept) FillMultipliers(ws, a[kCount], job.accStride);
        for (; x + L::kCount <= w; x += L::kCount) DivideWhole(f, row, x, a, ws.multipliers, out);
    } else {
        for (; x + LI::kCount <= w; x += LI::kCount) AverageRun<Mode>(f, *job.settings, row, x, a, out);
    }
    AverageTail<Mode>(f, *job.settings, row, x, a, out);
}

// Gathers and averages the receiving rows first .. end-1.
template <int32_t Mode>
void NarrowStripIn(const NarrowJob& job, NarrowWorkspace& ws, int32_t first, int32_t end) {
    const FrameView& f = *job.frame;
    const int32_t reach = job.footprint->Reach();
    int32_t built = (first > reach ? first - reach : 0) - 1;
    for (int32_t yy = first; yy < end; ++yy) {
        const int32_t last = f.height - 1 - yy > reach ? yy + reach : f.height - 1;
        for (int32_t y = built + 1; y <= last; ++y) {
            if (job.rowSpreads[y] != 0) BuildPaddedPrefix<Mode>(job, y, SlotOf<Mode>(job, ws, y));
        }
        built = last;
        const int32_t count = ReachingRows<Mode>(job, ws, yy);
        const bool countsKept = Mode == kIncludeFullFrame && KeepCounts(job, ws, count);
        GatherValues<Mode>(job, ws, count, countsKept);
        AverageRow<Mode>(job, ws, first, end, yy, countsKept);
    }
}

void NarrowStrip(const NarrowJob& job, NarrowWorkspace& ws, int32_t first, int32_t end) {
    WithMode(job.settings->FilterInclude,
             [&](auto mode) { NarrowStripIn<decltype(mode)::value>(job, ws, first, end); });
}

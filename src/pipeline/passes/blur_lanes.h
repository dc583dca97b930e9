// The plain blur's 32-bit row loops on vector lanes. Deliberately without
// an include guard: blur.cpp includes it once per instruction set, inside a
// namespace that names the int lanes of that set L, so that every function
// here is compiled for those instructions.

#include "pipeline/passes/blur_selection_lanes.h"

// prefix[x] = the sum of the column totals before x, modulo 2^32: each
// lane adds the lanes before it and the carry from the columns before.
inline void ColumnPrefix(const uint32_t* columns, std::size_t width, uint32_t* prefix) {
    prefix[0] = 0;
    L::V carry = L::Zero();
    std::size_t x = 0;
    for (; x + L::kCount <= width; x += L::kCount) {
        const L::V sums = L::RunningSums(L::Load(columns + x), carry);
        L::Store(prefix + x + 1, sums);
        carry = L::Last(sums);
    }
    uint32_t sum = L::LastLane(carry);
    for (; x < width; ++x) {
        sum += columns[x];
        prefix[x + 1] = sum;
    }
}

// Averages a run of receivers from x on from 32-bit totals, as the scalar
// form does (QuotientByInverse) in double precision. The receivers' own
// rule is a lane mask. An averaged take is the sum of (own + c) / 2 over
// the n spreading values c: with own = 2a + p and c = 2b + q each term is
// a + b + (p & q), so the sum is n x a + (sum - odd) / 2 + p x odd, every
// part well inside 32 bits.
template <int32_t Mode>
[[gnu::always_inline]] inline void AverageRun(const FrameView& f, const FilterSettings& s, std::size_t row,
                                              std::size_t x, const uint32_t* const* a, uint8_t* const* out) {
    const std::size_t i = row + x;
    const L::V own[3] = {L::LoadBytes(f.red + i), L::LoadBytes(f.green + i), L::LoadBytes(f.blue + i)};
    const L::V full = SelectedLanes<L, Mode>(f, s, i, own[0], own[1], own[2]);  // lanes taken whole
    L::V n = L::Load(a[kCount] + x);
    if constexpr (Mode == kIncludeBackground) n = L::And(n, full);
    const L::Doubles inverse = L::InverseDouble(L::Add(n, L::Set(1)));
    const L::V one = L::Set(1);
    for (int c = 0; c < 3; ++c) {
        L::V taken = L::Load(a[kRed + c] + x);
        if constexpr (Mode == kIncludeBackground) taken = L::And(taken, full);
        if constexpr (kHasHalf<Mode>) {
            const L::V odd = L::Load(a[kOddRed + c] + x);
            const L::V ownOdd = L::Sub(L::Zero(), L::And(own[c], one));
            const L::V half =
                L::Add(L::Add(L::Mul(n, L::ShiftRight(own[c], 1)), L::ShiftRight(L::Sub(taken, odd), 1)),
                       L::And(ownOdd, odd));
            taken = L::Or(L::And(full, taken), L::AndNot(full, half));
        }
        const L::V q = L::MidpointTimes(L::Add(own[c], taken), inverse);
        L::StoreBytes(out[c] + x, L::Min(q, L::Set(255)));
    }
}

// Averages the whole runs of row `row` from 32-bit totals; returns the
// first column left to the scalar form.
template <int32_t Mode>
std::size_t AverageRuns(const FrameView& f, const FilterSettings& s, std::size_t row,
                        const uint32_t* const* a, uint8_t* const* out) {
    const auto w = static_cast<std::size_t>(f.width);
    std::size_t x = 0;
    for (; x + L::kCount <= w; x += L::kCount) AverageRun<Mode>(f, s, row, x, a, out);
    return x;
}

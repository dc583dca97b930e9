#include "pipeline/passes/portable_sine.h"

#include <cmath>

#include "pipeline/frame/lanes/double_lanes.h"
#include "pipeline/frame/lanes/lanes_target.h"

namespace lumafex {

namespace {

#if LUMAFEX_DOUBLE_LANES
// The depth-of-field passes ask for a footprint, one sine a row, for
// nearly every centre between focus and the limit.
namespace narrow {
using L = Sse2DoubleLanes;
#include "pipeline/passes/quick_sine_lanes.h"
}  // namespace narrow
#if LUMAFEX_WIDE_VECTORS
LUMAFEX_LANES_BEGIN_AVX
namespace wide {
using L = AvxDoubleLanes;
#include "pipeline/passes/quick_sine_lanes.h"
}  // namespace wide
LUMAFEX_LANES_END
#endif
#endif

// Double-double arithmetic: a value is hi + lo with |lo| at most half an ulp
// of hi. Only additions and multiplications of doubles are used (no fused
// multiply-add), so SSE2 builds everywhere round every step alike.
struct DoubleDouble {
    double hi;
    double lo;
};

DoubleDouble QuickTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

DoubleDouble TwoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// Dekker's split of a into two halves of 26 significant bits each.
void Split(double a, double& hi, double& lo) {
    const double c = 134217729.0 * a;  // 2^27 + 1
    hi = c - (c - a);
    lo = a - hi;
}

DoubleDouble TwoProduct(double a, double b) {
    const double p = a * b;
    double ah, al, bh, bl;
    Split(a, ah, al);
    Split(b, bh, bl);
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

DoubleDouble Add(DoubleDouble a, DoubleDouble b) {
    DoubleDouble s = TwoSum(a.hi, b.hi);
    const double e = s.lo + a.lo + b.lo;
    return QuickTwoSum(s.hi, e);
}

DoubleDouble Negate(DoubleDouble a) { return {-a.hi, -a.lo}; }

DoubleDouble Multiply(DoubleDouble a, DoubleDouble b) {
    DoubleDouble p = TwoProduct(a.hi, b.hi);
    const double e = p.lo + (a.hi * b.lo + a.lo * b.hi);
    return QuickTwoSum(p.hi, e);
}

DoubleDouble Divide(DoubleDouble a, double b) {
    const double q1 = a.hi / b;
    const DoubleDouble p = TwoProduct(q1, b);
    DoubleDouble s = TwoSum(a.hi, -p.hi);
    const double e = s.lo - p.lo + a.lo;
    const double q2 = (s.hi + e) / b;
    return QuickTwoSum(q1, q2);
}

}  // namespace

void ScaledQuickSines(double scale, const double* x, double* out, int32_t n,
                      [[maybe_unused]] InstructionSet set) {
    int32_t i = 0;
#if LUMAFEX_DOUBLE_LANES
#if LUMAFEX_WIDE_VECTORS
    if (Allows(set, InstructionSet::Avx)) i = wide::ScaledQuickSineRuns(scale, x, out, n);
#endif
    i += narrow::ScaledQuickSineRuns(scale, x + i, out + i, n - i);
#endif
    for (; i < n; ++i) out[i] = scale * QuickSine(x[i]);
}

double PortableSine(double x) {
    if (!(x >= 0.0 && x <= 4.0)) return std::sin(x);
    // Taylor series x - x^3/3! + x^5/5! - ..., summed in double-double until
    // the terms no longer matter at 2^-110 of the largest one.
    const DoubleDouble square = TwoProduct(x, x);
    DoubleDouble term{x, 0.0};
    DoubleDouble sum = term;
    for (int k = 1; k <= 40; ++k) {
        term = Divide(Multiply(term, square), static_cast<double>((2 * k) * (2 * k + 1)));
        sum = Add(sum, k % 2 == 1 ? Negate(term) : term);
        if (term.hi < 1e-34) break;
    }
    return sum.hi + sum.lo;
}

}  // namespace lumafex

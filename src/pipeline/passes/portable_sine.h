// The sine the footprint uses, computed from basic double-precision
// operations only, so that every platform's build gives the same value for
// the same angle. Runtime libraries differ in the last bit of their sine for
// some arguments, and a truncated r x sin(angle) would then differ in whole
// pixels on a few rows.
#pragma once

#include <cstdint>
#include <limits>

#include "pipeline/frame/wide_vectors.h"

namespace lumafex {

// sin(x) correctly rounded to double for 0 <= x <= 4 (barring a true value
// within about 1e-30 of a rounding boundary); other arguments fall back to
// the runtime's sine.
double PortableSine(double x);

// The series QuickSine sums: the Taylor terms of sin(y) / y - 1 over y^2,
// to y^21. On |y| <= pi/2 the rest is below 2e-18, and the rounding of the
// steps stays within a few 1e-16.
inline constexpr double kQuickSineTerms[] = {
    -1.0 / 6.0,
    1.0 / 120.0,
    -1.0 / 5040.0,
    1.0 / 362880.0,
    -1.0 / 39916800.0,
    1.0 / 6227020800.0,
    -1.0 / 1307674368000.0,
    1.0 / 355687428096000.0,
    -1.0 / 121645100408832000.0,
    1.0 / 51090942171709440000.0,
};
// sin(x) = sin(pi - x): past pi/2, x folds onto (pi's double - x), exact
// there, plus pi's remainder (a little below 0 for x just past pi).
inline constexpr double kQuickSinePiHigh = 3.141592653589793;
inline constexpr double kQuickSinePiLow = 1.2246467991473532e-16;
inline constexpr double kQuickSineLargest = 3.25;

// sin(x) within 1e-14 for 0 <= x <= 3.25, from a short polynomial: much
// cheaper than either sine above, for callers that only need to know on
// which side of a whole number r x sin(x) lies and ask one of them when it
// is too close to tell. NaN outside that range.
inline double QuickSine(double x) {
    if (!(x >= 0.0 && x <= kQuickSineLargest)) return std::numeric_limits<double>::quiet_NaN();
    const double y =
        x <= kQuickSinePiHigh / 2.0 ? x : (kQuickSinePiHigh - x) + kQuickSinePiLow;
    const double y2 = y * y;
    double sum = kQuickSineTerms[9];
    for (int k = 8; k >= 0; --k) sum = sum * y2 + kQuickSineTerms[k];
    return y + (y * y2) * sum;
}

// out[i] = scale x QuickSine(x[i]) for i < n, on the widest double lanes
// `set` allows, each lane with the same operations in the same order, so
// every value equals the scalar one.
void ScaledQuickSines(double scale, const double* x, double* out, int32_t n, InstructionSet set);

}  // namespace lumafex

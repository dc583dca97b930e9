// The sine the footprint uses, computed from basic double-precision
// operations only, so that every platform's build gives the same value for
// the same angle. Runtime libraries differ in the last bit of their sine for
// some arguments, and a truncated r x sin(angle) would then differ in whole
// pixels on a few rows.
#pragma once

namespace lumafex {

// sin(x) correctly rounded to double for 0 <= x <= 4 (barring a true value
// within about 1e-30 of a rounding boundary); other arguments fall back to
// the runtime's sine.
double PortableSine(double x);

}  // namespace lumafex

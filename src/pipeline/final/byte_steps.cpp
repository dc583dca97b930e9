#include "pipeline/final/byte_steps.h"

#include <cmath>
#include <cstdlib>

namespace lumafex {

void StepTable::Fill(double k) {
    for (int32_t d = -255; d <= 255; ++d) {
        const double product = d * k;
        double step = std::floor(product);
        if (!(step == step)) step = -512.0;  // NaN: the byte becomes 0
        if (step > 512.0) step = 512.0;
        if (step < -512.0) step = -512.0;
        by[d + 255] = static_cast<int16_t>(step);
    }
}

namespace {

// Whether v + a and v + b, limited to 0..255, agree for every byte v. With
// a < b they differ exactly for the v where v + b > 0 and v + a < 255.
bool SameBytes(int32_t a, int32_t b) {
    if (a == b) return true;
    const int32_t low = a < b ? a : b;
    const int32_t high = a < b ? b : a;
    const int32_t first = 1 - high > 0 ? 1 - high : 0;
    const int32_t last = 254 - low < 255 ? 254 - low : 255;
    return first > last;
}

}  // namespace

bool LaneSteps::Match(double k, const StepTable& table, int32_t from) {
    // Each candidate is checked against the table over every difference, so
    // the search only has to find a good one, not prove anything: the
    // multipliers next to k x 2^(9 + shift), for every shift.
    bool found = false;
    int32_t fewest = kMaxFixes + 1;
    for (int32_t bits = 0; bits <= 15 && fewest > 0; ++bits) {
        const double scaled = std::ldexp(k, 9 + bits);
        if (!(std::fabs(scaled) < 40000.0)) continue;  // also skips NaN
        const auto near = static_cast<int32_t>(std::floor(scaled));
        for (int32_t m = near - 1; m <= near + 2 && fewest > 0; ++m) {
            if (m < -32768 || m > 32767) continue;
            LaneSteps form;
            form.multiplier = static_cast<int16_t>(m);
            form.shift = bits;
            for (int32_t d = -255; d <= 255 && form.fixes <= kMaxFixes; ++d) {
                if (std::abs(d) < from) continue;
                const int32_t want = table.by[d + 255];
                const int32_t got = form.Step(d);
                if (SameBytes(got, want)) continue;
                if (form.fixes < kMaxFixes) {
                    form.fixAt[form.fixes] = static_cast<int16_t>(d);
                    form.fixBy[form.fixes] = static_cast<int16_t>(want - got);
                }
                ++form.fixes;
            }
            if (form.fixes < fewest) {
                fewest = form.fixes;
                *this = form;
                found = true;
            }
        }
    }
    return found;
}

bool LaneSteps::StaysBetween(int32_t from) const {
    for (int32_t d = -255; d <= 255; ++d) {
        if (std::abs(d) < from) continue;
        const int32_t step = Step(d);
        if (d >= 0 ? (step < 0 || step > d) : (step > 0 || step < d)) return false;
    }
    return true;
}

}  // namespace lumafex

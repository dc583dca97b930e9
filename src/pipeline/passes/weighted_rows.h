// The rows the softer blur's gathers work on (weighted_lanes.h,
// weighted_fused_lanes.h): a source row as it reaches one receiving row,
// and a receiving row's sums.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumafex {

// One source row as it reaches one receiving row.
//  - value[c][x] for c = red, green, blue is the colour of pixel x where
//    it spreads and 0 elsewhere, and value[3][x] is 1 where it spreads and
//    0 elsewhere; all may be read from column -32 to 32 past the receiving
//    row's padded width.
//  - before[x] counts the spreading pixels left of column x (x = 0 ..
//    width), so that runs out of reach of every one of them are skipped.
//  - weight[dx], t[dx] and rest[dx], for dx = -reach .. reach, are the
//    weights of the footprint row that lands on the receiving row, by
//    offset from the receiver, and for blended receivers t = w / r and
//    1 - t.
struct SourceRowLanes {
    const double* value[4];
    const float* single[4];  // the same values in single precision, for the fused form
    const int32_t* before;
    const float* weight;
    double* t;  // filled by the caller once a blended receiver needs them
    double* rest;
    int32_t reach;
};

// One receiving row's sums, red, green, blue and weight, each a plane:
// single-precision values kept in double precision, so that they need no
// conversion on their way in and out.
struct SumLanes {
    double* value[4];
};

// One source row as it reaches two neighbouring receiving rows: row[i] is
// its lanes for receiving row i, or null when it does not reach that row.
struct SourceRowPair {
    const SourceRowLanes* row[2];
};

// One offset of one source row as the fused gather of two receiving rows
// takes it: the source's first channel at that offset (the others follow a
// fixed stride apart) and its weight for each of the two rows, 0 for a row
// that the offset does not reach.
struct FusedStep {
    const float* value;
    float weight[2];
};

// The offsets lo .. hi from the N receivers of the run at x0 to the
// sources within reach of at least one of them and inside the frame; false
// when none of those spreads.
template <int32_t N>
[[gnu::always_inline]] inline bool RunOffsets(const SourceRowLanes& row, int32_t x0, int32_t width,
                                              int32_t& lo, int32_t& hi) {
    const int32_t reach = row.reach;
    lo = -(reach < x0 + N - 1 ? reach : x0 + N - 1);
    hi = reach < width - 1 - x0 ? reach : width - 1 - x0;
    const int32_t a = x0 + lo > 0 ? x0 + lo : 0;
    const int32_t b = x0 + N - 1 + hi < width - 1 ? x0 + N - 1 + hi : width - 1;
    return row.before[b + 1] != row.before[a];
}

}  // namespace lumafex

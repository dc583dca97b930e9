#include "pipeline/final/flip.h"

#include <cstddef>
#include <utility>

#include "pipeline/frame/lanes/byte_lanes.h"
#include "pipeline/frame/lanes/lanes_target.h"

namespace lumafex {

namespace {

// The swaps of runs on byte lanes, once for each kind of lanes.
#define LUMAFEX_BYTE_LANES_KERNELS "pipeline/final/flip_lanes.h"
#include "pipeline/frame/lanes/byte_lanes_forms.h"

// Runs from both ends swap places reversed, the widest `set` allows first,
// while they do not overlap; the middle is left to the byte loop.
void ReverseBytes(uint8_t* p, std::size_t n, [[maybe_unused]] InstructionSet set) {
    std::size_t left = 0;
    std::size_t right = n;
#if LUMAFEX_BYTE_LANES
#if LUMAFEX_WIDE_VECTORS
    if (Allows(set, InstructionSet::Avx2Fma)) wide::ReverseRuns(p, left, right);
#endif
    narrow::ReverseRuns(p, left, right);
#endif
    while (right - left >= 2) {
        std::swap(p[left], p[right - 1]);
        ++left;
        --right;
    }
}

}  // namespace

void FlipRowHorizontally(const RowView& row, InstructionSet set) {
    const auto w = static_cast<std::size_t>(row.width > 0 ? row.width : 0);
    ReverseBytes(row.red, w, set);
    ReverseBytes(row.green, w, set);
    ReverseBytes(row.blue, w, set);
    ReverseBytes(row.alpha, w, set);
}

}  // namespace lumafex

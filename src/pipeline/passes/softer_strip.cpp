#include "pipeline/passes/softer_strip.h"

#include <limits>

namespace lumafex::softer {

bool Workspace::Allocate(uint64_t width, uint64_t padded, uint64_t rows) {
    const uint64_t sourceRow = padded + 2 * kMaxLanes;
    const uint64_t table = 2 * width + 1;
    const uint64_t largest = std::numeric_limits<std::size_t>::max() / sizeof(double);
    if (4 * rows * padded > largest || kBlockRows * 4 * sourceRow > largest ||
        2 * kBlockRows * 2 * table > largest) {
        return false;
    }
    auto count = [](uint64_t n) { return static_cast<std::size_t>(n); };
    sums = platform::WorkingArray<double>::Allocate(count(4 * rows * padded));
    takes = platform::WorkingArray<uint8_t>::Allocate(count(rows * padded));
    runs = platform::WorkingArray<uint8_t>::Allocate(count(rows * (padded / kFewestRunLanes)));
    values = platform::WorkingArray<double>::Allocate(count(kBlockRows * 4 * sourceRow));
    singles = platform::WorkingArray<float>::Allocate(count(kBlockRows * 4 * sourceRow));
    before = platform::WorkingArray<int32_t>::Allocate(count(kBlockRows * (width + 1)));
    // Weights, t and 1 - t of the block's rows for two receiving rows.
    weights = platform::WorkingArray<float>::Allocate(count(2 * kBlockRows * table));
    blend = platform::WorkingArray<double>::Allocate(count(2 * kBlockRows * 2 * table));
    shared = platform::WorkingArray<float>::Allocate(count(width + 1));
    interior = platform::WorkingArray<double>::Allocate(count(2 * width));
    on = platform::WorkingArray<uint8_t>::Allocate(count(width));
#if LUMAFEX_WIDE_VECTORS
    steps = platform::WorkingArray<FusedStep>::Allocate(kBlockRows * (2 * kMaxLanes + 1));
    if (!steps) return false;
#endif
    return sums && takes && runs && values && singles && before && weights && blend && shared && interior &&
           on;
}

}  // namespace lumafex::softer

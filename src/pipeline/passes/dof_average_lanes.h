// The depth-of-field blur's integer averages on double lanes. Deliberately
// without an include guard: dof_blur_kernels.cpp includes it once per kind
// of lanes, inside a namespace that names them L.
//
// Lane by lane the arithmetic of IntegerAverage: the sum over the count in
// double, then 0 at or below 0, 255 at or above 255 and truncated between.

// Writes the integer averages of cells 0 .. pixels-1 into the planes,
// L::kCount pixels at a time, and returns how many pixels from the first
// it did. A group holding a count that is not above 0 (none, once the sums
// are seeded) goes one by one, leaving those pixels as they are.
inline std::size_t IntegerAverages(const SumCell<int32_t>* cells, std::size_t pixels, uint8_t* red,
                                   uint8_t* green, uint8_t* blue) {
    constexpr auto kLanes = static_cast<std::size_t>(L::kCount);
    const L::V zero = L::Zero();
    const L::V top = L::Set(255.0);
    uint8_t* const planes[3] = {red, green, blue};
    std::size_t i = 0;
    for (; i + kLanes <= pixels; i += kLanes) {
        L::V v[4];
        L::LoadCells(&cells[i].red, v);
        if (L::MoveMask(L::LessEqual(v[3], zero)) != 0) {
            for (std::size_t k = i; k < i + kLanes; ++k) {
                const SumCell<int32_t>& cell = cells[k];
                if (cell.count <= 0) continue;
                red[k] = IntegerAverage(cell.red, cell.count);
                green[k] = IntegerAverage(cell.green, cell.count);
                blue[k] = IntegerAverage(cell.blue, cell.count);
            }
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            const uint32_t bytes = L::TruncateToBytes(L::Min(L::Max(L::Div(v[c], v[3]), zero), top));
            std::memcpy(planes[c] + i, &bytes, kLanes);
        }
    }
    return i;
}

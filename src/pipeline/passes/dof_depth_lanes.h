// The depth maxima of the depth-of-field gather, and the centres hidden
// from a receiver, on single-precision lanes.
// Deliberately without an include guard: dof_blur_kernels.cpp includes it
// once per kind of lanes, inside a namespace that names them L.

// to[x] = from[x] > to[x] ? from[x] : to[x] for x = 0 .. count-1; to and
// from do not overlap.
inline void RaiseTo(float* to, const float* from, int32_t count) {
    int32_t x = 0;
    for (; x + L::kCount <= count; x += L::kCount)
        L::Store(to + x, L::Max(L::Load(from + x), L::Load(to + x)));
    for (; x < count; ++x) to[x] = from[x] > to[x] ? from[x] : to[x];
}

// sums (red, green, blue, count) += the colours of the footprint's
// centres around column x whose depth is above `above`: the depths are
// compared L::kCount at a time, and the colours added one by one for the
// centres that pass.
inline void AddDeeper(const DeeperFootprint& footprint, int32_t x, float above, uint32_t sums[4]) {
    const L::V limit = L::Set(above);
    // Summed in locals: through sums, every colour read would reload them.
    uint32_t red = 0, green = 0, blue = 0, count = 0;
    for (int32_t i = 0; i < footprint.rows; ++i) {
        const int32_t hw = footprint.halfWidths[i];
        if (hw < 0) continue;
        const ColumnSpan span = FootprintColumns(x, hw, footprint.width);
        const std::size_t row = static_cast<std::size_t>(i) * footprint.stride;
        const float* const depths = footprint.depths + row;
        for (int32_t c = span.first; c <= span.last; c += L::kCount) {
            uint32_t deeper = L::GreaterBits(L::Load(depths + c), limit);
            if (span.last - c + 1 < L::kCount) deeper &= (uint32_t{1} << (span.last - c + 1)) - 1;
            for (; deeper != 0; deeper &= deeper - 1) {
                const std::size_t at = row + static_cast<std::size_t>(c + std::countr_zero(deeper));
                red += footprint.red[at];
                green += footprint.green[at];
                blue += footprint.blue[at];
                count += 1;
            }
        }
    }
    sums[0] += red;
    sums[1] += green;
    sums[2] += blue;
    sums[3] += count;
}

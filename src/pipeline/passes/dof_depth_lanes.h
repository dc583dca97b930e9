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
// centres around column x whose depth is above `above`: L::kCount columns
// at a time, their colours picked by the comparison's bits. A group that
// would pass its span's end ends with it instead (never before column 0:
// the row holds a whole group), its columns before the group's own left
// out, so nothing beyond the row is read.
inline void AddDeeper(const DeeperFootprint& footprint, int32_t x, float above, uint32_t sums[4]) {
    constexpr int32_t kLanes = L::kCount;
    const L::V limit = L::Set(above);
    if (footprint.width < kLanes) {
        for (int32_t i = 0; i < footprint.rows; ++i) {
            const int32_t hw = footprint.halfWidths[i];
            if (hw < 0) continue;
            const ColumnSpan span = FootprintColumns(x, hw, footprint.width);
            for (int32_t c = span.first; c <= span.last; ++c) {
                const std::size_t at =
                    static_cast<std::size_t>(i) * footprint.stride + static_cast<std::size_t>(c);
                if (!(footprint.depths[at] > above)) continue;
                sums[0] += footprint.red[at];
                sums[1] += footprint.green[at];
                sums[2] += footprint.blue[at];
                sums[3] += 1;
            }
        }
        return;
    }
    PickedColourSums picked;
    for (int32_t i = 0; i < footprint.rows; ++i) {
        const int32_t hw = footprint.halfWidths[i];
        if (hw < 0) continue;
        const ColumnSpan span = FootprintColumns(x, hw, footprint.width);
        const std::size_t row = static_cast<std::size_t>(i) * footprint.stride;
        for (int32_t c = span.first; c <= span.last; c += kLanes) {
            int32_t at = c;
            uint32_t lanes = (uint32_t{1} << kLanes) - 1;
            if (span.last - c + 1 < kLanes) {
                at = span.last - kLanes + 1 > 0 ? span.last - kLanes + 1 : 0;
                lanes = ((uint32_t{1} << (span.last - at + 1)) - 1) & ~((uint32_t{1} << (c - at)) - 1);
            }
            const std::size_t from = row + static_cast<std::size_t>(at);
            const uint32_t deeper = L::GreaterBits(L::Load(footprint.depths + from), limit) & lanes;
            picked.Add<kLanes>(footprint.red + from, footprint.green + from, footprint.blue + from, deeper);
        }
    }
    picked.AddTo(sums);
}

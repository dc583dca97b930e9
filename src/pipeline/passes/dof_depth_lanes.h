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

// sums (red, green, blue, count) += the colours of the columns from .. to
// whose depth is above `above`; depths holds L::kCount - 1 readable values
// past `to`. Few of a footprint's centres are hidden, so the colours are
// added one by one, only for them.
inline void AddDeeper(const float* depths, const DeeperColours& colours, int32_t from, int32_t to, float above,
                      uint32_t sums[4]) {
    const L::V limit = L::Set(above);
    for (int32_t x = from; x <= to; x += L::kCount) {
        uint32_t deeper = L::GreaterBits(L::Load(depths + x), limit);
        if (to - x + 1 < L::kCount) deeper &= (uint32_t{1} << (to - x + 1)) - 1;
        for (; deeper != 0; deeper &= deeper - 1) {
            const auto c = static_cast<std::size_t>(x + std::countr_zero(deeper));
            sums[0] += colours.red[c];
            sums[1] += colours.green[c];
            sums[2] += colours.blue[c];
            sums[3] += 1;
        }
    }
}

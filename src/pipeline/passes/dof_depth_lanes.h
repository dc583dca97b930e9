// The depth maxima of the depth-of-field gather on single-precision lanes.
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

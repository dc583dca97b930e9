// The window sums of the depth-of-field gather's prefix sums on integer
// lanes that wrap around (16-bit words, or 32-bit ints). Deliberately
// without an include guard: dof_blur_kernels.cpp includes it once per kind
// of lanes, inside a namespace that names them L.

// acc[i] += prefix[i + ahead] - prefix[i - behind] for i = from .. end-1,
// wrapping around in the width of T (that of L's lanes), as the scalar sums
// do. acc and prefix do not overlap.
template <typename T>
inline void AddWindowDifferences(T* acc, const T* prefix, std::size_t from, std::size_t end,
                                 std::size_t ahead, std::size_t behind) {
    std::size_t i = from;
    for (; i + L::kCount <= end; i += L::kCount) {
        const L::V window = L::Sub(L::Load(prefix + i + ahead), L::Load(prefix + i - behind));
        L::Store(acc + i, L::Add(L::Load(acc + i), window));
    }
    for (; i < end; ++i)
        acc[i] = static_cast<T>(acc[i] + static_cast<T>(prefix[i + ahead] - prefix[i - behind]));
}

// The horizontal flip on byte lanes, written once over the lanes type L and
// included (without an include guard) inside the namespace that names L:
// see flip.cpp.

// Swaps runs of L::kCount bytes from both ends of p[left .. right),
// each reversed, while two runs fit without overlapping; moves left and
// right past what it swapped and leaves the middle.
inline void ReverseRuns(uint8_t* p, std::size_t& left, std::size_t& right) {
    constexpr auto kCount = static_cast<std::size_t>(L::kCount);
    while (right - left >= 2 * kCount) {
        uint8_t* const a = p + left;
        uint8_t* const b = p + right - kCount;
        const L::V front = L::Load(a);
        const L::V back = L::Load(b);
        L::Store(a, L::Reverse(back));
        L::Store(b, L::Reverse(front));
        left += kCount;
        right -= kCount;
    }
}

// The selection of a run of L::kCount pixels from their key plane, over
// the byte lanes type L: all ones where selected. Included (without an
// include guard) by the kernel headers of the stages that select by key,
// inside the namespace that names L.

template <Key K>
inline L::V KeySelection(const uint8_t* key) {
    if constexpr (K == Key::All) {
        return L::Ones();
    } else {
        const L::V zeros = L::Equal(L::Load(key), L::Zero());
        if constexpr (K == Key::Zero) return zeros;
        return L::AndNot(zeros, L::Ones());
    }
}

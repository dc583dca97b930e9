// Range alpha on byte lanes, written once over the lanes type L and
// included (without an include guard) inside the namespace that names L:
// see key_stages.cpp.

// All ones in the lanes whose byte at p is in range: v - lo, saturated
// past the span, is 0 just when v is.
inline L::V InByteRange(const uint8_t* p, const ByteRange& range) {
    const L::V above = L::SubSaturate(L::SubWrap(L::Load(p), L::Set(range.lo)), L::Set(range.span));
    return L::Equal(above, L::Zero());
}

inline void OrInto(uint8_t* p, L::V all) { L::Store(p, L::Or(L::Load(p), all)); }

// Range alpha over pixels x .. while a whole run of L::kCount fits from
// x; returns where it stopped.
inline int32_t RangeAlphaRuns(const RowView& row, const ByteRange& red, const ByteRange& green,
                              const ByteRange& blue, int32_t x) {
    uint8_t* const r = row.red;
    uint8_t* const g = row.green;
    uint8_t* const b = row.blue;
    uint8_t* const a = row.alpha;
    const int32_t width = row.width;
    for (; width - x >= L::kCount; x += L::kCount) {
        const L::V all =
            L::And(L::And(InByteRange(r + x, red), InByteRange(g + x, green)), InByteRange(b + x, blue));
        OrInto(r + x, all);
        OrInto(g + x, all);
        OrInto(b + x, all);
        OrInto(a + x, all);
    }
    return x;
}

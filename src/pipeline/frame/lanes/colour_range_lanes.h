// The colour-range test on lanes, written once for every pass that selects
// by colour on lanes. Deliberately without an include guard: a pass's
// lanes header includes it inside the namespace that names the lanes of
// one instruction set, so that it is compiled for them. X is any lanes type
// of signed 16-bit or wider lanes holding colour bytes, with Set, Greater
// and And.

// All ones in the lanes whose red, green and blue lie in the settings'
// range. The bounds are first limited to -1 .. 256, which tests a byte as
// the bound itself does.
template <typename X>
[[gnu::always_inline]] inline typename X::V InColourRange(const FilterSettings& s, typename X::V red,
                                                          typename X::V green, typename X::V blue) {
    // low <= byte <= high as byte > low - 1 and high + 1 > byte.
    const auto bound = [](int32_t v, int32_t by) {
        return static_cast<int16_t>((v < -1 ? -1 : (v > 256 ? 256 : v)) + by);
    };
    const typename X::V r =
        X::And(X::Greater(red, X::Set(bound(s.r1, -1))), X::Greater(X::Set(bound(s.r2, 1)), red));
    const typename X::V g =
        X::And(X::Greater(green, X::Set(bound(s.g1, -1))), X::Greater(X::Set(bound(s.g2, 1)), green));
    const typename X::V b =
        X::And(X::Greater(blue, X::Set(bound(s.b1, -1))), X::Greater(X::Set(bound(s.b2, 1)), blue));
    return X::And(r, X::And(g, b));
}

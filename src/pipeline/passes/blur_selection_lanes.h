// Which pixels of the plain blur spread, and which receivers take their
// contributions whole, on lanes. Deliberately without an include guard: the
// blur's lanes headers include it, inside the namespace that names the
// lanes of one instruction set, so that it is compiled for them.

#include "pipeline/frame/lanes/colour_range_lanes.h"

// All ones in the lanes of X whose pixels from i on spread (or, for the
// receivers, take contributions whole) in Mode.
template <typename X, int32_t Mode>
[[gnu::always_inline]] inline typename X::V SelectedLanes(const FrameView& f, const FilterSettings& s,
                                                          std::size_t i, typename X::V red,
                                                          typename X::V green, typename X::V blue) {
    const typename X::V all = X::Set(-1);
    if constexpr (Mode == kIncludeObjects) {
        return X::AndNot(X::Equal(X::LoadBytes(f.alpha + i), X::Zero()), all);
    } else if constexpr (Mode == kIncludeBackground) {
        return X::Equal(X::LoadBytes(f.alpha + i), X::Zero());
    } else if constexpr (Mode == kIncludeShadows) {
        return X::AndNot(X::Equal(X::LoadBytes(f.shadow + i), X::Zero()), all);
    } else if constexpr (Mode == kIncludeColorRange) {
        return InColourRange<X>(s, red, green, blue);
    } else {
        return all;
    }
}

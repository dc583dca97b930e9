// The rows of enhance and antialias on vector lanes. Deliberately without
// an include guard: enhance_antialias.cpp includes it once per kind of
// lanes, inside a namespace that names them L, so that every function here,
// lambdas included, is compiled for the instructions of those lanes.
// It expects the types of that file (PassValues, Channels) to be declared.

#include "pipeline/frame/lanes/colour_range_lanes.h"

// A LaneSteps form spread over the lanes.
struct StepLanes {
    L::V multiplier;
    int32_t shift;
    int32_t fixes;
    L::V fixAt[LaneSteps::kMaxFixes];
    L::V fixBy[LaneSteps::kMaxFixes];

    explicit StepLanes(const LaneSteps& form)
        : multiplier(L::Set(form.multiplier)), shift(form.shift), fixes(form.fixes) {
        for (int32_t i = 0; i < fixes; ++i) {
            fixAt[i] = L::Set(form.fixAt[i]);
            fixBy[i] = L::Set(form.fixBy[i]);
        }
    }
    // The step for differences d, as LaneSteps::Step gives it; Fixed:
    // whether the form has corrections (callers choose it once per row, so
    // that the loops without them carry no loop of their own).
    template <bool Fixed>
    L::V Step(L::V d) const {
        L::V step = L::ShiftRight(L::MulHigh(L::Times128(d), multiplier), shift);
        if constexpr (Fixed) {
            for (int32_t i = 0; i < fixes; ++i) step = L::Add(step, L::And(L::Equal(d, fixAt[i]), fixBy[i]));
        }
        return step;
    }
    // v + step(d), limited to 0..255, as the table gives it.
    template <bool Fixed>
    L::V Apply(L::V v, L::V d) const {
        return L::Min(L::Max(L::Add(v, Step<Fixed>(d)), L::Zero()), L::Set(255));
    }
    // Runs body with Fixed as a compile-time constant.
    template <typename Body>
    void WithFixes(Body&& body) const {
        if (fixes == 0) {
            body(std::false_type{});
        } else {
            body(std::true_type{});
        }
    }
};

// All ones in the lanes of the selected pixels among those from frame
// index i on, with colours r, g, b.
template <int32_t Mode>
inline L::V SelectedLanes(const PassValues& v, std::size_t i, L::V r, L::V g, L::V b) {
    const L::V all = L::Set(-1);
    if constexpr (Mode == kIncludeObjects) {
        return L::AndNot(L::Equal(L::Load(v.f.alpha + i), L::Zero()), all);
    } else if constexpr (Mode == kIncludeBackground) {
        return L::Equal(L::Load(v.f.alpha + i), L::Zero());
    } else if constexpr (Mode == kIncludeShadows) {
        return L::AndNot(L::Equal(L::Load(v.f.shadow + i), L::Zero()), all);
    } else if constexpr (Mode == kIncludeColorRange) {
        return InColourRange<L>(v.s, r, g, b);
    } else {
        return all;
    }
}

// The first pixel of each run of kCount over x = from .. end-1 (at least
// kCount of them). The last run is moved back to end where the row ends and
// works a few pixels twice, with the same result, since no run reads what
// another writes.
template <typename Body>
inline void ForEachRun(int32_t from, int32_t end, Body&& body) {
    for (int32_t x = from; x < end; x += L::kCount) body(x + L::kCount <= end ? x : end - L::kCount);
}

// EnhanceRow on lanes; needs W - 1 >= kCount.
template <int32_t Mode>
void EnhanceRow(const PassValues& v, int32_t y, const Channels& in, const Channels& out) {
    const StepLanes by(v.enhanceLanes);
    const std::size_t o = v.f.Index(0, y);
    for (int c = 0; c < 3; ++c) out.c[c][0] = in.c[c][0];
    by.WithFixes([&](auto fixed) {
        ForEachRun(1, v.f.width, [&](int32_t x) {
            L::V now[3];
            for (int c = 0; c < 3; ++c) now[c] = L::Load(in.c[c] + x);
            const L::V selected = SelectedLanes<Mode>(v, o + x, now[0], now[1], now[2]);
            for (int c = 0; c < 3; ++c) {
                const L::V d = L::Sub(now[c], L::Load(in.c[c] + x - 1));
                const L::V sharpened = by.template Apply<decltype(fixed)::value>(now[c], d);
                L::Store(out.c[c] + x, L::Add(now[c], L::And(selected, L::Sub(sharpened, now[c]))));
            }
        });
    });
}

// AntialiasRow on lanes, with the strength's kind and the fields fixed;
// needs W - 2 >= kCount. Between: every step lies between 0 and its
// difference, so v + step stays between v and the neighbour's value and
// needs no limiting.
template <int32_t Mode, bool MarkOnly, bool Vertical, bool Between>
void AntialiasRow(const PassValues& v, int32_t y, const Channels& row, const Channels& above,
                  const Channels& below, const Channels& out) {
    const StepLanes by(v.softenLanes);
    const L::V underReach = L::Set(static_cast<int16_t>(v.reach - 1));
    const L::V never = L::Set(32767);  // above every |d|
    const std::size_t o = v.f.Index(0, y);
    const int32_t w = v.f.width;
    for (int c = 0; c < 3; ++c) {
        out.c[c][0] = row.c[c][0];
        out.c[c][w - 1] = row.c[c][w - 1];
    }
    constexpr int kNeighbours = Vertical ? 4 : 2;
    by.WithFixes([&](auto fixed) {
        [[maybe_unused]] constexpr bool kFixed = decltype(fixed)::value;
        ForEachRun(1, w - 1, [&](int32_t x) {
            L::V value[3];
            for (int c = 0; c < 3; ++c) value[c] = L::Load(row.c[c] + x);
            // A neighbour counts where |d| exceeds this: never for the pixels
            // not selected.
            const L::V selected = SelectedLanes<Mode>(v, o + x, value[0], value[1], value[2]);
            const L::V under = L::Or(L::And(selected, underReach), L::AndNot(selected, never));
            // The neighbours in their order: left, right, above, below.
            const uint8_t* const neighbours[4][3] = {{row.c[0] + x - 1, row.c[1] + x - 1, row.c[2] + x - 1},
                                                     {row.c[0] + x + 1, row.c[1] + x + 1, row.c[2] + x + 1},
                                                     {above.c[0] + x, above.c[1] + x, above.c[2] + x},
                                                     {below.c[0] + x, below.c[1] + x, below.c[2] + x}};
            if constexpr (MarkOnly) {
                L::V edge = L::Zero();
#pragma GCC unroll 4
                for (int n = 0; n < kNeighbours; ++n) {
#pragma GCC unroll 3
                    for (int c = 0; c < 3; ++c) {
                        const L::V d = L::Sub(L::Load(neighbours[n][c]), value[c]);
                        edge = L::Or(edge, L::Greater(L::Abs(d), under));
                    }
                }
                const L::V white = L::And(edge, L::Set(255));
                for (int c = 0; c < 3; ++c) L::Store(out.c[c] + x, L::Max(value[c], white));
            } else {
#pragma GCC unroll 4
                for (int n = 0; n < kNeighbours; ++n) {
#pragma GCC unroll 3
                    for (int c = 0; c < 3; ++c) {
                        const L::V d = L::Sub(L::Load(neighbours[n][c]), value[c]);
                        const L::V qualifies = L::Greater(L::Abs(d), under);
                        if constexpr (Between) {
                            value[c] = L::Add(value[c], L::And(qualifies, by.template Step<kFixed>(d)));
                        } else {
                            const L::V softened = by.template Apply<kFixed>(value[c], d);
                            value[c] = L::Add(value[c], L::And(qualifies, L::Sub(softened, value[c])));
                        }
                    }
                }
                for (int c = 0; c < 3; ++c) L::Store(out.c[c] + x, value[c]);
            }
        });
    });
}

// The antialias row for the frame's strength and fields.
template <int32_t Mode>
AntialiasFunction AntialiasFor(const PassValues& v) {
    if (v.markOnly) {
        return v.vertical ? AntialiasRow<Mode, true, true, false> : AntialiasRow<Mode, true, false, false>;
    }
    if (v.softenBetween) {
        return v.vertical ? AntialiasRow<Mode, false, true, true> : AntialiasRow<Mode, false, false, true>;
    }
    return v.vertical ? AntialiasRow<Mode, false, true, false> : AntialiasRow<Mode, false, false, false>;
}

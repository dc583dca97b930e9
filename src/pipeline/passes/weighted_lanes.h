// Weighted single-precision sums gathered for a run of neighbouring
// receivers in one receiving row at once, from a few source rows in turn,
// written over the double lanes L (double_lanes.h). No include guard: a
// pass includes it once per lanes type, inside a namespace that names them
// (weighted_rows.h, which it needs, is included by the pass first).
//
// Each receiver adds the contributions of the source pixels within reach of
// it from left to right, rounding every new sum to single precision as it
// is stored, exactly as it would alone. The receivers of a run do not wait
// for each other, so they are the lanes of vectors: each addition of one
// receiver waits only for its own previous addition.
//
// A source row comes with zeros where a pixel does not spread and beyond
// both ends of the frame, so that every lane can run over the whole range
// of offsets of its run: a zero colour times a finite weight adds exactly
// nothing to a sum. (An infinite weight does not allow that: 0 x infinity
// is not 0. The mixed form below takes nothing at all from a pixel that
// does not spread, and so serves every weight.)
//
// Every sum, colour or weight, is formed as the weighted value in double
// precision added to the sum in double precision and rounded to single
// precision, V vectors side by side, so that enough additions are under way
// at once.

// sum + add rounded to single precision, on the bits (exact only while
// every sum is 0 or normal in single precision) or by conversion.
template <bool ByBits>
[[gnu::always_inline]] inline typename L::V AddRounded(typename L::V sum, typename L::V add) {
    if constexpr (ByBits) return L::RoundToSingleByBits(L::Add(sum, add));
    return L::RoundToSingle(L::Add(sum, add));
}

// Adds to the L::kCount x V receivers from column x0 on, every one taking
// the full colour, the sources of rows[0 .. count-1] in turn, in each from
// left to right: to the colour sums, and with Channels 4 to the weight sums
// too.
template <int V, bool ByBits, int Channels>
[[gnu::always_inline]] inline void GatherFullLanes(const SumLanes& sums, int32_t x0, int32_t width,
                                                   const SourceRowLanes* rows, int32_t count) {
    constexpr int32_t kW = L::kCount;
    typename L::V acc[4][V];
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) acc[c][v] = L::Load(sums.value[c] + x0 + v * kW);
    }
    for (int32_t k = 0; k < count; ++k) {
        const SourceRowLanes& row = rows[k];
        int32_t lo = 0;
        int32_t hi = 0;
        if (!RunOffsets<kW * V>(row, x0, width, lo, hi)) continue;
        for (int32_t dx = lo; dx <= hi; ++dx) {
            const typename L::V w = L::Set(row.weight[dx]);
            for (int c = 0; c < Channels; ++c) {
                for (int v = 0; v < V; ++v) {
                    const typename L::V value = L::Load(row.value[c] + x0 + dx + v * kW);
                    acc[c][v] = AddRounded<ByBits>(acc[c][v], L::Mul(value, w));
                }
            }
        }
    }
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) L::Store(sums.value[c] + x0 + v * kW, acc[c][v]);
    }
}

// How the receivers of a mixed run take their contributions, a mask per
// vector: in full, blended, and their own colours.
template <int V>
struct MixedLanes {
    typename L::V full[V];
    typename L::V blended[V];
    typename L::V own[3][V];
};

// One offset dx of one source row added to the receivers of a mixed run:
// a receiver in full takes w x colour, a blended one w x (t x colour +
// (1 - t) x its own colour), each the weight w, and either only from a
// pixel that spreads.
template <int V, bool ByBits>
[[gnu::always_inline]] inline void AddMixedOffset(typename L::V (&acc)[4][V], const MixedLanes<V>& m,
                                                  const double* const* at, double w, double t, double rest) {
    constexpr int32_t kW = L::kCount;
    const typename L::V weight = L::Set(w);
    const typename L::V share = L::Set(t);
    const typename L::V keep = L::Set(rest);
    for (int v = 0; v < V; ++v) {
        const typename L::V spreading = L::NotEqual(L::Load(at[3] + v * kW), L::Zero());
        const typename L::V fullTaken = L::And(m.full[v], spreading);
        const typename L::V blendTaken = L::And(m.blended[v], spreading);
        for (int c = 0; c < 3; ++c) {
            const typename L::V colour = L::Load(at[c] + v * kW);
            const typename L::V whole = L::Mul(colour, weight);
            const typename L::V mixed =
                L::Mul(L::Add(L::Mul(colour, share), L::Mul(m.own[c][v], keep)), weight);
            const typename L::V add = L::Or(L::And(whole, fullTaken), L::And(mixed, blendTaken));
            acc[c][v] = AddRounded<ByBits>(acc[c][v], add);
        }
        const typename L::V add = L::And(weight, L::Or(fullTaken, blendTaken));
        acc[3][v] = AddRounded<ByBits>(acc[3][v], add);
    }
}

// The same as GatherFullLanes for a run whose receivers take the
// contributions in different ways: full[i] or blended[i] (all bits set, or
// none) says how lane i takes them, neither meaning not at all; own[c][i]
// is its own colour.
template <int V, bool ByBits>
[[gnu::always_inline]] inline void GatherMixedLanes(const SumLanes& sums, int32_t x0, int32_t width,
                                                    const SourceRowLanes* rows, int32_t count,
                                                    const int64_t* full, const int64_t* blended,
                                                    const double (*own)[L::kCount * V]) {
    constexpr int32_t kW = L::kCount;
    typename L::V acc[4][V];
    MixedLanes<V> m;
    for (int v = 0; v < V; ++v) {
        for (int c = 0; c < 4; ++c) acc[c][v] = L::Load(sums.value[c] + x0 + v * kW);
        for (int c = 0; c < 3; ++c) m.own[c][v] = L::Load(own[c] + v * kW);
        m.full[v] = L::LoadMask(full + v * kW);
        m.blended[v] = L::LoadMask(blended + v * kW);
    }
    for (int32_t k = 0; k < count; ++k) {
        const SourceRowLanes& row = rows[k];
        int32_t lo = 0;
        int32_t hi = 0;
        if (!RunOffsets<kW * V>(row, x0, width, lo, hi)) continue;
        for (int32_t dx = lo; dx <= hi; ++dx) {
            const double* const at[4] = {row.value[0] + x0 + dx, row.value[1] + x0 + dx,
                                         row.value[2] + x0 + dx, row.value[3] + x0 + dx};
            AddMixedOffset<V, ByBits>(acc, m, at, row.weight[dx], row.t[dx], row.rest[dx]);
        }
    }
    for (int c = 0; c < 4; ++c) {
        for (int v = 0; v < V; ++v) L::Store(sums.value[c] + x0 + v * kW, acc[c][v]);
    }
}

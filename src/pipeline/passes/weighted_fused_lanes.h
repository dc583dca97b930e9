// The gathers of weighted_lanes.h for runs that take the full colour, in
// single-precision lanes S with the fused multiply-add (Avx2FmaSingleLanes):
// each new sum is the exact sum + colour x w rounded once, to single
// precision. The double forms round that exact sum to double precision
// first; the two agree whenever it is a double already, which the caller
// must ensure (OneRoundingSuffices). The sums come and go as doubles. No
// include guard: a pass includes it inside the namespace of each of its
// forms, and only the one whose region has these instructions
// instantiates it.

// Adds to the S::kCount x V receivers from column x0 on the sources of
// rows[0 .. count-1] in turn, each from left to right.
template <typename S, int V, int Channels>
[[gnu::noinline]] void GatherFullFused(const SumLanes& sums, int32_t x0, int32_t width,
                                       const SourceRowLanes* rows, int32_t count) {
    constexpr int32_t kW = S::kCount;
    typename S::V acc[4][V];
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) acc[c][v] = S::LoadDoubles(sums.value[c] + x0 + kW * v);
    }
    for (int32_t k = 0; k < count; ++k) {
        const SourceRowLanes& row = rows[k];
        int32_t lo = 0;
        int32_t hi = 0;
        if (!RunOffsets<kW * V>(row, x0, width, lo, hi)) continue;
        for (int32_t dx = lo; dx <= hi; ++dx) {
            const typename S::V w = S::Set(row.weight[dx]);
            for (int c = 0; c < Channels; ++c) {
                for (int v = 0; v < V; ++v) {
                    const typename S::V value = S::Load(row.single[c] + x0 + dx + kW * v);
                    acc[c][v] = S::MulAddFused(value, w, acc[c][v]);
                }
            }
        }
    }
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) S::StoreDoubles(sums.value[c] + x0 + kW * v, acc[c][v]);
    }
}

// GatherFullFused for the S::kCount x V receivers from x0 on in two
// neighbouring receiving rows (sums[0] and sums[1]) at once, along a list
// of steps made once for the two rows. Every source value is loaded once
// for both rows, and every step adds to both, the one with weight 0 adding
// exactly nothing (a colour or spread flag is finite and not negative, and
// so is every sum), so that no run works out its offsets again. Each row
// still adds its own contributions in its own order. The steps come in the
// order of the gather, the source rows in turn, each from left to right;
// offsets past the frame's edges read the zeros around the source rows,
// and must stay within them.
template <typename S, int V, int Channels>
[[gnu::noinline]] void GatherFullFusedSteps(const SumLanes* sums, int32_t x0, const FusedStep* steps,
                                            int32_t count, std::size_t stride) {
    constexpr int32_t kW = S::kCount;
    typename S::V a[Channels][V];
    typename S::V b[Channels][V];
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) {
            a[c][v] = S::LoadDoubles(sums[0].value[c] + x0 + kW * v);
            b[c][v] = S::LoadDoubles(sums[1].value[c] + x0 + kW * v);
        }
    }
    for (int32_t k = 0; k < count; ++k) {
        const float* const value = steps[k].value + x0;
        const typename S::V wa = S::Set(steps[k].weight[0]);
        const typename S::V wb = S::Set(steps[k].weight[1]);
        for (int c = 0; c < Channels; ++c) {
            for (int v = 0; v < V; ++v) {
                typename S::V x = S::Load(value + c * stride + kW * v);
                // Left to itself, the compiler folds the load into both
                // additions and loads the value twice.
                S::HoldInRegister(x);
                a[c][v] = S::MulAddFused(x, wa, a[c][v]);
                b[c][v] = S::MulAddFused(x, wb, b[c][v]);
            }
        }
    }
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) {
            S::StoreDoubles(sums[0].value[c] + x0 + kW * v, a[c][v]);
            S::StoreDoubles(sums[1].value[c] + x0 + kW * v, b[c][v]);
        }
    }
}

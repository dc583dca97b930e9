// The double lanes L and the gathers of weighted_lanes.h as plain functions
// of arrays, for tests that compare the forms. No include guard: a test
// includes it once per lanes type, inside a namespace that names them,
// after weighted_lanes.h.

// Every lane of x[0 .. n-1] rounded to single precision (n a multiple of
// the lanes).
inline void RoundAll(double* x, int32_t n, bool byBits) {
    for (int32_t i = 0; i + L::kCount <= n; i += L::kCount) {
        const typename L::V v = L::Load(x + i);
        L::Store(x + i, byBits ? L::RoundToSingleByBits(v) : L::RoundToSingle(v));
    }
}

inline void FloorAll(double* x, int32_t n) {
    for (int32_t i = 0; i + L::kCount <= n; i += L::kCount) {
        L::Store(x + i, L::Floor(L::Load(x + i)));
    }
}

// Gathers the rows into the sums of width receivers (padded to a multiple
// of 8): every run in full when takes is null, else mixed, each receiver
// taking as takes[x] says (0 none, 1 full, 2 blended) with own colours own.
inline void GatherAll(const SumLanes& sums, int32_t width, const SourceRowLanes* rows, int32_t count,
                      const uint8_t* takes, const double* const* own) {
    constexpr int32_t kN = L::kCount * 2;
    for (int32_t x0 = 0; x0 < width; x0 += kN) {
        if (takes == nullptr) {
            GatherFullLanes<2, false, 4>(sums, x0, width, rows, count);
            continue;
        }
        int64_t full[kN];
        int64_t blended[kN];
        double mine[3][kN];
        for (int32_t i = 0; i < kN; ++i) {
            full[i] = takes[x0 + i] == 1 ? -1 : 0;
            blended[i] = takes[x0 + i] == 2 ? -1 : 0;
            for (int c = 0; c < 3; ++c) mine[c][i] = own[c][x0 + i];
        }
        GatherMixedLanes<2, false>(sums, x0, width, rows, count, full, blended, mine);
    }
}

// The softer depth-of-field blur's runs on double lanes. Deliberately
// without an include guard: softer_dof_kernels.cpp includes it once per kind
// of lanes, inside a namespace that names them L, so that it is compiled for
// the instructions of those lanes.

// The sums of Receivers neighbouring receivers from i on, kept in
// registers while every centre around each adds its contribution: receiver
// i + k takes centre i + k + dx with weight weights[dx], for dx = -reach ..
// reach in that order, each step the double-precision product and sum
// rounded once to single precision, as AddWeighted does. A receiver's red,
// green, blue and weight sums lie side by side in 4 / L::kCount registers.
template <int32_t Receivers>
[[gnu::always_inline]] inline void AddWeightedBlock(float* at, const double (*sources)[4],
                                                    const float* weights, int32_t reach, int32_t i) {
    constexpr int32_t kParts = 4 / L::kCount;
    L::V a[Receivers][kParts];
    for (int32_t k = 0; k < Receivers; ++k) {
        for (int32_t p = 0; p < kParts; ++p) a[k][p] = L::LoadSingles(at + 4 * (i + k) + p * L::kCount);
    }
    for (int32_t dx = -reach; dx <= reach; ++dx) {
        const L::V w = L::Set(static_cast<double>(weights[dx]));
        for (int32_t k = 0; k < Receivers; ++k) {
            for (int32_t p = 0; p < kParts; ++p) {
                const L::V c = L::Load(sources[i + k + dx] + p * L::kCount);
                a[k][p] = L::RoundToSingle(L::Add(a[k][p], L::Mul(c, w)));
            }
        }
    }
    for (int32_t k = 0; k < Receivers; ++k) {
        for (int32_t p = 0; p < kParts; ++p) L::StoreSingles(at + 4 * (i + k) + p * L::kCount, a[k][p]);
    }
}

// Adds to the sums of `count` neighbouring receivers the contributions of
// the centres around each, as AddWeightedBlock does, eight registers of
// sums at a time: each addition waits for the rounding of the one before it
// in the same receiver, so many receivers keep the unit busy. sources and
// weights point at the first receiver's own column and at dx = 0; every
// centre reached must exist.
inline void AddWeightedRun(SumCell<float>* sums, const double (*sources)[4], const float* weights,
                           int32_t reach, int32_t count) {
    static_assert(sizeof(SumCell<float>) == 4 * sizeof(float));
    constexpr int32_t kBlock = 2 * L::kCount;  // receivers at a time
    float* const at = &sums->red;
    int32_t i = 0;
    for (; i + kBlock <= count; i += kBlock) AddWeightedBlock<kBlock>(at, sources, weights, reach, i);
    for (; i < count; ++i) AddWeightedBlock<1>(at, sources, weights, reach, i);
}

// Where the stretch of plain receivers from x on ends, at most at end: a
// receiver is plain when it shares the run's blur bc and lies more than the
// separator in front of none of the run's centres within reach (the
// deepest of them, deepest[x]). L::kCount receivers are tested at once, by
// the same comparisons in double (single-precision values widen exactly);
// the group that ends the stretch is then gone through one by one.
inline int32_t PlainStretchEnd(const float* blur, const float* depth, const float* deepest, float bc,
                               double separator, int32_t x, int32_t end) {
    const L::V shared = L::Set(bc);
    const L::V apart = L::Set(separator);
    constexpr int kAll = (1 << L::kCount) - 1;
    for (; end - x >= L::kCount; x += L::kCount) {
        const L::V same = L::Equal(L::LoadSingles(blur + x), shared);
        const L::V inFront = L::Less(L::Add(L::LoadSingles(depth + x), apart), L::LoadSingles(deepest + x));
        if (L::MoveMask(L::AndNot(inFront, same)) != kAll) break;
    }
    while (x < end && blur[x] == bc &&
           !(static_cast<double>(depth[x]) + separator < static_cast<double>(deepest[x]))) {
        ++x;
    }
    return x;
}

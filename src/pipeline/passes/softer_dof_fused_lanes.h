// The softer depth-of-field blur's runs with the fused multiply-add, on
// single-precision lanes that have it. Deliberately without an include
// guard: softer_dof_kernels.cpp includes it inside a namespace that names
// the lanes L, in a region built for their instructions.

// AddWeightedRun with sources in single precision and each sum the exact
// sum + colour x w rounded once: L::kCount / 4 receivers to a register,
// several registers at once to cover each addition's wait for the one
// before it in the same receiver. The pass takes it only where that agrees
// with the double form's two roundings.
inline void AddWeightedRunFused(SumCell<float>* sums, const float (*sources)[4], const float* weights,
                                int32_t reach, int32_t count) {
    static_assert(sizeof(SumCell<float>) == 4 * sizeof(float));
    constexpr int32_t kPerRegister = L::kCount / 4;
    constexpr int32_t kRegisters = 8;
    constexpr int32_t kBlock = kPerRegister * kRegisters;
    float* const at = &sums->red;
    const float* const from = sources[0];
    int32_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        L::V a[kRegisters];
        for (int32_t k = 0; k < kRegisters; ++k) a[k] = L::Load(at + 4 * (i + kPerRegister * k));
        for (int32_t dx = -reach; dx <= reach; ++dx) {
            const L::V w = L::Set(weights[dx]);
            for (int32_t k = 0; k < kRegisters; ++k) {
                a[k] = L::MulAddFused(L::Load(from + 4 * (i + kPerRegister * k + dx)), w, a[k]);
            }
        }
        for (int32_t k = 0; k < kRegisters; ++k) L::Store(at + 4 * (i + kPerRegister * k), a[k]);
    }
    // The rest one receiver at a time, in the low lanes.
    for (; i < count; ++i) {
        L::V a = L::LoadLow(at + 4 * i);
        for (int32_t dx = -reach; dx <= reach; ++dx) {
            a = L::MulAddFused(L::LoadLow(from + 4 * (i + dx)), L::Set(weights[dx]), a);
        }
        L::StoreLow(at + 4 * i, a);
    }
}

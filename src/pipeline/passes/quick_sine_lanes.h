// QuickSine on double lanes. Deliberately without an include guard:
// portable_sine.cpp includes it inside a namespace that names the lanes L.
// Each lane takes the same operations in the same order as QuickSine, so
// every value equals the scalar one.

// out[i] = scale x QuickSine(x[i]) for the whole runs of lanes below n;
// returns the first index left to the scalar form.
inline int32_t ScaledQuickSineRuns(double scale, const double* x, double* out, int32_t n) {
    const L::V zero = L::Zero();
    const L::V largest = L::Set(kQuickSineLargest);
    const L::V quarter = L::Set(kQuickSinePiHigh / 2.0);
    const L::V piHigh = L::Set(kQuickSinePiHigh);
    const L::V piLow = L::Set(kQuickSinePiLow);
    const L::V nan = L::Set(std::numeric_limits<double>::quiet_NaN());
    const L::V factor = L::Set(scale);
    int32_t i = 0;
    for (; i + L::kCount <= n; i += L::kCount) {
        const L::V v = L::Load(x + i);
        const L::V inRange = L::And(L::GreaterEqual(v, zero), L::LessEqual(v, largest));
        const L::V y = L::Select(L::LessEqual(v, quarter), v, L::Add(L::Sub(piHigh, v), piLow));
        const L::V y2 = L::Mul(y, y);
        L::V sum = L::Set(kQuickSineTerms[9]);
        for (int k = 8; k >= 0; --k) sum = L::Add(L::Mul(sum, y2), L::Set(kQuickSineTerms[k]));
        const L::V sine = L::Add(y, L::Mul(L::Mul(y, y2), sum));
        L::Store(out + i, L::Mul(factor, L::Select(inRange, sine, nan)));
    }
    return i;
}

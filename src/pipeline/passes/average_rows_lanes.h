// AverageRow (average_rows.h) for the three colours at once, over the
// double lanes L, L::kCount receivers at a time and one division for the
// three instead of three. No include guard: a pass includes it once per
// lanes type, inside a namespace that names them.
//
// Only the truncated quotient matters. q = sum x (1 / weight), with each
// step rounded to double, lies within about 2^-44 of sum / weight while
// that is below 256, and the rounded quotient within 2^-45: where q lies
// further than 2^-40 from every whole number, the two truncate alike, and
// where q is 256 or more, both limit to 255. Receivers for which neither
// holds, or whose weight is not a positive finite number, take the
// division.

// The limited, truncated averages sum / weight of L::kCount receivers, a
// byte each, lane i in byte i; reciprocal holds 1 / weight.
[[gnu::always_inline]] inline uint32_t AverageBytes(typename L::V sum, typename L::V weight,
                                                    typename L::V reciprocal, int soundLanes) {
    using V = typename L::V;
    const V zero = L::Zero();
    const V limit = L::Set(255.0);
    const V q = L::Mul(sum, reciprocal);
    const V whole = L::Floor(q);
    const V fraction = L::Sub(q, whole);
    const V clear = L::And(L::And(L::GreaterEqual(q, zero), L::GreaterEqual(fraction, L::Set(0x1p-40))),
                           L::LessEqual(fraction, L::Set(1.0 - 0x1p-40)));
    const V beyond = L::GreaterEqual(q, L::Set(256.0));
    V limited = L::Min(whole, limit);
    constexpr int kAll = (1 << L::kCount) - 1;
    if ((L::MoveMask(L::Or(clear, beyond)) & soundLanes) != kAll) {
        // The limits as LimitToByte's: max(v, 0) yields 0 for a NaN.
        limited = L::Min(L::Max(L::Div(sum, weight), zero), limit);
    }
    return L::TruncateToBytes(limited);
}

// sums[3] is the weight row; reciprocals, when given, holds 1 / weight for
// each of its receivers, made once for rows that share their weights.
inline void AverageRows(const double* const* sums, const double* reciprocals, const uint8_t* const* own,
                        int32_t width, uint8_t* const* out) {
    using V = typename L::V;
    constexpr int32_t kW = L::kCount;
    const V zero = L::Zero();
    int32_t x = 0;
    for (; width - x >= kW; x += kW) {
        const V weight = L::Load(sums[3] + x);
        // 0 < weight < 2^1000 (false for a NaN): a positive finite weight
        // whose reciprocal is a normal number.
        const V positive = L::Greater(weight, zero);
        const int soundLanes = L::MoveMask(L::And(positive, L::Less(weight, L::Set(0x1p1000))));
        // A byte of all ones for each receiver whose weight is above 0.
        const uint32_t taken = L::TruncateToBytes(L::And(positive, L::Set(255.0)));
        const V reciprocal = reciprocals != nullptr ? L::Load(reciprocals + x) : L::Div(L::Set(1.0), weight);
        for (int c = 0; c < 3; ++c) {
            const uint32_t packed = AverageBytes(L::Load(sums[c] + x), weight, reciprocal, soundLanes);
            uint32_t mine = 0;
            std::memcpy(&mine, own[c] + x, kW);
            const uint32_t result = (packed & taken) | (mine & ~taken);
            std::memcpy(out[c] + x, &result, kW);
        }
    }
    for (int c = 0; c < 3; ++c) {
        AverageRow(sums[c] + x, sums[3] + x, own[c] + x, width - x, out[c] + x);
    }
}

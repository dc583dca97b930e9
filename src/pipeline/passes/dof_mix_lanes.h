// One depth-of-field centre's contributions to rows of receivers on double
// lanes, for 32-bit sums. Deliberately without an include guard:
// dof_blur_kernels.cpp includes it once per kind of lanes, inside a
// namespace that names them L, so that it is compiled for the instructions
// of those lanes.
//
// Each receiver that is not hidden behind the separator and takes part
// adds trunc(c x t + n x u) per channel, with t the smaller blur over the
// larger rounded to single precision (1 when the blurs are equal) and
// u = 1 - t rounded to single precision, and counts one: the arithmetic of
// the one-by-one loop, lane by lane. Single-precision values widen to
// double exactly, so their comparisons, minimum and maximum come out the
// same in double. Blurs are never NaN (a receiver that takes no part has a
// negative one), and the larger blur is never 0 (the centre's is above 0).
//
// t and u are worked out in single precision, beside the lanes. The
// quotient of two floats rounded once to single is their double quotient
// rounded to single: it never lies on a point halfway between two floats,
// and its distance from one is at least 2^-49 of its size, far more than
// the double rounding moves it, so both roundings end on the same side. So
// is 1 - t, which is exact in double unless t is below 2^-29, where both
// give 1. And c x t and n x u are exact in double (8 bits times 24), so
// their sum rounds once however it is formed.

// Adds the centre's contributions to the receivers first .. last of each
// span, L::kCount at a time, and moves each span's first to the first
// column left for the caller. The last group of a span may run past its
// last, the extra lanes adding nothing, while the row has columns for all
// of them (columns: the row's width); only at the row's right end can
// receivers be left. One call takes all of a centre's rows, so that its
// values are spread across the lanes once.
inline void MixSpans(MixingSpan* spans, int32_t count, const MixingCentre& centre, double separator,
                     int32_t columns) {
    using S = L::Singles;
    constexpr int32_t kLanes = L::kCount;
    constexpr int kAllLanes = (1 << kLanes) - 1;
    const S::V bc = S::Set(centre.blur);
    const S::V one = S::Set(1.0f);
    const S::V allSet = S::Equal(one, one);
    const L::V dc = L::Set(centre.depth);
    const L::V apart = L::Set(separator);
    const L::V colour[3] = {L::Set(centre.red), L::Set(centre.green), L::Set(centre.blue)};
    // Read from kTail + 8 - n: lanes n and beyond set, for a group whose
    // first n lanes lie in the span.
    static constexpr int32_t kTail[16] = {0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, -1, -1, -1, -1};
    static_assert(kLanes <= 4);
    for (int32_t s = 0; s < count; ++s) {
        const ReceivingRow& row = *spans[s].row;
        const uint8_t* const own[3] = {row.red, row.green, row.blue};
        const int32_t last = spans[s].last;
        int32_t x = spans[s].first;
        for (; x <= last && (last - x >= kLanes - 1 || columns - x >= kLanes); x += kLanes) {
            // Left out: hidden (depth + separator < the centre's depth, the
            // sum in double), taking no part, or past last.
            const S::V bn = L::LoadPairedSingles(row.blur + x);
            const S::V hidden = L::NarrowMask(L::Less(L::Add(L::LoadSingles(row.depth + x), apart), dc));
            const int32_t inSpan = last - x + 1 < kLanes ? last - x + 1 : kLanes;
            const S::V out = S::Or(S::Or(hidden, S::Less(bn, S::Zero())), S::LoadMask(kTail + 8 - inSpan));
            if ((S::MoveMask(out) & kAllLanes) == kAllLanes) continue;
            // Equal blurs give exactly 1.
            const S::V t = S::Div(S::Min(bn, bc), S::Max(bn, bc));
            const L::V wideT = L::Widen(t);
            const L::V wideU = L::Widen(S::Sub(one, t));
            L::V mixed[3];
            for (int c = 0; c < 3; ++c) {
                mixed[c] = L::AddExactProduct(colour[c], wideT, L::Mul(L::LoadBytes(own[c] + x), wideU));
            }
            // Without branches, which the receivers' random mix would
            // mispredict: a lane left out adds 0 (its cell exists, as the row
            // has columns for every lane).
            L::AddTruncatedToCells(&row.cells[x].red, mixed[0], mixed[1], mixed[2], S::AndNot(out, allSet));
        }
        spans[s].first = x;
    }
}

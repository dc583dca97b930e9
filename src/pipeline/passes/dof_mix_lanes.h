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

// Adds the centre's contributions to the receivers first .. last of each
// span, L::kCount at a time, and moves each span's first to the first
// column left for the caller. The last group of a span may run past its
// last, the extra lanes adding nothing, while the row has columns for all
// of them (columns: the row's width); only at the row's right end can
// receivers be left. One call takes all of a centre's rows, so that its
// values are spread across the lanes once.
inline void MixSpans(MixingSpan* spans, int32_t count, const MixingCentre& centre, double separator,
                     int32_t columns) {
    constexpr int32_t kLanes = L::kCount;
    const L::V bc = L::Set(centre.blur);
    const L::V one = L::Set(1.0);
    const L::V dc = L::Set(centre.depth);
    const L::V apart = L::Set(separator);
    const L::V colour[3] = {L::Set(centre.red), L::Set(centre.green), L::Set(centre.blue)};
    const L::V allSet = L::Equal(one, one);
    // Read from kTail + 8 - n: lanes n and beyond set, for a group whose
    // first n lanes lie in the span.
    static constexpr int64_t kTail[16] = {0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, -1, -1, -1, -1};
    static_assert(kLanes <= 8);
    for (int32_t s = 0; s < count; ++s) {
        const ReceivingRow& row = spans[s].row;
        const uint8_t* const own[3] = {row.red, row.green, row.blue};
        const int32_t last = spans[s].last;
        int32_t x = spans[s].first;
        for (; x <= last && (last - x >= kLanes - 1 || columns - x >= kLanes); x += kLanes) {
            // Left out: hidden (depth + separator < the centre's depth, the
            // sum in double), taking no part, or past last.
            const L::V bn = L::LoadSingles(row.blur + x);
            const L::V hidden = L::Less(L::Add(L::LoadSingles(row.depth + x), apart), dc);
            const int32_t inSpan = last - x + 1 < kLanes ? last - x + 1 : kLanes;
            const L::V out = L::Or(L::Or(hidden, L::Less(bn, L::Zero())), L::LoadMask(kTail + 8 - inSpan));
            if (L::MoveMask(out) == (1 << kLanes) - 1) continue;
            const L::V ratio = L::RoundToSingle(L::Div(L::Min(bn, bc), L::Max(bn, bc)));
            const L::V t = L::Select(L::Equal(bn, bc), one, ratio);
            const L::V u = L::RoundToSingle(L::Sub(one, t));
            L::V mixed[3];
            for (int c = 0; c < 3; ++c) {
                mixed[c] = L::Add(L::Mul(colour[c], t), L::Mul(L::LoadBytes(own[c] + x), u));
            }
            // Without branches, which the receivers' random mix would
            // mispredict: a lane left out adds 0 (its cell exists, as the row
            // has columns for every lane).
            L::AddTruncatedToCells(&row.cells[x].red, mixed[0], mixed[1], mixed[2], L::AndNot(out, allSet));
        }
        spans[s].first = x;
    }
}

// The softer blur's strips, gathering: the runs of one receiving row, in
// full or mixed, and in the fused form the runs two receiving rows take in
// full together. No include guard: softer_strip_lanes.h includes it once per
// lanes type L; S is the fused form's single lanes, or void for none.

// Receivers of a run: the double lanes' vectors side by side, or the fused
// form's.
template <typename S>
constexpr int32_t RunLanes() {
    if constexpr (std::is_void_v<S>) {
        return L::kCount * kRunVectors;
    } else {
        return S::kCount * kFusedVectors;
    }
}

// Whether the gathers of one run are functions of their own, so that their
// sums stay in registers whatever the code around them: with the wider
// lanes. The narrow runs are short enough to gain from being inlined.
constexpr bool kGatherApart = L::kCount >= 4;

template <bool ByBits, int Channels>
[[gnu::noinline]] void GatherFullApart(const SumLanes& sums, int32_t x0, int32_t width,
                                       const SourceRowLanes* rows, int32_t count) {
    GatherFullLanes<kRunVectors, ByBits, Channels>(sums, x0, width, rows, count);
}

template <bool ByBits>
[[gnu::noinline]] void GatherMixedApart(const SumLanes& sums, int32_t x0, int32_t width,
                                        const SourceRowLanes* rows, int32_t count, const int64_t* full,
                                        const int64_t* blended,
                                        const double (*own)[L::kCount * kRunVectors]) {
    GatherMixedLanes<kRunVectors, ByBits>(sums, x0, width, rows, count, full, blended, own);
}

template <bool ByBits, int Channels>
[[gnu::always_inline]] inline void GatherFull(const Receiving& rc, int32_t x0, int32_t width) {
    if constexpr (kGatherApart) {
        GatherFullApart<ByBits, Channels>(rc.sums, x0, width, rc.rows, rc.count);
    } else {
        GatherFullLanes<kRunVectors, ByBits, Channels>(rc.sums, x0, width, rc.rows, rc.count);
    }
}

// A run of receivers that all take the full colour, when every weight is
// finite.
template <typename S>
[[gnu::always_inline]] inline void GatherFullRun(const Strip& st, const Receiving& rc, int32_t x0) {
    if constexpr (!std::is_void_v<S>) {
        if (st.sharedWeights) {
            GatherFullFused<S, kFusedVectors, 3>(rc.sums, x0, st.width, rc.rows, rc.count);
        } else {
            GatherFullFused<S, kFusedVectors, 4>(rc.sums, x0, st.width, rc.rows, rc.count);
        }
    } else if (st.sharedWeights && st.byBits) {
        GatherFull<true, 3>(rc, x0, st.width);
    } else if (st.sharedWeights) {
        GatherFull<false, 3>(rc, x0, st.width);
    } else if (st.byBits) {
        GatherFull<true, 4>(rc, x0, st.width);
    } else {
        GatherFull<false, 4>(rc, x0, st.width);
    }
}

// t in double, how much of the spread colour a blended receiver takes, from
// 1 at the centre to 0 at r, and 1 - t, for the receiving row's sources.
inline void FillBlend(const Strip& st, Receiving& rc) {
    for (int32_t k = 0; k < rc.count; ++k) {
        const SourceRowLanes& row = rc.rows[k];
        for (int32_t dx = -row.reach; dx <= row.reach; ++dx) {
            row.t[dx] = static_cast<double>(row.weight[dx]) / st.r;
            row.rest[dx] = 1.0 - row.t[dx];
        }
    }
    rc.blendReady = true;
}

// The run of N receivers at x0 whose receivers take in different ways, a
// run of the double lanes' width at a time.
template <int32_t N>
void GatherMixedRun(const Strip& st, const Receiving& rc, int32_t x0) {
    constexpr int32_t kMixedLanes = L::kCount * kRunVectors;
    const FrameView& f = *st.f;
    for (int32_t x1 = x0; x1 < x0 + N && x1 < st.width; x1 += kMixedLanes) {
        int64_t full[kMixedLanes];
        int64_t blended[kMixedLanes];
        double own[3][kMixedLanes];
        const uint8_t* const takes = rc.takes + x1;
        const std::size_t at = rc.at + static_cast<std::size_t>(x1);
        for (int i = 0; i < kMixedLanes; ++i) {
            full[i] = takes[i] == kTakeFull ? -1 : 0;
            blended[i] = takes[i] == kTakeBlended ? -1 : 0;
            const bool inside = x1 + i < st.width;
            own[0][i] = inside ? f.red[at + i] : 0.0;
            own[1][i] = inside ? f.green[at + i] : 0.0;
            own[2][i] = inside ? f.blue[at + i] : 0.0;
        }
        if constexpr (kGatherApart) {
            if (st.byBits) {
                GatherMixedApart<true>(rc.sums, x1, st.width, rc.rows, rc.count, full, blended, own);
            } else {
                GatherMixedApart<false>(rc.sums, x1, st.width, rc.rows, rc.count, full, blended, own);
            }
        } else if (st.byBits) {
            GatherMixedLanes<kRunVectors, true>(rc.sums, x1, st.width, rc.rows, rc.count, full, blended, own);
        } else {
            GatherMixedLanes<kRunVectors, false>(rc.sums, x1, st.width, rc.rows, rc.count, full, blended,
                                                 own);
        }
    }
}

// Gathers the run of receivers at x0 of one receiving row.
template <typename S>
[[gnu::always_inline]] inline void GatherRun(const Strip& st, Receiving& rc, int32_t x0) {
    constexpr int32_t kLanes = RunLanes<S>();
    const auto kind = static_cast<RunKind>(rc.runs[x0 / kLanes]);
    if (rc.count == 0 || kind == kRunNone) return;
    if (kind == kRunFull && st.finite) {
        GatherFullRun<S>(st, rc, x0);
        return;
    }
    if (!rc.blendReady) FillBlend(st, rc);
    GatherMixedRun<kLanes>(st, rc, x0);
}

template <typename S>
void GatherRow(const Strip& st, Receiving& rc) {
    constexpr int32_t kLanes = RunLanes<S>();
    for (int32_t x0 = 0; x0 < st.width; x0 += kLanes) GatherRun<S>(st, rc, x0);
}

// The source rows of a block of n that reach either of two receiving rows,
// in order; returns how many.
inline int32_t PairSources(const Receiving* rc, int32_t n, SourceRowPair* pairs) {
    int32_t count = 0;
    for (int32_t i = 0, j = 0; i < rc[0].count || j < rc[1].count; ++count) {
        const int32_t a = i < rc[0].count ? rc[0].source[i] : n;
        const int32_t b = j < rc[1].count ? rc[1].source[j] : n;
        pairs[count] = {{a <= b ? &rc[0].rows[i] : nullptr, b <= a ? &rc[1].rows[j] : nullptr}};
        i += a <= b ? 1 : 0;
        j += b <= a ? 1 : 0;
    }
    return count;
}

// The steps of the fused gather of two rows (weighted_fused_lanes.h) along
// the sources pairs[0 .. count-1]; -1 when some reach goes past the zeros
// around the source rows.
inline int32_t PairSteps(const SourceRowPair* pairs, int32_t count, FusedStep* steps) {
    int32_t made = 0;
    for (int32_t k = 0; k < count; ++k) {
        const SourceRowLanes* const a = pairs[k].row[0];
        const SourceRowLanes* const b = pairs[k].row[1];
        const int32_t reachA = a ? a->reach : -1;
        const int32_t reachB = b ? b->reach : -1;
        const int32_t most = reachA > reachB ? reachA : reachB;
        if (most > kMaxLanes) return -1;
        const SourceRowLanes& row = a ? *a : *b;
        for (int32_t dx = -most; dx <= most; ++dx) {
            const bool inA = dx >= -reachA && dx <= reachA;
            const bool inB = dx >= -reachB && dx <= reachB;
            steps[made++] = {row.single[0] + dx, {inA ? a->weight[dx] : 0.0f, inB ? b->weight[dx] : 0.0f}};
        }
    }
    return made;
}

// Gathers two neighbouring receiving rows: the runs that both take in full
// go together along one list of steps, while every reach stays within the
// zeros around the source rows, and the others each on its own.
template <typename S>
void GatherPair(const Strip& st, const Block& block, Receiving* rc) {
    constexpr int32_t kLanes = RunLanes<S>();
    SourceRowPair pairs[kBlockRows];
    const int32_t count = PairSources(rc, block.n, pairs);
    const SumLanes both[2] = {rc[0].sums, rc[1].sums};
    FusedStep* const steps = st.ws->steps.data();
    const bool stepped = st.finite && rc[0].count > 0 && rc[1].count > 0;
    const int32_t made = stepped ? PairSteps(pairs, count, steps) : -1;
    for (int32_t x0 = 0; x0 < st.width; x0 += kLanes) {
        const bool together =
            made >= 0 && rc[0].runs[x0 / kLanes] == kRunFull && rc[1].runs[x0 / kLanes] == kRunFull;
        if (together && st.sharedWeights) {
            for (int32_t x1 = x0; x1 < x0 + kLanes; x1 += 2 * S::kCount) {
                GatherFullFusedSteps<S, 2, 3>(both, x1, steps, made, st.sourceRow);
            }
        } else if (together) {
            for (int32_t x1 = x0; x1 < x0 + kLanes; x1 += S::kCount) {
                GatherFullFusedSteps<S, 1, 4>(both, x1, steps, made, st.sourceRow);
            }
        } else {
            GatherRun<S>(st, rc[0], x0);
            GatherRun<S>(st, rc[1], x0);
        }
    }
}

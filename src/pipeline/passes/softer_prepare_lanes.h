// The softer blur's strips, preparing: the source rows of a block, the
// strip's seeded sums, and the source rows that reach a receiving row. No
// include guard: softer_strip_lanes.h includes it once per lanes type, so
// that these loops, though written plainly, are built for each form's
// instructions. They take their rows as separate parameters, so that the
// compiler knows they do not overlap and works on many pixels at once.

// out[x] = the colour where on[x] is 1, else 0 (on[x] is 0 or 1).
template <typename T>
[[gnu::always_inline]] inline void SpreadingColours(const uint8_t* __restrict colour,
                                                    const uint8_t* __restrict on, int32_t width,
                                                    T* __restrict out) {
    for (int32_t x = 0; x < width; ++x) out[x] = static_cast<T>(colour[x] * on[x]);
}

// before[x] = how many of on[0 .. x-1] are 1, for x = 0 .. width.
[[gnu::always_inline]] inline void CountSpreading(const uint8_t* __restrict on, int32_t width,
                                                  int32_t* __restrict before) {
    int32_t count = 0;
    before[0] = 0;
    for (int32_t x = 0; x < width; ++x) {
        count += on[x];
        before[x + 1] = count;
    }
}

// Makes row y the source row: its spreading pixels' colours and 1, zero
// where a pixel does not spread, in double and, for the fused form, in
// single precision (the full frame's fused form needs no doubles: it has
// no receivers that blend). on is a working line of the width.
template <int32_t Mode, bool Fused>
void PrepareSource(const FrameView& f, const FilterSettings& s, int32_t y, double* const* value,
                   float* const* single, int32_t* before, uint8_t* on) {
    const std::size_t row = f.Index(0, y);
    const uint8_t* const colours[3] = {f.red + row, f.green + row, f.blue + row};
    constexpr bool kDoubles = !Fused || Mode != kIncludeFullFrame;
    if constexpr (Mode == kIncludeFullFrame) {
        // Every pixel spreads.
        for (int c = 0; c < 3; ++c) {
            if constexpr (kDoubles) std::copy(colours[c], colours[c] + f.width, value[c]);
            if constexpr (Fused) std::copy(colours[c], colours[c] + f.width, single[c]);
        }
        if constexpr (kDoubles) std::fill(value[3], value[3] + f.width, 1.0);
        if constexpr (Fused) std::fill(single[3], single[3] + f.width, 1.0f);
        std::iota(before, before + f.width + 1, 0);
        return;
    }
    for (int32_t x = 0; x < f.width; ++x) {
        on[x] = PixelSelectedIn<Mode>(s, f, row + static_cast<std::size_t>(x)) ? 1 : 0;
    }
    for (int c = 0; c < 3; ++c) {
        if constexpr (kDoubles) SpreadingColours(colours[c], on, f.width, value[c]);
        if constexpr (Fused) SpreadingColours(colours[c], on, f.width, single[c]);
    }
    for (int32_t x = 0; x < f.width; ++x) {
        if constexpr (kDoubles) value[3][x] = on[x];
        if constexpr (Fused) single[3][x] = on[x];
    }
    CountSpreading(on, f.width, before);
}

// Prepares the spreading source rows from y on, up to kBlockRows of them
// and no further than yTo, and the receiving rows of the strip they reach;
// y moves past the rows looked at.
template <int32_t Mode, bool Fused>
void PrepareBlock(const Strip& st, const Job& job, int32_t& y, int32_t yTo, Block& block) {
    Workspace& ws = *st.ws;
    const FootprintProfile& fp = *st.fp;
    block.n = 0;
    for (; y <= yTo && block.n < kBlockRows; ++y) {
        if (job.rowSpreads[y] == 0) continue;
        double* value[4];
        float* single[4];
        for (int c = 0; c < 4; ++c) {
            const std::size_t plane = static_cast<std::size_t>(4 * block.n + c) * st.sourceRow;
            value[c] = ws.values.data() + plane + kMaxLanes;
            single[c] = ws.singles.data() + plane + kMaxLanes;
        }
        int32_t* const before =
            ws.before.data() + static_cast<std::size_t>(block.n) * static_cast<std::size_t>(st.width + 1);
        PrepareSource<Mode, Fused>(*st.f, *st.settings, y, value, single, before, ws.on.data());
        block.rows[block.n++] = y;
    }
    if (block.n == 0) return;
    const int32_t top = fp.Top(block.rows[0]);
    const int32_t bottom = fp.Bottom(block.rows[block.n - 1]);
    block.from = top > st.first ? top : st.first;
    block.to = bottom < st.end - 1 ? bottom : st.end - 1;
}

// out[x] = the colour for x below the width, 0 from there to padded.
[[gnu::always_inline]] inline void SeedColours(const uint8_t* __restrict colour, int32_t width,
                                               std::size_t padded, double* __restrict out) {
    const auto w = static_cast<std::size_t>(width);
    for (std::size_t x = 0; x < w; ++x) out[x] = colour[x];
    for (std::size_t x = w; x < padded; ++x) out[x] = 0.0;
}

// Notes how each run of N receivers of a row takes contributions.
template <int32_t N>
void NoteRuns(const uint8_t* takes, std::size_t runsPerRow, uint8_t* runs) {
    for (std::size_t r = 0; r < runsPerRow; ++r) {
        // Takes are 0, 1 or 2: all are 1 when their AND is, none is taken
        // when their OR is 0.
        uint8_t all = 0xFF;
        uint8_t any = 0;
        for (std::size_t x = r * N; x < (r + 1) * N; ++x) {
            all &= takes[x];
            any |= takes[x];
        }
        runs[r] = all == kTakeFull ? kRunFull : (any == 0 ? kRunNone : kRunMixed);
    }
}

// Seeds the strip's sums with the receivers' own colours, weight 1 (unless
// the weights are summed apart), and notes how each receiver and each run
// of N takes contributions.
template <int32_t Mode, int32_t N>
void SeedStrip(const Strip& st) {
    const FrameView& f = *st.f;
    const std::size_t p = st.padded;
    for (int32_t yy = st.first; yy < st.end; ++yy) {
        const std::size_t o = static_cast<std::size_t>(yy - st.first) * p;
        const std::size_t row = f.Index(0, yy);
        SeedColours(f.red + row, f.width, p, st.sums[0] + o);
        SeedColours(f.green + row, f.width, p, st.sums[1] + o);
        SeedColours(f.blue + row, f.width, p, st.sums[2] + o);
        if (!st.sharedWeights) std::fill(st.sums[3] + o, st.sums[3] + o + p, 1.0);
        uint8_t* const takes = st.ws->takes.data() + o;
        const auto width = static_cast<std::size_t>(f.width);
        for (std::size_t x = 0; x < width; ++x) takes[x] = TakeOf<Mode>(*st.settings, f, row + x);
        // Columns past the frame's edge gather too, but are never read.
        std::fill(takes + width, takes + p, uint8_t{kTakeFull});
        NoteRuns<N>(takes, st.runsPerRow,
                    st.ws->runs.data() + static_cast<std::size_t>(yy - st.first) * st.runsPerRow);
    }
}

// The source rows of the block that reach receiving row yy, with their
// weights in the tables of the given slot (0 or 1).
[[gnu::always_inline]] inline void Collect(const Strip& st, const Block& block, int32_t yy, int32_t slot,
                                           Receiving& rc) {
    Workspace& ws = *st.ws;
    const FootprintProfile& fp = *st.fp;
    rc.count = 0;
    rc.blendReady = false;
    for (int32_t k = 0; k < block.n; ++k) {
        const int32_t top = fp.Top(block.rows[k]);
        if (yy < top || yy > fp.Bottom(block.rows[k])) continue;
        const int32_t hw = fp.HalfWidth(yy - top);
        if (hw < 0) continue;
        // The weights stay above 0 out to `reach` columns either side.
        const auto t = static_cast<std::size_t>(slot * kBlockRows + rc.count);
        float* const weights = ws.weights.data() + t * st.table;
        const int32_t reach = FillWeights(st.radius, yy - block.rows[k], hw, weights);
        if (reach < 0) continue;
        const std::size_t v = 4 * static_cast<std::size_t>(k) * st.sourceRow + kMaxLanes;
        const double* const values = ws.values.data() + v;
        const float* const singles = ws.singles.data() + v;
        const std::size_t n = st.sourceRow;
        rc.rows[rc.count] = {
            {values, values + n, values + 2 * n, values + 3 * n},
            {singles, singles + n, singles + 2 * n, singles + 3 * n},
            ws.before.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(st.width + 1),
            weights + hw,
            ws.blend.data() + 2 * t * st.table + hw,
            ws.blend.data() + (2 * t + 1) * st.table + hw,
            reach};
        rc.source[rc.count++] = k;
    }
    const std::size_t o = static_cast<std::size_t>(yy - st.first) * st.padded;
    rc.sums = {{st.sums[0] + o, st.sums[1] + o, st.sums[2] + o, st.sums[3] + o}};
    rc.runs = st.ws->runs.data() + static_cast<std::size_t>(yy - st.first) * st.runsPerRow;
    rc.at = st.f->Index(0, yy);
    rc.takes = st.ws->takes.data() + o;
}

// The softer blur's strips over the double lanes L: the gathers of
// weighted_lanes.h and, where the namespace has them, the fused ones of
// weighted_fused_lanes.h, the averages of average_rows_lanes.h, and the
// stages of a strip, preparing (softer_prepare_lanes.h) and gathering
// (softer_gather_lanes.h). No include guard: softer_blur.cpp includes it
// once per lanes type, inside a namespace that names them, so that every
// loop of a strip is built for that form's instructions.

// In this order: each uses the ones before it.
#include "pipeline/passes/weighted_lanes.h"

#include "pipeline/passes/weighted_fused_lanes.h"

#include "pipeline/passes/average_rows_lanes.h"

#include "pipeline/passes/softer_prepare_lanes.h"

#include "pipeline/passes/softer_gather_lanes.h"

// What the gathers of the strip first .. end-1 share; S is the fused
// form's single lanes, or void.
template <int32_t Mode, typename S>
Strip MakeStrip(const Job& job, Workspace& ws, int32_t first, int32_t end) {
    const FrameView& f = *job.frame;
    const FootprintProfile& fp = *job.footprint;
    Strip st{};
    st.f = &f;
    st.fp = &fp;
    st.settings = job.settings;
    st.ws = &ws;
    st.first = first;
    st.end = end;
    st.width = f.width;
    st.padded = job.padded;
    const std::size_t planeSize = st.padded * static_cast<std::size_t>(job.strips.perStrip);
    for (int c = 0; c < 4; ++c) st.sums[c] = ws.sums.data() + static_cast<std::size_t>(c) * planeSize;
    st.sourceRow = st.padded + 2 * kMaxLanes;
    st.table = 2 * static_cast<std::size_t>(f.width) + 1;
    st.runsPerRow = st.padded / static_cast<std::size_t>(RunLanes<S>());
    st.radius = fp.Radius();
    st.r = static_cast<double>(st.radius);
    st.finite = st.r <= std::numeric_limits<double>::max();
    // Rounding on the bits pays with three-operand instructions and four
    // lanes; with SSE2 the register copies it needs cost more than two
    // conversions.
    st.byBits = L::kCount >= 4 && SumsStayNormal(st.radius, f.width, f.height);
    // Whether the receivers' weight sums are summed apart from the gather,
    // once for all but the columns near the edges (worth it only while
    // those are few).
    st.sharedWeights = Mode == kIncludeFullFrame && st.finite &&
                       4 * (2 * static_cast<int64_t>(fp.MaxHalfWidth()) + 1) <= f.width;
    return st;
}

// Gathers the receiving rows of the strip that the block reaches, from
// its sources in turn: the fused form two rows at a time.
template <typename S>
void GatherBlock(const Strip& st, const Block& block) {
    constexpr int32_t kRowsAtOnce = std::is_void_v<S> ? 1 : 2;
    for (int32_t yy = block.from; yy <= block.to; yy += kRowsAtOnce) {
        Receiving rc[kRowsAtOnce];
        Collect(st, block, yy, 0, rc[0]);
        if constexpr (kRowsAtOnce == 1) {
            GatherRow<S>(st, rc[0]);
        } else if (yy + 1 > block.to) {
            GatherRow<S>(st, rc[0]);
        } else {
            Collect(st, block, yy + 1, 1, rc[1]);
            GatherPair<S>(st, block, rc);
        }
    }
}

// The weight sums of receiving row yy made apart: rows at least 2R rows
// from both edges (R the reach) have every source's footprint row whole, so
// they share one row of weight sums, made once with its reciprocals
// (interiorReady says whether it is); the others make their own. Returns
// the row, and the reciprocals where shared.
inline const double* ApartWeights(const Strip& st, int32_t yy, bool& interiorReady,
                                  const double*& reciprocals) {
    const FootprintProfile& fp = *st.fp;
    Workspace& ws = *st.ws;
    const int32_t width = st.width;
    const int64_t reachRows = fp.Reach();
    const std::size_t o = static_cast<std::size_t>(yy - st.first) * st.padded;
    if (yy < 2 * reachRows || yy > st.f->height - 1 - 2 * reachRows) {
        SharedWeightSums(fp, yy, width, st.f->height, ws.weights.data(), ws.shared.data(), st.sums[3] + o);
        return st.sums[3] + o;
    }
    double* const shared = ws.interior.data();
    if (!interiorReady) {
        SharedWeightSums(fp, yy, width, st.f->height, ws.weights.data(), ws.shared.data(), shared);
        for (int32_t x = 0; x < width; ++x) shared[width + x] = 1.0 / shared[x];
        interiorReady = true;
    }
    reciprocals = shared + width;
    return shared;
}

// Averages: the colour sums over the weight sum, limited to 0 .. 255 and
// truncated, into the result planes. A receiver without a positive weight
// keeps its colour.
inline void AverageStrip(const Strip& st, const Job& job) {
    const FrameView& f = *st.f;
    bool interiorReady = false;
    for (int32_t yy = st.first; yy < st.end; ++yy) {
        const std::size_t o = static_cast<std::size_t>(yy - st.first) * st.padded;
        const double* weightRow = st.sums[3] + o;
        const double* reciprocals = nullptr;
        if (st.sharedWeights) weightRow = ApartWeights(st, yy, interiorReady, reciprocals);
        const std::size_t row = f.Index(0, yy);
        const uint8_t* const own[3] = {f.red + row, f.green + row, f.blue + row};
        const double* const rowSums[4] = {st.sums[0] + o, st.sums[1] + o, st.sums[2] + o, weightRow};
        uint8_t* const out[3] = {job.result[0] + row, job.result[1] + row, job.result[2] + row};
        AverageRows(rowSums, reciprocals, own, st.width, out);
    }
}

// Gathers the receiving rows first .. end-1 and averages them into the
// result planes. The source rows that reach the strip come top to bottom,
// a block of up to kBlockRows spreading ones at a time: each receiving row
// takes the rows of a block in turn while its sums stay in registers.
template <int32_t Mode, typename S>
void SofterStrip(Job& job, Workspace& ws, int32_t first, int32_t end) {
    const Strip st = MakeStrip<Mode, S>(job, ws, first, end);
    SeedStrip<Mode, RunLanes<S>()>(st);
    const FootprintProfile& fp = *st.fp;
    const int32_t reachRows = fp.Reach();
    const int32_t height = st.f->height;
    const int32_t yFrom = first > reachRows ? first - reachRows : 0;
    const int32_t yTo = height - end > reachRows ? end - 1 + reachRows : height - 1;
    for (int32_t y = yFrom; y <= yTo;) {
        Block block;
        PrepareBlock<Mode, !std::is_void_v<S>>(st, job, y, yTo, block);
        if (block.n > 0) GatherBlock<S>(st, block);
    }
    AverageStrip(st, job);
}

// The strip of the frame's selection mode.
template <typename S>
StripFunction StripFor(int32_t mode) {
    StripFunction strip = nullptr;
    WithMode(mode, [&](auto m) { strip = SofterStrip<decltype(m)::value, S>; });
    return strip;
}

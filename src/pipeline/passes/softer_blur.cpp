// The softer blur. Like the plain blur, every selected pixel spreads its
// colour over its footprint, but each contribution carries the weight
// w = r - distance, so the blur falls off linearly to nothing at the radius;
// unselected receivers mix the spread colour with their own by t = w / r.
//
// The sums are single-precision values rounded after every addition, so the
// order of the additions into a pixel matters: it must be the order of the
// spreading pixels, row by row and left to right. The pass therefore
// gathers: every receiver takes, from each source row that reaches it (top
// to bottom), the spreading pixels within the half-width of the footprint
// row that lands on it, from left to right. All pixels of a source row share
// their footprint's shape, so one table of weights serves a whole receiving
// row, and neighbouring receivers run side by side as vector lanes
// (weighted_lanes.h, over the double lanes of the frame's instruction set).
//
// The frame is cut into strips of receiving rows, worked on by the threads.
// A strip keeps the sums of its own rows only, visits the source rows that
// reach it from the top, and writes its averages into a result copy, which
// replaces the colour planes once every strip is done (the sources must be
// read as they were when the pass began). Only source pixels inside the
// frame are ever visited, and only those within reach of a receiver, so a
// radius beyond the frame costs no more than one as large as the frame.
#include "pipeline/passes/softer_blur.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <numeric>
#include <type_traits>

#include "pipeline/frame/lanes/double_lanes.h"
#include "pipeline/frame/lanes/lanes_target.h"
#include "pipeline/frame/selection.h"
#include "pipeline/frame/strips.h"
#include "pipeline/frame/thread_pool.h"
#include "pipeline/frame/wide_vectors.h"
#include "pipeline/passes/average_rows.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/passes/softer_shared_weights.h"
#include "pipeline/passes/softer_strip.h"
#include "pipeline/passes/softer_weights.h"
#include "pipeline/passes/weighted_rows.h"

namespace lumafex {

namespace {

using namespace softer;

#if LUMAFEX_DOUBLE_LANES
namespace narrow {
using L = Sse2DoubleLanes;
#include "pipeline/passes/softer_strip_lanes.h"
}  // namespace narrow
#else
namespace plain {
using L = ScalarDoubleLanes;
#include "pipeline/passes/softer_strip_lanes.h"
}  // namespace plain
#endif
#if LUMAFEX_WIDE_VECTORS
LUMAFEX_LANES_BEGIN_AVX2_FMA
namespace wide {
using L = Avx2DoubleLanes;
#include "pipeline/passes/softer_strip_lanes.h"
}  // namespace wide
LUMAFEX_LANES_END
#endif

// The strips of this frame: with AVX2, in the fused form where one rounding
// of each sum gives the same bytes as two; otherwise in SSE2's lanes.
StripFunction ChooseStrip(const FrameView& frame, const FilterSettings& settings,
                          const FrameParameters& params) {
#if LUMAFEX_WIDE_VECTORS
    if (Allows(params.instructionSet, InstructionSet::Avx2Fma)) {
        // Receivers that take the full colour take nothing else (how a
        // receiver takes depends on itself alone), so their sums qualify.
        return OneRoundingSuffices(params.BlurAmount, frame.width, frame.height)
                   ? wide::StripFor<Avx2FmaSingleLanes>(settings.FilterInclude)
                   : wide::StripFor<void>(settings.FilterInclude);
    }
#else
    static_cast<void>(frame);
    static_cast<void>(params);
#endif
#if LUMAFEX_DOUBLE_LANES
    return narrow::StripFor<void>(settings.FilterInclude);
#else
    return plain::StripFor<void>(settings.FilterInclude);
#endif
}

// One thread's share: its own working rows, then strips until none is left.
void SofterWorker(Job& job, StripFunction strip) {
    Workspace ws;
    if (!ws.Allocate(static_cast<std::size_t>(job.frame->width), job.padded,
                     static_cast<std::size_t>(job.strips.perStrip))) {
        job.failed = true;
        return;
    }
    int32_t first = 0;
    int32_t end = 0;
    while (!job.failed && job.queue.Next(first, end)) strip(job, ws, first, end);
}

template <int32_t Mode>
bool AnySpreads(const FrameView& f, const FilterSettings& s, uint8_t* rowSpreads) {
    bool any = false;
    for (int32_t y = 0; y < f.height; ++y) {
        const std::size_t row = f.Index(0, y);
        uint8_t found = 0;
        for (int32_t x = 0; x < f.width && found == 0; ++x) {
            found = PixelSelectedIn<Mode>(s, f, row + static_cast<std::size_t>(x)) ? 1 : 0;
        }
        rowSpreads[y] = found;
        any = any || found != 0;
    }
    return any;
}

bool FindSpreadingRows(const FrameView& f, const FilterSettings& s, uint8_t* rowSpreads) {
    bool any = false;  // a mode outside the five selects no pixel
    WithMode(s.FilterInclude, [&](auto mode) { any = AnySpreads<decltype(mode)::value>(f, s, rowSpreads); });
    return any;
}

}  // namespace

bool SofterBlurPass(const FrameView& frame, const FilterSettings& settings, const FrameParameters& params) {
    if (frame.width <= 0 || frame.height <= 0) return true;
    FootprintProfile footprint;
    if (!footprint.Reserve(frame.width, frame.height, FootprintReach(params.BlurAmount, frame.height),
                           params.instructionSet)) {
        return false;
    }
    // The averaged planes, kept apart until every strip has read the frame.
    const std::size_t pixels = frame.PixelCount();
    auto result = pixels > std::numeric_limits<std::size_t>::max() / 3
                      ? platform::WorkingArray<uint8_t>()
                      : platform::WorkingArray<uint8_t>::Allocate(3 * pixels);
    auto rowSpreads = platform::WorkingArray<uint8_t>::Allocate(static_cast<std::size_t>(frame.height));
    if (!result || !rowSpreads) return false;
    // Without a radius, or without a spreading pixel, every pixel averages
    // its own colour with weight 1: it stays as it is.
    if (!(params.BlurAmount > 0.0f)) return true;
    if (!FindSpreadingRows(frame, settings, rowSpreads.data())) return true;
    footprint.Set(params.BlurAmount, kSofterAngleConstant);

    const uint64_t wholeRuns = (static_cast<uint64_t>(frame.width) + kMaxLanes - 1) / kMaxLanes * kMaxLanes;
    if (wholeRuns > std::numeric_limits<std::size_t>::max() / 64) return false;
    const auto padded = static_cast<std::size_t>(wholeRuns);
    Job job{&frame,
            &settings,
            &footprint,
            rowSpreads.data(),
            {result.data(), result.data() + pixels, result.data() + 2 * pixels},
            RowStrips::For(frame.width, frame.height),
            padded};
    const StripFunction strip = ChooseStrip(frame, settings, params);
    if (strip == nullptr) return true;  // a mode outside the five selects no pixel
    ForEachTask(job.queue.Workers(), [&job, strip](int32_t) { SofterWorker(job, strip); });
    if (job.failed) return false;
    std::memcpy(frame.red, job.result[0], pixels);
    std::memcpy(frame.green, job.result[1], pixels);
    std::memcpy(frame.blue, job.result[2], pixels);
    return true;
}

}  // namespace lumafex

// What the softer blur's strips work with: the pass's shared job, one
// thread's working rows, and a receiving row as a strip gathers it. The
// strips' loops are softer_strip_lanes.h, compiled once per lanes type.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "pipeline/frame/frame_view.h"
#include "pipeline/frame/selection.h"
#include "pipeline/frame/strips.h"
#include "pipeline/frame/wide_vectors.h"
#include "pipeline/passes/footprint.h"
#include "pipeline/passes/weighted_rows.h"
#include "platform/memory.h"

namespace lumafex::softer {

// Receivers worked on at once: kRunVectors vectors of double lanes side by
// side, or in the fused form kFusedVectors vectors of 8 floats (enough
// additions under way to cover each one's wait for the one before it).
// Receiving rows are padded to whole runs, and source rows carry kMaxLanes
// zeros on either side, at least a run.
constexpr int kRunVectors = 2;
constexpr int kFusedVectors = 4;
constexpr int32_t kMaxLanes = 8 * kFusedVectors;

// The fewest receivers of a run: kRunVectors of one double each.
constexpr int32_t kFewestRunLanes = kRunVectors;

// Source rows prepared at a time.
constexpr int32_t kBlockRows = 8;

// How a receiving pixel takes a contribution, by selection mode: the spread
// colour, a blend of the spread colour and its own, or nothing.
enum Take : uint8_t { kTakeNone = 0, kTakeFull = 1, kTakeBlended = 2 };

template <int32_t Mode>
Take TakeOf(const FilterSettings& s, const FrameView& f, std::size_t j) {
    if constexpr (Mode == kIncludeObjects) return f.alpha[j] != 0 ? kTakeFull : kTakeBlended;
    if constexpr (Mode == kIncludeBackground) return f.alpha[j] == 0 ? kTakeFull : kTakeNone;
    if constexpr (Mode == kIncludeShadows) return f.shadow[j] != 0 ? kTakeFull : kTakeBlended;
    if constexpr (Mode == kIncludeColorRange) {
        return InColorRange(s, f.red[j], f.green[j], f.blue[j]) ? kTakeFull : kTakeBlended;
    }
    return kTakeFull;
}

// How a run of receivers takes its contributions: all in full, none at all,
// or in different ways.
enum RunKind : uint8_t { kRunFull, kRunNone, kRunMixed };

struct Job {
    const FrameView* frame;
    const FilterSettings* settings;
    const FootprintProfile* footprint;
    const uint8_t* rowSpreads;  // per row: whether any of its pixels spreads
    uint8_t* result[3];         // the averaged planes
    RowStrips strips;
    std::size_t padded;  // the width rounded up to whole runs
    StripQueue queue{strips};
    std::atomic<bool> failed{false};
};

// One thread's working rows.
struct Workspace {
    platform::WorkingArray<double> sums;      // red, green, blue, weight planes of a strip
    platform::WorkingArray<uint8_t> takes;    // per receiver of the strip
    platform::WorkingArray<uint8_t> runs;     // RunKind per run of the strip
    platform::WorkingArray<double> values;    // a block of source rows, four planes each
    platform::WorkingArray<float> singles;    // the same in single precision
    platform::WorkingArray<int32_t> before;   // per row: spreading pixels before each column
    platform::WorkingArray<float> weights;    // per row and receiving row: its weights
    platform::WorkingArray<double> blend;     // the same: t and 1 - t for them
    platform::WorkingArray<float> shared;     // weight sums of the distinct receivers
    platform::WorkingArray<double> interior;  // the weight sums of rows away from the
                                              // edges, then their reciprocals
    platform::WorkingArray<uint8_t> on;       // which pixels of a source row spread
    platform::WorkingArray<FusedStep> steps;  // a block's offsets for two receiving rows
                                              // (the fused form only)

    // False when the memory cannot be had. The counts are formed in 64 bits
    // (a width below 2^31 and at most 128 rows keep them far inside), and
    // none is asked for that would not fit the address space.
    bool Allocate(uint64_t width, uint64_t padded, uint64_t rows);
};

// A strip's rows of one thread, running a strip's rows first .. end-1.
using StripFunction = void (*)(Job&, Workspace&, int32_t, int32_t);

// What the gathers of one strip share.
struct Strip {
    const FrameView* f;
    const FootprintProfile* fp;
    const FilterSettings* settings;
    Workspace* ws;
    double* sums[4];     // the strip's planes
    int32_t first, end;  // its rows
    int32_t width;
    std::size_t padded;     // receiving row length
    std::size_t sourceRow;  // source row length, zeros included
    std::size_t table;      // a table of weights
    std::size_t runsPerRow;
    float radius;
    double r;
    // With an infinite radius the weights are infinite too, and only the
    // mixed form adds exactly nothing for the pixels that do not spread.
    bool finite;
    bool byBits;         // whether sums are rounded on their bits
    bool sharedWeights;  // whether the weight sums are made apart (softer_shared_weights.h)
};

// The spreading source rows of a block, and the receiving rows from .. to
// that they reach.
struct Block {
    int32_t rows[kBlockRows];
    int32_t n;
    int32_t from, to;
};

// A receiving row as a strip gathers it: the source rows of the block that
// reach it (source[i] is rows[i]'s place in the block), its sums, how its
// runs and receivers take, and where it lies in the frame.
struct Receiving {
    SourceRowLanes rows[kBlockRows];
    int32_t source[kBlockRows];
    int32_t count;
    bool blendReady;  // whether the rows' t and 1 - t are filled in
    SumLanes sums;
    const uint8_t* runs;
    const uint8_t* takes;
    std::size_t at;
};

}  // namespace lumafex::softer

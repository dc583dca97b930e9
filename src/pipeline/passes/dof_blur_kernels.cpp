// The depth-of-field blur's loops, each written once over a lanes type
// (dof_*_lanes.h) and compiled here once per kind of lanes: the wide copies
// with the wider instructions enabled for every function in them.
#include "pipeline/passes/dof_blur_kernels.h"

#include <bit>

#include "pipeline/frame/lanes/double_lanes.h"
#include "pipeline/frame/lanes/int_lanes.h"
#include "pipeline/frame/lanes/lanes_target.h"
#include "pipeline/frame/lanes/single_lanes.h"
#include "pipeline/passes/footprint.h"

namespace lumafex {

namespace {

// The scalar forms, for builds without lanes.
void MixNone(MixingSpan*, int32_t, const MixingCentre&, double, int32_t) {}

template <typename T>
void AddWindowsScalar(T* acc, const T* prefix, std::size_t from, std::size_t end, std::size_t ahead,
                      std::size_t behind) {
    for (std::size_t i = from; i < end; ++i) {
        acc[i] = static_cast<T>(acc[i] + static_cast<T>(prefix[i + ahead] - prefix[i - behind]));
    }
}

void RaiseToScalar(float* to, const float* from, int32_t count) {
    for (int32_t x = 0; x < count; ++x) to[x] = from[x] > to[x] ? from[x] : to[x];
}

void AddDeeperScalar(const DeeperFootprint& footprint, int32_t x, float above, uint32_t sums[4]) {
    for (int32_t i = 0; i < footprint.rows; ++i) {
        const int32_t hw = footprint.halfWidths[i];
        if (hw < 0) continue;
        const ColumnSpan span = FootprintColumns(x, hw, footprint.width);
        const std::size_t row = static_cast<std::size_t>(i) * footprint.stride;
        for (int32_t c = span.first; c <= span.last; ++c) {
            const std::size_t at = row + static_cast<std::size_t>(c);
            if (!(footprint.depths[at] > above)) continue;
            sums[0] += footprint.red[at];
            sums[1] += footprint.green[at];
            sums[2] += footprint.blue[at];
            sums[3] += 1;
        }
    }
}

#if LUMAFEX_DOUBLE_LANES && LUMAFEX_INT_LANES && LUMAFEX_SINGLE_LANES
#define LUMAFEX_DOF_LANES 1
namespace narrow {
using L = Sse2DoubleLanes;
#include "pipeline/passes/dof_average_lanes.h"
#include "pipeline/passes/dof_mix_lanes.h"
}  // namespace narrow
namespace narrow_words {
using L = Sse2WordLanes;
#include "pipeline/passes/dof_window_lanes.h"
}  // namespace narrow_words
namespace narrow_ints {
using L = Sse2IntLanes;
#include "pipeline/passes/dof_window_lanes.h"
}  // namespace narrow_ints
namespace narrow_single {
using L = Sse2SingleLanes;
#include "pipeline/passes/dof_depth_lanes.h"
}  // namespace narrow_single
#if LUMAFEX_WIDE_VECTORS
LUMAFEX_LANES_BEGIN_AVX
namespace wide {
using L = AvxDoubleLanes;
#include "pipeline/passes/dof_average_lanes.h"
#include "pipeline/passes/dof_mix_lanes.h"
}  // namespace wide
namespace wide_single {
using L = AvxSingleLanes;
#include "pipeline/passes/dof_depth_lanes.h"
}  // namespace wide_single
LUMAFEX_LANES_END
LUMAFEX_LANES_BEGIN_AVX2_FMA
namespace wider {
using L = Avx2DoubleLanes;
#include "pipeline/passes/dof_average_lanes.h"
#include "pipeline/passes/dof_mix_lanes.h"
}  // namespace wider
LUMAFEX_LANES_END
LUMAFEX_LANES_BEGIN_AVX2
namespace wide_words {
using L = Avx2WordLanes;
#include "pipeline/passes/dof_window_lanes.h"
}  // namespace wide_words
namespace wide_ints {
using L = Avx2IntLanes;
#include "pipeline/passes/dof_window_lanes.h"
}  // namespace wide_ints
LUMAFEX_LANES_END
#endif
#else
#define LUMAFEX_DOF_LANES 0
#endif

}  // namespace

DepthBlurKernels ChooseDepthBlurKernels([[maybe_unused]] InstructionSet set) {
    DepthBlurKernels kernels{MixNone,       AddWindowsScalar<uint16_t>, AddWindowsScalar<uint32_t>,
                             RaiseToScalar, AddDeeperScalar,            nullptr};
#if LUMAFEX_DOF_LANES
    kernels = {narrow::MixSpans,       narrow_words::AddWindowDifferences<uint16_t>,
               narrow_ints::AddWindowDifferences<uint32_t>, narrow_single::RaiseTo,
               narrow_single::AddDeeper, narrow::IntegerAverages};
#if LUMAFEX_WIDE_VECTORS
    if (Allows(set, InstructionSet::Avx)) {
        kernels.mix = wide::MixSpans;
        kernels.averages = wide::IntegerAverages;
        kernels.raiseTo = wide_single::RaiseTo;
        kernels.addDeeper = wide_single::AddDeeper;
    }
    if (Allows(set, InstructionSet::Avx2Fma)) {
        kernels.mix = wider::MixSpans;
        kernels.addWindows16 = wide_words::AddWindowDifferences<uint16_t>;
        kernels.addWindows32 = wide_ints::AddWindowDifferences<uint32_t>;
    }
#endif
#endif
    return kernels;
}

}  // namespace lumafex

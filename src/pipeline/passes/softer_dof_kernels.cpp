// The softer depth-of-field blur's run loops, written once over a lanes
// type (softer_dof_lanes.h, softer_dof_fused_lanes.h) and compiled here
// once per kind of lanes: the wide copies with the wider instructions
// enabled for every function in them.
#include "pipeline/passes/softer_dof_kernels.h"

#include "pipeline/frame/lanes/double_lanes.h"
#include "pipeline/frame/lanes/lanes_target.h"
#include "pipeline/passes/softer_weights.h"

namespace lumafex {

namespace {

// The scalar forms, for builds without lanes.
void AddWeightedRunScalar(SumCell<float>* sums, const double (*sources)[4], const float* weights,
                          int32_t reach, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        SumCell<float> cell = sums[i];
        for (int32_t dx = -reach; dx <= reach; ++dx) AddWeighted(cell, sources[i + dx], weights[dx]);
        sums[i] = cell;
    }
}

int32_t PlainStretchEndScalar(const float* blur, const float* depth, const float* deepest, float bc,
                              double separator, int32_t x, int32_t end) {
    while (x < end && blur[x] == bc &&
           !(static_cast<double>(depth[x]) + separator < static_cast<double>(deepest[x]))) {
        ++x;
    }
    return x;
}

#if LUMAFEX_DOUBLE_LANES
namespace narrow {
using L = Sse2DoubleLanes;
#include "pipeline/passes/softer_dof_lanes.h"
}  // namespace narrow
#if LUMAFEX_WIDE_VECTORS
LUMAFEX_LANES_BEGIN_AVX
namespace wide {
using L = AvxDoubleLanes;
#include "pipeline/passes/softer_dof_lanes.h"
}  // namespace wide
LUMAFEX_LANES_END
LUMAFEX_LANES_BEGIN_AVX2_FMA
namespace fused {
using L = Avx2FmaSingleLanes;
#include "pipeline/passes/softer_dof_fused_lanes.h"
}  // namespace fused
LUMAFEX_LANES_END
#endif
#endif

}  // namespace

SofterDepthKernels ChooseSofterDepthKernels([[maybe_unused]] InstructionSet set) {
    SofterDepthKernels kernels{AddWeightedRunScalar, nullptr, PlainStretchEndScalar};
#if LUMAFEX_DOUBLE_LANES
    kernels = {narrow::AddWeightedRun, nullptr, narrow::PlainStretchEnd};
#if LUMAFEX_WIDE_VECTORS
    if (Allows(set, InstructionSet::Avx)) kernels = {wide::AddWeightedRun, nullptr, wide::PlainStretchEnd};
    if (Allows(set, InstructionSet::Avx2Fma)) kernels.addRunFused = fused::AddWeightedRunFused;
#endif
#endif
    return kernels;
}

}  // namespace lumafex

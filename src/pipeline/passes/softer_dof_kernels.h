// The vectorised loops of the softer depth-of-field blur's runs, in the
// widest form the frame's instruction set allows: the weighted sums of a
// stretch of receivers, and where such a stretch ends. The double forms
// give the values of AddWeighted one by one; the fused form rounds once
// (see AddWeightedRunFused).
#pragma once

#include <cstdint>

#include "pipeline/frame/wide_vectors.h"
#include "pipeline/passes/accumulators.h"

namespace lumafex {

struct SofterDepthKernels {
    // Adds to the sums of `count` neighbouring receivers the contributions
    // of the centres around each: receiver i takes centre i + dx with weight
    // weights[dx], for dx = -reach .. reach in that order. sources and
    // weights point at the first receiver's own column and at dx = 0.
    void (*addRun)(SumCell<float>* sums, const double (*sources)[4], const float* weights, int32_t reach,
                   int32_t count);
    // The same from single-precision sources with the fused multiply-add,
    // or null where the set has none.
    void (*addRunFused)(SumCell<float>* sums, const float (*sources)[4], const float* weights, int32_t reach,
                        int32_t count);
    // Where the stretch of receivers from x on that share blur bc and lie
    // more than the separator in front of none of deepest ends, at most at
    // end.
    int32_t (*plainStretchEnd)(const float* blur, const float* depth, const float* deepest, float bc,
                               double separator, int32_t x, int32_t end);
};

// The widest forms `set` allows.
SofterDepthKernels ChooseSofterDepthKernels(InstructionSet set);

}  // namespace lumafex

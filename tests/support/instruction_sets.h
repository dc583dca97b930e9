// The instruction sets this processor runs, for tests that run a pass in
// each of its forms.
#pragma once

#include <vector>

#include "pipeline/frame/wide_vectors.h"

namespace lumafex::testing {

inline std::vector<InstructionSet> SetsOfThisProcessor() {
    std::vector<InstructionSet> sets;
    for (InstructionSet set : kInstructionSets) {
        if (Allows(ProcessorInstructionSet(), set)) sets.push_back(set);
    }
    return sets;
}

}  // namespace lumafex::testing

// The instruction sets the passes have forms for, and the one the processor
// offers. On 64-bit x86 Linux a pass picks its form at run time from the
// set the frame's working values carry (FrameParameters::instructionSet);
// every other build has the SSE2 forms alone. All forms give the same
// bytes: a wider one only works on more pixels at once. Tests and
// benchmarks hand a pass a narrower set to run its other forms.
#pragma once

#include <cstdint>

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define LUMAFEX_WIDE_VECTORS 1
#else
#define LUMAFEX_WIDE_VECTORS 0
#endif

namespace lumafex {

// Each set includes the ones before it.
enum class InstructionSet : uint8_t {
    Sse2,     // the baseline of every x86 build
    Avx,      // four doubles to a register
    Avx2Fma,  // AVX2 with the fused multiply-add, for integer and single lanes
};

inline constexpr InstructionSet kInstructionSets[] = {InstructionSet::Sse2, InstructionSet::Avx,
                                                      InstructionSet::Avx2Fma};

// Whether a pass given `chosen` may run a form built for `form`.
constexpr bool Allows(InstructionSet chosen, InstructionSet form) { return chosen >= form; }

// The widest set this processor runs and this build has forms for, looked
// up once.
InstructionSet ProcessorInstructionSet();

// "SSE2", "AVX", "AVX2+FMA".
const char* InstructionSetName(InstructionSet set);

}  // namespace lumafex

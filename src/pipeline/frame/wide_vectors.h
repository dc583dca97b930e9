// Whether a pass may use the wider vector instructions (AVX, AVX2) that the
// processor offers, chosen at run time on 64-bit x86 Linux; every other
// build uses SSE2 alone. Both give the same bytes: the wider form only
// works on more receivers at once. Tests and benchmarks switch it off to
// compare the two.
#pragma once

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define LUMAFEX_WIDE_VECTORS 1
#else
#define LUMAFEX_WIDE_VECTORS 0
#endif

namespace lumafex {

// True when the processor has the wider instructions and they are allowed:
// AVX2 with the fused multiply-add for the integer and single-precision
// lanes, AVX for double lanes.
bool WideVectorsAvailable();
bool WideDoubleVectorsAvailable();

// Allows (the default) or forbids them for the passes that follow.
void AllowWideVectors(bool allow);

}  // namespace lumafex

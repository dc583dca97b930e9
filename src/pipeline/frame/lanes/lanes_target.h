// How a kernel is compiled for wider instructions than the build's
// baseline. Every vectorised kernel is written once, as a template over a
// lanes type (a struct of static operations such as Sse2ShortLanes or
// Avx2ShortLanes, whose forms give the same result per lane). A file
// compiles the wide instantiations inside a region opened by one of these:
//
//     LUMAFEX_LANES_BEGIN_AVX2
//     namespace wide { ... the kernels, or their instantiations ... }
//     LUMAFEX_LANES_END
//
// Every function defined in the region, lambdas and templates included, is
// built for those instructions, so the lanes' always-inline operations
// inline into it; nothing outside the region may run unless the frame's
// InstructionSet allows it.
#pragma once

#include "pipeline/frame/wide_vectors.h"

#if LUMAFEX_WIDE_VECTORS
#if defined(__clang__)
#define LUMAFEX_LANES_BEGIN_TARGET_(set) \
    _Pragma(LUMAFEX_LANES_STRING_(clang attribute push(__attribute__((target(set))), apply_to = function)))
#define LUMAFEX_LANES_END _Pragma("clang attribute pop")
#else
#define LUMAFEX_LANES_BEGIN_TARGET_(set) \
    _Pragma("GCC push_options") _Pragma(LUMAFEX_LANES_STRING_(GCC target(set)))
#define LUMAFEX_LANES_END _Pragma("GCC pop_options")
#endif
#define LUMAFEX_LANES_STRING_(text) #text

// Four doubles to a register.
#define LUMAFEX_LANES_BEGIN_AVX LUMAFEX_LANES_BEGIN_TARGET_("avx")
// AVX2 integer and single lanes; the fused multiply-add only where a lanes
// type names it.
#define LUMAFEX_LANES_BEGIN_AVX2 LUMAFEX_LANES_BEGIN_TARGET_("avx2")
#define LUMAFEX_LANES_BEGIN_AVX2_FMA LUMAFEX_LANES_BEGIN_TARGET_("avx2,fma")
#endif

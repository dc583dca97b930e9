// Compiles the kernels of the header named by LUMAFEX_BYTE_LANES_KERNELS
// once for each kind of byte lanes: in namespace `narrow` over
// Sse2ByteLanes and, where the build has the wider instructions, in
// namespace `wide` over Avx2ByteLanes with those instructions enabled for
// every function in it. No include guard: a file includes it, after
// byte_lanes.h and lanes_target.h, with the macro set to its kernels'
// header, inside the namespace the kernels belong to.
#if LUMAFEX_BYTE_LANES
namespace narrow {
using L = Sse2ByteLanes;
#include LUMAFEX_BYTE_LANES_KERNELS
}  // namespace narrow
#if LUMAFEX_WIDE_VECTORS
LUMAFEX_LANES_BEGIN_AVX2
namespace wide {
using L = Avx2ByteLanes;
#include LUMAFEX_BYTE_LANES_KERNELS
}  // namespace wide
LUMAFEX_LANES_END
#endif
#endif
#undef LUMAFEX_BYTE_LANES_KERNELS

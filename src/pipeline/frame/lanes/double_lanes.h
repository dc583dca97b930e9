// Double-precision lanes, with 64-bit masks in the same registers, and the
// single-precision lanes of the fused multiply-add: SSE2 (2 doubles, the
// baseline of every x86 target), AVX (4 doubles), AVX2 (4 doubles, rounding
// on the bits in one register) and, for single precision, AVX2 with FMA
// (8 floats). The double forms offer the same operations with the same
// results per lane, so a loop written over one gives the bytes of any other.
//
// A mask is a V whose lanes have every bit set or none, as the comparisons
// return; And, Or, AndNot and Select take it as bits. No operation rounds
// anything but where it says so.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "pipeline/frame/wide_vectors.h"

#if defined(__SSE2__)
#define LUMAFEX_DOUBLE_LANES 1
#include <emmintrin.h>
#if LUMAFEX_WIDE_VECTORS
#include <immintrin.h>
#endif
#else
#define LUMAFEX_DOUBLE_LANES 0
#endif

namespace lumafex {

// One double to a lane, in plain C++: the form of builds without SSE2, and
// the measure of the others in tests.
struct ScalarDoubleLanes {
    using V = double;
    static constexpr int32_t kCount = 1;
    static uint64_t Bits(V v) {
        uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        return bits;
    }
    static V FromBits(uint64_t bits) {
        V v = 0.0;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    static V Mask(bool on) { return FromBits(on ? ~uint64_t{0} : 0); }
    static V Load(const double* p) { return *p; }
    static void Store(double* p, V v) { *p = v; }
    static V LoadSingles(const float* p) { return *p; }
    static void StoreSingles(float* p, V v) { *p = static_cast<float>(v); }
    static V LoadMask(const int64_t* p) { return FromBits(static_cast<uint64_t>(*p)); }
    static V Set(double v) { return v; }
    static V Zero() { return 0.0; }
    static V Add(V a, V b) { return a + b; }
    static V Sub(V a, V b) { return a - b; }
    static V Mul(V a, V b) { return a * b; }
    static V Div(V a, V b) { return a / b; }
    static V Min(V a, V b) { return a < b ? a : b; }
    static V Max(V a, V b) { return a > b ? a : b; }
    static V And(V a, V b) { return FromBits(Bits(a) & Bits(b)); }
    static V AndNot(V a, V b) { return FromBits(~Bits(a) & Bits(b)); }
    static V Or(V a, V b) { return FromBits(Bits(a) | Bits(b)); }
    static V Select(V mask, V a, V b) { return Or(And(mask, a), AndNot(mask, b)); }
    static V Equal(V a, V b) { return Mask(a == b); }
    static V NotEqual(V a, V b) { return Mask(a != b); }
    static V Greater(V a, V b) { return Mask(a > b); }
    static V GreaterEqual(V a, V b) { return Mask(a >= b); }
    static V Less(V a, V b) { return Mask(a < b); }
    static V LessEqual(V a, V b) { return Mask(a <= b); }
    static int MoveMask(V v) { return static_cast<int>(Bits(v) >> 63); }
    static V Floor(V v) { return std::floor(v); }
    // Through memory: GCC 12's vectoriser, pairing neighbouring lanes,
    // drops a conversion to single precision and back whose value stays a
    // double, as if it did nothing.
    static V RoundToSingle(V v) {
        const volatile float rounded = static_cast<float>(v);
        return static_cast<double>(rounded);
    }
    static V RoundToSingleByBits(V v) {
        const uint64_t bits = Bits(v);
        return FromBits((bits + 0x0FFFFFFFu + ((bits >> 29) & 1u)) & (~uint64_t{0} << 29));
    }
    static uint32_t TruncateToBytes(V v) { return static_cast<uint8_t>(static_cast<int32_t>(v)); }
};

#if LUMAFEX_DOUBLE_LANES

// Rounds the lanes of bits, doubles as 64-bit integers, to single
// precision on their bits: to nearest, ties to even, at the 29th bit of the
// fraction. Exact only for values that are 0 or normal in single precision.
[[gnu::always_inline]] inline __m128i RoundBitsToSingle(__m128i bits) {
    const __m128i odd = _mm_and_si128(_mm_srli_epi64(bits, 29), _mm_set1_epi64x(1));
    const __m128i sum = _mm_add_epi64(_mm_add_epi64(bits, _mm_set1_epi64x(0x0FFFFFFF)), odd);
    return _mm_and_si128(sum, _mm_set1_epi64x(static_cast<int64_t>(~uint64_t{0} << 29)));
}

// Single-precision values beside the lanes of an SSE2 or AVX form, in the
// low kCount lanes of four (the others unused): for what is worked out in
// single precision and then widened. The same operations for every form,
// with masks of 32 bits a lane.
struct PairedSingles {
    using V = __m128;
    [[gnu::always_inline]] static V Set(float v) { return _mm_set1_ps(v); }
    [[gnu::always_inline]] static V Zero() { return _mm_setzero_ps(); }
    // Lanes of all ones or none, one int32_t each.
    [[gnu::always_inline]] static V LoadMask(const int32_t* p) {
        return _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    [[gnu::always_inline]] static V Sub(V a, V b) { return _mm_sub_ps(a, b); }
    [[gnu::always_inline]] static V Div(V a, V b) { return _mm_div_ps(a, b); }
    // b where either is a NaN, as the instructions have it.
    [[gnu::always_inline]] static V Min(V a, V b) { return _mm_min_ps(a, b); }
    [[gnu::always_inline]] static V Max(V a, V b) { return _mm_max_ps(a, b); }
    [[gnu::always_inline]] static V Or(V a, V b) { return _mm_or_ps(a, b); }
    [[gnu::always_inline]] static V AndNot(V a, V b) { return _mm_andnot_ps(a, b); }  // ~a & b
    [[gnu::always_inline]] static V Equal(V a, V b) { return _mm_cmpeq_ps(a, b); }
    [[gnu::always_inline]] static V Less(V a, V b) { return _mm_cmplt_ps(a, b); }
    [[gnu::always_inline]] static int MoveMask(V v) { return _mm_movemask_ps(v); }
};

struct Sse2DoubleLanes {
    using V = __m128d;
    static constexpr int32_t kCount = 2;
    using Singles = PairedSingles;
    [[gnu::always_inline]] static V Load(const double* p) { return _mm_loadu_pd(p); }
    [[gnu::always_inline]] static void Store(double* p, V v) { _mm_storeu_pd(p, v); }
    // kCount floats widened, and stored narrowed (rounded to single).
    [[gnu::always_inline]] static V LoadSingles(const float* p) {
        __m128 f = _mm_setzero_ps();
        std::memcpy(&f, p, 2 * sizeof(float));
        return _mm_cvtps_pd(f);
    }
    [[gnu::always_inline]] static void StoreSingles(float* p, V v) {
        const __m128 f = _mm_cvtpd_ps(v);
        std::memcpy(p, &f, 2 * sizeof(float));
    }
    // kCount floats as Singles, and Singles widened.
    [[gnu::always_inline]] static Singles::V LoadPairedSingles(const float* p) {
        __m128 f = _mm_setzero_ps();
        std::memcpy(&f, p, 2 * sizeof(float));
        return f;
    }
    [[gnu::always_inline]] static V Widen(Singles::V v) { return _mm_cvtps_pd(v); }
    // A mask's lanes as the Singles' masks.
    [[gnu::always_inline]] static Singles::V NarrowMask(V mask) {
        return _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castpd_si128(mask), _MM_SHUFFLE(3, 1, 2, 0)));
    }
    // Lanes of all ones or none, one int64_t each.
    [[gnu::always_inline]] static V LoadMask(const int64_t* p) {
        return _mm_castsi128_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    [[gnu::always_inline]] static V Set(double v) { return _mm_set1_pd(v); }
    [[gnu::always_inline]] static V Zero() { return _mm_setzero_pd(); }
    [[gnu::always_inline]] static V Add(V a, V b) { return _mm_add_pd(a, b); }
    [[gnu::always_inline]] static V Sub(V a, V b) { return _mm_sub_pd(a, b); }
    [[gnu::always_inline]] static V Mul(V a, V b) { return _mm_mul_pd(a, b); }
    [[gnu::always_inline]] static V Div(V a, V b) { return _mm_div_pd(a, b); }
    // a x b + c for a product that is exact in double precision, so that
    // one rounding or two give the same.
    [[gnu::always_inline]] static V AddExactProduct(V a, V b, V c) { return Add(Mul(a, b), c); }
    // b where either is a NaN, as the instructions have it.
    [[gnu::always_inline]] static V Min(V a, V b) { return _mm_min_pd(a, b); }
    [[gnu::always_inline]] static V Max(V a, V b) { return _mm_max_pd(a, b); }
    [[gnu::always_inline]] static V And(V a, V b) { return _mm_and_pd(a, b); }
    [[gnu::always_inline]] static V AndNot(V a, V b) { return _mm_andnot_pd(a, b); }  // ~a & b
    [[gnu::always_inline]] static V Or(V a, V b) { return _mm_or_pd(a, b); }
    // mask ? a : b, lane by lane.
    [[gnu::always_inline]] static V Select(V mask, V a, V b) {
        return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
    }
    // Comparisons as C++ has them: false with a NaN, but NotEqual true.
    [[gnu::always_inline]] static V Equal(V a, V b) { return _mm_cmpeq_pd(a, b); }
    [[gnu::always_inline]] static V NotEqual(V a, V b) { return _mm_cmpneq_pd(a, b); }
    [[gnu::always_inline]] static V Greater(V a, V b) { return _mm_cmpgt_pd(a, b); }
    [[gnu::always_inline]] static V GreaterEqual(V a, V b) { return _mm_cmpge_pd(a, b); }
    [[gnu::always_inline]] static V Less(V a, V b) { return _mm_cmplt_pd(a, b); }
    [[gnu::always_inline]] static V LessEqual(V a, V b) { return _mm_cmple_pd(a, b); }
    // Bit i set where lane i's sign bit is (every bit of a mask).
    [[gnu::always_inline]] static int MoveMask(V v) { return _mm_movemask_pd(v); }
    // Rounded down to a whole number, as floor() does. SSE2 has no
    // instruction for it: |v| below 2^52 rounds to the nearest whole number
    // by adding and taking away 2^52, one less where that lies above v;
    // larger values, infinities and NaNs are whole or kept already.
    [[gnu::always_inline]] static V Floor(V v) {
        const V signBit = _mm_set1_pd(-0.0);
        const V magnitude = _mm_andnot_pd(signBit, v);
        const V big = _mm_set1_pd(0x1p52);
        const V nearest = _mm_or_pd(_mm_sub_pd(_mm_add_pd(magnitude, big), big), _mm_and_pd(signBit, v));
        const V below = _mm_sub_pd(nearest, _mm_and_pd(_mm_cmpgt_pd(nearest, v), _mm_set1_pd(1.0)));
        const V small = _mm_cmplt_pd(magnitude, big);
        return _mm_or_pd(_mm_and_pd(small, below), _mm_andnot_pd(small, v));
    }
    // Every lane rounded to single precision and back, by conversion.
    [[gnu::always_inline]] static V RoundToSingle(V v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); }
    // The same on the bits (see RoundBitsToSingle): exact only for lanes
    // that are 0 or normal in single precision.
    [[gnu::always_inline]] static V RoundToSingleByBits(V v) {
        return _mm_castsi128_pd(RoundBitsToSingle(_mm_castpd_si128(v)));
    }
    // Lanes holding whole numbers 0 .. 255 (or values truncating to them),
    // a byte each, lane i in byte i of the result.
    [[gnu::always_inline]] static uint32_t TruncateToBytes(V v) {
        const __m128i whole = _mm_cvttpd_epi32(v);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(whole, whole), _mm_setzero_si128());
        return static_cast<uint32_t>(_mm_cvtsi128_si32(bytes)) & 0xFFFFu;
    }
    // kCount bytes widened.
    [[gnu::always_inline]] static V LoadBytes(const uint8_t* p) {
        uint16_t two;
        std::memcpy(&two, p, sizeof two);
        const __m128i zero = _mm_setzero_si128();
        const __m128i bytes = _mm_cvtsi32_si128(two);
        return _mm_cvtepi32_pd(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
    }
    // The kCount cells of four int32_t at `cells` (red, green, blue,
    // count), each value widened into its lane of v[0] .. v[3].
    [[gnu::always_inline]] static void LoadCells(const int32_t* cells, V v[4]) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + 4));
        const __m128i redGreen = _mm_unpacklo_epi32(first, second);
        const __m128i blueCount = _mm_unpackhi_epi32(first, second);
        v[0] = _mm_cvtepi32_pd(redGreen);
        v[1] = _mm_cvtepi32_pd(_mm_srli_si128(redGreen, 8));
        v[2] = _mm_cvtepi32_pd(blueCount);
        v[3] = _mm_cvtepi32_pd(_mm_srli_si128(blueCount, 8));
    }
    // Adds to the kCount cells of four int32_t at `cells` (red, green,
    // blue, count) the lanes of r, g and b truncated toward zero (within the
    // 32-bit range) and a count of 1, in the lanes `take` (a Singles mask)
    // has set; the other cells get 0.
    [[gnu::always_inline]] static void AddTruncatedToCells(int32_t* cells, V r, V g, V b, Singles::V take) {
        AddToCells<2>(cells, _mm_cvttpd_epi32(r), _mm_cvttpd_epi32(g), _mm_cvttpd_epi32(b),
                      _mm_castps_si128(take));
    }
    // The first Cells lanes of red, green, blue and a count of 1, each where
    // `on` has the lane set, added to Cells cells of four int32_t.
    template <int Cells>
    [[gnu::always_inline]] static void AddToCells(int32_t* cells, __m128i red, __m128i green, __m128i blue,
                                                  __m128i on) {
        red = _mm_and_si128(red, on);
        green = _mm_and_si128(green, on);
        blue = _mm_and_si128(blue, on);
        const __m128i count = _mm_sub_epi32(_mm_setzero_si128(), on);
        const __m128i redGreen[2] = {_mm_unpacklo_epi32(red, green), _mm_unpackhi_epi32(red, green)};
        const __m128i blueCount[2] = {_mm_unpacklo_epi32(blue, count), _mm_unpackhi_epi32(blue, count)};
        for (int half = 0; half < Cells / 2; ++half) {
            AddCell(cells + 8 * half, _mm_unpacklo_epi64(redGreen[half], blueCount[half]));
            AddCell(cells + 8 * half + 4, _mm_unpackhi_epi64(redGreen[half], blueCount[half]));
        }
    }
    [[gnu::always_inline]] static void AddCell(int32_t* cell, __m128i add) {
        __m128i* const p = reinterpret_cast<__m128i*>(cell);
        _mm_storeu_si128(p, _mm_add_epi32(_mm_loadu_si128(p), add));
    }
};

#if LUMAFEX_WIDE_VECTORS
#define LUMAFEX_AVX_LANE [[gnu::always_inline, gnu::target("avx")]] static inline
#define LUMAFEX_AVX2_LANE [[gnu::always_inline, gnu::target("avx2")]] static inline
#define LUMAFEX_AVX2_FMA_LANE [[gnu::always_inline, gnu::target("avx2,fma")]] static inline

struct AvxDoubleLanes {
    using V = __m256d;
    static constexpr int32_t kCount = 4;
    using Singles = PairedSingles;
    LUMAFEX_AVX_LANE V Load(const double* p) { return _mm256_loadu_pd(p); }
    LUMAFEX_AVX_LANE void Store(double* p, V v) { _mm256_storeu_pd(p, v); }
    LUMAFEX_AVX_LANE V LoadSingles(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
    LUMAFEX_AVX_LANE Singles::V LoadPairedSingles(const float* p) { return _mm_loadu_ps(p); }
    LUMAFEX_AVX_LANE V Widen(Singles::V v) { return _mm256_cvtps_pd(v); }
    LUMAFEX_AVX_LANE Singles::V NarrowMask(V mask) {
        const __m256 bits = _mm256_castpd_ps(mask);
        return _mm_shuffle_ps(_mm256_castps256_ps128(bits), _mm256_extractf128_ps(bits, 1),
                              _MM_SHUFFLE(2, 0, 2, 0));
    }
    LUMAFEX_AVX_LANE void StoreSingles(float* p, V v) { _mm_storeu_ps(p, _mm256_cvtpd_ps(v)); }
    LUMAFEX_AVX_LANE V LoadMask(const int64_t* p) {
        return _mm256_castsi256_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    }
    LUMAFEX_AVX_LANE V Set(double v) { return _mm256_set1_pd(v); }
    LUMAFEX_AVX_LANE V Zero() { return _mm256_setzero_pd(); }
    LUMAFEX_AVX_LANE V Add(V a, V b) { return _mm256_add_pd(a, b); }
    LUMAFEX_AVX_LANE V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
    LUMAFEX_AVX_LANE V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
    LUMAFEX_AVX_LANE V Div(V a, V b) { return _mm256_div_pd(a, b); }
    LUMAFEX_AVX_LANE V AddExactProduct(V a, V b, V c) { return Add(Mul(a, b), c); }
    LUMAFEX_AVX_LANE V Min(V a, V b) { return _mm256_min_pd(a, b); }
    LUMAFEX_AVX_LANE V Max(V a, V b) { return _mm256_max_pd(a, b); }
    LUMAFEX_AVX_LANE V And(V a, V b) { return _mm256_and_pd(a, b); }
    LUMAFEX_AVX_LANE V AndNot(V a, V b) { return _mm256_andnot_pd(a, b); }  // ~a & b
    LUMAFEX_AVX_LANE V Or(V a, V b) { return _mm256_or_pd(a, b); }
    // In bit operations: GCC turns the blend of a comparison's mask into a
    // branch for every lane.
    LUMAFEX_AVX_LANE V Select(V mask, V a, V b) { return Or(And(mask, a), AndNot(mask, b)); }
    LUMAFEX_AVX_LANE V Equal(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
    LUMAFEX_AVX_LANE V NotEqual(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_UQ); }
    LUMAFEX_AVX_LANE V Greater(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
    LUMAFEX_AVX_LANE V GreaterEqual(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
    LUMAFEX_AVX_LANE V Less(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    LUMAFEX_AVX_LANE V LessEqual(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
    LUMAFEX_AVX_LANE int MoveMask(V v) { return _mm256_movemask_pd(v); }
    LUMAFEX_AVX_LANE V Floor(V v) { return _mm256_floor_pd(v); }
    LUMAFEX_AVX_LANE V RoundToSingle(V v) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(v)); }
    // AVX has no 256-bit integer additions: two halves of SSE2's.
    LUMAFEX_AVX_LANE V RoundToSingleByBits(V v) {
        const __m256i bits = _mm256_castpd_si256(v);
        const __m128i low = RoundBitsToSingle(_mm256_castsi256_si128(bits));
        const __m128i high = RoundBitsToSingle(_mm256_extractf128_si256(bits, 1));
        return _mm256_castsi256_pd(_mm256_insertf128_si256(_mm256_castsi128_si256(low), high, 1));
    }
    LUMAFEX_AVX_LANE uint32_t TruncateToBytes(V v) {
        const __m128i whole = _mm256_cvttpd_epi32(v);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(whole, whole), _mm_setzero_si128());
        return static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
    }
    LUMAFEX_AVX_LANE V LoadBytes(const uint8_t* p) {
        int32_t four;
        std::memcpy(&four, p, sizeof four);
        const __m128i zero = _mm_setzero_si128();
        const __m128i bytes = _mm_cvtsi32_si128(four);
        return _mm256_cvtepi32_pd(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
    }
    LUMAFEX_AVX_LANE void LoadCells(const int32_t* cells, V v[4]) {
        __m128 rows[4];
        for (int i = 0; i < 4; ++i) {
            rows[i] = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + 4 * i)));
        }
        _MM_TRANSPOSE4_PS(rows[0], rows[1], rows[2], rows[3]);
        for (int i = 0; i < 4; ++i) v[i] = _mm256_cvtepi32_pd(_mm_castps_si128(rows[i]));
    }
    // As Sse2DoubleLanes::AddTruncatedToCells, four cells.
    LUMAFEX_AVX_LANE void AddTruncatedToCells(int32_t* cells, V r, V g, V b, Singles::V take) {
        Sse2DoubleLanes::AddToCells<4>(cells, _mm256_cvttpd_epi32(r), _mm256_cvttpd_epi32(g),
                                       _mm256_cvttpd_epi32(b), _mm_castps_si128(take));
    }
};

// AvxDoubleLanes with the bit rounding in one register, bytes widened in
// one instruction and the exact product added by the fused multiply-add
// (for kernels built for AVX2 with FMA).
struct Avx2DoubleLanes : AvxDoubleLanes {
    LUMAFEX_AVX2_FMA_LANE V AddExactProduct(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    LUMAFEX_AVX2_LANE V LoadBytes(const uint8_t* p) {
        int32_t four;
        std::memcpy(&four, p, sizeof four);
        return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four)));
    }
    LUMAFEX_AVX2_LANE V RoundToSingleByBits(V v) {
        const __m256i bits = _mm256_castpd_si256(v);
        const __m256i odd = _mm256_and_si256(_mm256_srli_epi64(bits, 29), _mm256_set1_epi64x(1));
        const __m256i sum = _mm256_add_epi64(_mm256_add_epi64(bits, _mm256_set1_epi64x(0x0FFFFFFF)), odd);
        const __m256i kept = _mm256_set1_epi64x(static_cast<int64_t>(~uint64_t{0} << 29));
        return _mm256_castsi256_pd(_mm256_and_si256(sum, kept));
    }
};

// Eight single-precision lanes with the fused multiply-add, which rounds
// a x b + c once, to single precision, where the double forms round the
// product and sum to double first. Only for sums where an existing test
// proves the two agree.
struct Avx2FmaSingleLanes {
    using V = __m256;
    static constexpr int32_t kCount = 8;
    LUMAFEX_AVX2_FMA_LANE V Load(const float* p) { return _mm256_loadu_ps(p); }
    LUMAFEX_AVX2_FMA_LANE void Store(float* p, V v) { _mm256_storeu_ps(p, v); }
    // Eight doubles rounded to single precision, and eight widened back.
    LUMAFEX_AVX2_FMA_LANE V LoadDoubles(const double* p) {
        return _mm256_set_m128(_mm256_cvtpd_ps(_mm256_loadu_pd(p + 4)), _mm256_cvtpd_ps(_mm256_loadu_pd(p)));
    }
    LUMAFEX_AVX2_FMA_LANE void StoreDoubles(double* p, V v) {
        _mm256_storeu_pd(p, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
        _mm256_storeu_pd(p + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
    }
    LUMAFEX_AVX2_FMA_LANE V Set(float v) { return _mm256_set1_ps(v); }
    LUMAFEX_AVX2_FMA_LANE V Zero() { return _mm256_setzero_ps(); }
    // a x b + c, rounded once.
    LUMAFEX_AVX2_FMA_LANE V MulAddFused(V a, V b, V c) { return _mm256_fmadd_ps(a, b, c); }
    // Keeps v in a register: without it the compiler may fold one load
    // into each of several uses and load the value again for each.
    LUMAFEX_AVX2_FMA_LANE void HoldInRegister(V& v) { asm("" : "+x"(v)); }
    // Four floats in the low lanes, the others 0; and the low four stored.
    LUMAFEX_AVX2_FMA_LANE V LoadLow(const float* p) { return _mm256_zextps128_ps256(_mm_loadu_ps(p)); }
    LUMAFEX_AVX2_FMA_LANE void StoreLow(float* p, V v) { _mm_storeu_ps(p, _mm256_castps256_ps128(v)); }
};

#undef LUMAFEX_AVX_LANE
#undef LUMAFEX_AVX2_LANE
#undef LUMAFEX_AVX2_FMA_LANE
#endif

#endif

}  // namespace lumafex

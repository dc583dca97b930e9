// Weighted single-precision sums gathered for a run of neighbouring
// receivers in one receiving row at once, from a few source rows in turn.
//
// Each receiver adds the contributions of the source pixels within reach of
// it from left to right, rounding every new sum to single precision as it
// is stored, exactly as it would alone. The receivers of a run do not wait
// for each other, so they are the lanes of vectors: each addition of one
// receiver waits only for its own previous addition.
//
// A source row comes with zeros where a pixel does not spread and beyond
// both ends of the frame, so that every lane can run over the whole range
// of offsets of its run: a zero colour times a finite weight adds exactly
// nothing to a sum. (An infinite weight does not allow that: 0 x infinity
// is not 0. The mixed form below takes nothing at all from a pixel that
// does not spread, and so serves every weight.)
//
// Every sum, colour or weight, is formed as the weighted value in double
// precision added to the sum in double precision and rounded to single
// precision. The vectors are of the width the instruction set works on
// (2 doubles with SSE2, 4 with AVX2), a few of them side by side, so that
// enough additions are under way at once.
//
// The functions are always inlined, so that a caller built for a wider
// instruction set gets them built for it too.
#pragma once

#include <cstdint>
#include <cstring>

#include "pipeline/frame/wide_vectors.h"

#if LUMAFEX_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace lumafex {

// The vectors of W doubles, W floats and W 64-bit masks.
template <int W>
struct LaneVectors;
template <>
struct LaneVectors<2> {
    typedef double Doubles __attribute__((vector_size(16)));
    typedef float Floats __attribute__((vector_size(8)));
    typedef uint64_t Masks __attribute__((vector_size(16)));
};
template <>
struct LaneVectors<4> {
    typedef double Doubles __attribute__((vector_size(32)));
    typedef float Floats __attribute__((vector_size(16)));
    typedef uint64_t Masks __attribute__((vector_size(32)));
};

// Rounds every lane of x to single precision and back. ByBits does it on
// the bits (to nearest, ties to even, at the 29th bit of the double's
// fraction), which runs on more of the processor's units than a
// conversion; that is exact only for values that are 0 or normal in single
// precision, which the caller must ensure.
template <int W, bool ByBits>
[[gnu::always_inline]] inline void RoundToSingle(typename LaneVectors<W>::Doubles& x) {
    using Doubles = typename LaneVectors<W>::Doubles;
    using Floats = typename LaneVectors<W>::Floats;
    using Masks = typename LaneVectors<W>::Masks;
    if constexpr (ByBits) {
        Masks bits = (Masks)x;
        bits = bits + 0x0FFFFFFFu + ((bits >> 29) & 1u);
        x = (Doubles)(bits & ~Masks{} << 29);
    } else {
        x = __builtin_convertvector(__builtin_convertvector(x, Floats), Doubles);
    }
}

// One source row as it reaches one receiving row.
//  - value[c][x] for c = red, green, blue is the colour of pixel x where
//    it spreads and 0 elsewhere, and value[3][x] is 1 where it spreads and
//    0 elsewhere; all may be read from column -16 to 16 past the receiving
//    row's padded width.
//  - before[x] counts the spreading pixels left of column x (x = 0 ..
//    width), so that runs out of reach of every one of them are skipped.
//  - weight[dx], t[dx] and rest[dx], for dx = -reach .. reach, are the
//    weights of the footprint row that lands on the receiving row, by
//    offset from the receiver, and for blended receivers t = w / r and
//    1 - t.
struct SourceRowLanes {
    const double* value[4];
    const float* single[4];  // the same values in single precision, for the fused form
    const int32_t* before;
    const float* weight;
    double* t;  // filled by the caller once a blended receiver needs them
    double* rest;
    int32_t reach;
};

// One receiving row's sums, red, green, blue and weight, each a plane:
// single-precision values kept in double precision, so that they need no
// conversion on their way in and out.
struct SumLanes {
    double* value[4];
};

// The offsets lo .. hi from the L receivers of the run at x0 to the
// sources within reach of at least one of them and inside the frame; false
// when none of those spreads.
template <int L>
[[gnu::always_inline]] inline bool RunOffsets(const SourceRowLanes& row, int32_t x0,
                                              int32_t width, int32_t& lo, int32_t& hi) {
    const int32_t reach = row.reach;
    lo = -(reach < x0 + L - 1 ? reach : x0 + L - 1);
    hi = reach < width - 1 - x0 ? reach : width - 1 - x0;
    const int32_t a = x0 + lo > 0 ? x0 + lo : 0;
    const int32_t b = x0 + L - 1 + hi < width - 1 ? x0 + L - 1 + hi : width - 1;
    return row.before[b + 1] != row.before[a];
}

// Adds to the W x V receivers from column x0 on, every one taking the full
// colour, the sources of rows[0 .. count-1] in turn, in each from left to
// right: to the colour sums, and with Channels 4 to the weight sums too.
template <int W, int V, bool ByBits, int Channels>
[[gnu::always_inline]] inline void GatherFullLanes(const SumLanes& sums, int32_t x0,
                                                   int32_t width, const SourceRowLanes* rows,
                                                   int32_t count) {
    using Doubles = typename LaneVectors<W>::Doubles;
    Doubles acc[4][V];
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) {
            std::memcpy(&acc[c][v], sums.value[c] + x0 + v * W, sizeof acc[c][v]);
        }
    }
    for (int32_t k = 0; k < count; ++k) {
        const SourceRowLanes& row = rows[k];
        int32_t lo = 0;
        int32_t hi = 0;
        if (!RunOffsets<W * V>(row, x0, width, lo, hi)) continue;
        for (int32_t dx = lo; dx <= hi; ++dx) {
            const double w = row.weight[dx];
            for (int c = 0; c < Channels; ++c) {
                for (int v = 0; v < V; ++v) {
                    Doubles value;
                    std::memcpy(&value, row.value[c] + x0 + dx + v * W, sizeof value);
                    acc[c][v] = acc[c][v] + value * w;
                    RoundToSingle<W, ByBits>(acc[c][v]);
                }
            }
        }
    }
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) {
            std::memcpy(sums.value[c] + x0 + v * W, &acc[c][v], sizeof acc[c][v]);
        }
    }
}

// The same for a run whose receivers take the contributions in different
// ways: full[i] or blended[i] (all bits set, or none) says how lane i takes
// them, neither meaning not at all; own[c][i] is its own colour. A blended
// receiver takes w x (t x colour + (1 - t) x own colour) and the weight w.
// Either takes only from pixels that spread.
template <int W, int V, bool ByBits>
[[gnu::always_inline]] inline void GatherMixedLanes(const SumLanes& sums, int32_t x0,
                                                    int32_t width, const SourceRowLanes* rows,
                                                    int32_t count, const int64_t* full,
                                                    const int64_t* blended,
                                                    const double (*own)[W * V]) {
    using Doubles = typename LaneVectors<W>::Doubles;
    using Masks = typename LaneVectors<W>::Masks;
    Doubles acc[4][V];
    Doubles mine[3][V];
    Masks fullMask[V];
    Masks blendMask[V];
    for (int v = 0; v < V; ++v) {
        for (int c = 0; c < 4; ++c) {
            std::memcpy(&acc[c][v], sums.value[c] + x0 + v * W, sizeof acc[c][v]);
            if (c < 3) std::memcpy(&mine[c][v], own[c] + v * W, sizeof mine[c][v]);
        }
        std::memcpy(&fullMask[v], full + v * W, sizeof fullMask[v]);
        std::memcpy(&blendMask[v], blended + v * W, sizeof blendMask[v]);
    }
    const Doubles zero = {};
    for (int32_t k = 0; k < count; ++k) {
        const SourceRowLanes& row = rows[k];
        int32_t lo = 0;
        int32_t hi = 0;
        if (!RunOffsets<W * V>(row, x0, width, lo, hi)) continue;
        for (int32_t dx = lo; dx <= hi; ++dx) {
            const double w = row.weight[dx];
            const double t = row.t[dx];
            const double rest = row.rest[dx];
            for (int v = 0; v < V; ++v) {
                Doubles spreads;
                std::memcpy(&spreads, row.value[3] + x0 + dx + v * W, sizeof spreads);
                const Masks spreading = (Masks)(spreads != zero);
                const Masks fullTaken = fullMask[v] & spreading;
                const Masks blendTaken = blendMask[v] & spreading;
                for (int c = 0; c < 3; ++c) {
                    Doubles colour;
                    std::memcpy(&colour, row.value[c] + x0 + dx + v * W, sizeof colour);
                    const Doubles whole = colour * w;
                    const Doubles mixed = (colour * t + mine[c][v] * rest) * w;
                    const Doubles add =
                        (Doubles)(((Masks)whole & fullTaken) | ((Masks)mixed & blendTaken));
                    acc[c][v] = acc[c][v] + add;
                    RoundToSingle<W, ByBits>(acc[c][v]);
                }
                const Doubles weight = zero + w;
                const Doubles add = (Doubles)((Masks)weight & (fullTaken | blendTaken));
                acc[3][v] = acc[3][v] + add;
                RoundToSingle<W, ByBits>(acc[3][v]);
            }
        }
    }
    for (int c = 0; c < 4; ++c) {
        for (int v = 0; v < V; ++v) {
            std::memcpy(sums.value[c] + x0 + v * W, &acc[c][v], sizeof acc[c][v]);
        }
    }
}

#if LUMAFEX_WIDE_VECTORS
// GatherFullLanes for 8 x V receivers in single-precision lanes, with AVX2
// and the fused multiply-add: each new sum is the exact sum + colour x w
// rounded once, to single precision. The other forms round that exact sum
// to double precision first; the two agree whenever it is a double
// already, which the caller must ensure. The sums come and go as doubles.
// A function of its own, unlike the forms above: a function built for
// particular instructions is inlined only into callers built for them,
// which the pass's strip code, a template of its own, is not.
template <int V, int Channels>
[[gnu::target("avx2,fma")]] void GatherFullFused(
    const SumLanes& sums, int32_t x0, int32_t width, const SourceRowLanes* rows,
    int32_t count) {
    __m256 acc[4][V];
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) {
            const double* const at = sums.value[c] + x0 + 8 * v;
            acc[c][v] = _mm256_set_m128(_mm256_cvtpd_ps(_mm256_loadu_pd(at + 4)),
                                        _mm256_cvtpd_ps(_mm256_loadu_pd(at)));
        }
    }
    for (int32_t k = 0; k < count; ++k) {
        const SourceRowLanes& row = rows[k];
        int32_t lo = 0;
        int32_t hi = 0;
        if (!RunOffsets<8 * V>(row, x0, width, lo, hi)) continue;
        for (int32_t dx = lo; dx <= hi; ++dx) {
            const __m256 w = _mm256_set1_ps(row.weight[dx]);
            for (int c = 0; c < Channels; ++c) {
                for (int v = 0; v < V; ++v) {
                    const __m256 value = _mm256_loadu_ps(row.single[c] + x0 + dx + 8 * v);
                    acc[c][v] = _mm256_fmadd_ps(value, w, acc[c][v]);
                }
            }
        }
    }
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) {
            double* const at = sums.value[c] + x0 + 8 * v;
            _mm256_storeu_pd(at, _mm256_cvtps_pd(_mm256_castps256_ps128(acc[c][v])));
            _mm256_storeu_pd(at + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(acc[c][v], 1)));
        }
    }
}

// One source row as it reaches two neighbouring receiving rows: row[i] is
// its lanes for receiving row i, or null when it does not reach that row.
struct SourceRowPair {
    const SourceRowLanes* row[2];
};

// One offset of one source row as the stepped form below takes it: the
// source's first channel at that offset (the others follow a fixed stride
// apart) and its weight for each of two receiving rows, 0 for a row that
// the offset does not reach.
struct FusedStep {
    const float* value;
    float weight[2];
};

// GatherFullFused for the 8 x V receivers from x0 on in two neighbouring
// receiving rows (sums[0] and sums[1]) at once, along a list of steps made
// once for the two rows. Every source value is loaded once for both rows,
// and every step adds to both, the one with weight 0 adding exactly nothing
// (a colour or spread flag is finite and not negative, and so is every
// sum), so that no run works out its offsets again. Each row still
// adds its own contributions in its own order. The steps come in the order
// of the gather, the source rows in turn, each from left to right; offsets
// past the frame's edges read the zeros around the source rows, and must
// stay within them.
template <int V, int Channels>
[[gnu::target("avx2,fma")]] void GatherFullFusedSteps(const SumLanes* sums, int32_t x0,
                                                      const FusedStep* steps, int32_t count,
                                                      std::size_t stride) {
    __m256 a[Channels][V];
    __m256 b[Channels][V];
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) {
            const double* const atA = sums[0].value[c] + x0 + 8 * v;
            const double* const atB = sums[1].value[c] + x0 + 8 * v;
            a[c][v] = _mm256_set_m128(_mm256_cvtpd_ps(_mm256_loadu_pd(atA + 4)),
                                      _mm256_cvtpd_ps(_mm256_loadu_pd(atA)));
            b[c][v] = _mm256_set_m128(_mm256_cvtpd_ps(_mm256_loadu_pd(atB + 4)),
                                      _mm256_cvtpd_ps(_mm256_loadu_pd(atB)));
        }
    }
    for (int32_t k = 0; k < count; ++k) {
        const float* const value = steps[k].value + x0;
        const __m256 wa = _mm256_set1_ps(steps[k].weight[0]);
        const __m256 wb = _mm256_set1_ps(steps[k].weight[1]);
        for (int c = 0; c < Channels; ++c) {
            for (int v = 0; v < V; ++v) {
                __m256 x = _mm256_loadu_ps(value + c * stride + 8 * v);
                // Held in a register: left to itself, the compiler folds the
                // load into both additions and loads the value twice.
                asm("" : "+x"(x));
                a[c][v] = _mm256_fmadd_ps(x, wa, a[c][v]);
                b[c][v] = _mm256_fmadd_ps(x, wb, b[c][v]);
            }
        }
    }
    for (int c = 0; c < Channels; ++c) {
        for (int v = 0; v < V; ++v) {
            double* const atA = sums[0].value[c] + x0 + 8 * v;
            double* const atB = sums[1].value[c] + x0 + 8 * v;
            _mm256_storeu_pd(atA, _mm256_cvtps_pd(_mm256_castps256_ps128(a[c][v])));
            _mm256_storeu_pd(atA + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(a[c][v], 1)));
            _mm256_storeu_pd(atB, _mm256_cvtps_pd(_mm256_castps256_ps128(b[c][v])));
            _mm256_storeu_pd(atB + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(b[c][v], 1)));
        }
    }
}
#endif

}  // namespace lumafex

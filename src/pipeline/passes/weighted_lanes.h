// Weighted single-precision sums gathered for a run of neighbouring
// receivers in one receiving row at once, from one source row.
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
// The colour sums are formed as the weighted colour in double precision
// added to the sum in double precision, rounded to single precision; the
// weight sums as a single-precision addition, which gives the same value
// (double precision holds more than twice the digits of single precision,
// so rounding twice cannot differ from rounding once).
//
// The functions are always inlined, so that a caller built for a wider
// instruction set gets them built for it too.
#pragma once

#include <cstdint>
#include <cstring>

namespace lumafex {

// The vectors of a run of L receivers.
template <int L>
struct LaneVectors;
template <>
struct LaneVectors<8> {
    typedef double Doubles __attribute__((vector_size(64)));
    typedef float Floats __attribute__((vector_size(32)));
    typedef int64_t Masks __attribute__((vector_size(64)));
    typedef int32_t NarrowMasks __attribute__((vector_size(32)));
};
template <>
struct LaneVectors<16> {
    typedef double Doubles __attribute__((vector_size(128)));
    typedef float Floats __attribute__((vector_size(64)));
    typedef int64_t Masks __attribute__((vector_size(128)));
    typedef int32_t NarrowMasks __attribute__((vector_size(64)));
};

// One source row ready to gather from: colour[c][x] is the colour of pixel
// x where it spreads and 0 elsewhere, spreads[x] 1 or 0. Both may be read
// from column -16 to 16 past the receiving row's padded width.
struct SourceLanes {
    const double* colour[3];
    const float* spreads;
};

// The weights of one footprint row by horizontal offset dx from the
// receiver (indexable from -reach to reach): w as stored, and for blended
// receivers t = w / r and 1 - t.
struct WeightLanes {
    const float* weight;
    const double* t;
    const double* rest;
};

// One receiving row's sums, the colours and the weights each a plane.
struct SumLanes {
    float* colour[3];
    float* weight;
};

// Adds to the L receivers from column x0 on, every one taking the full
// colour, the sources at offsets lo .. hi from each in that order.
template <int L>
[[gnu::always_inline]] inline void GatherFullLanes(const SumLanes& sums, int32_t x0,
                                                   const SourceLanes& src,
                                                   const WeightLanes& weights, int32_t lo,
                                                   int32_t hi) {
    using Doubles = typename LaneVectors<L>::Doubles;
    using Floats = typename LaneVectors<L>::Floats;
    Doubles acc[3];
    for (int c = 0; c < 3; ++c) {
        Floats stored;
        std::memcpy(&stored, sums.colour[c] + x0, sizeof stored);
        acc[c] = __builtin_convertvector(stored, Doubles);
    }
    Floats weightSum;
    std::memcpy(&weightSum, sums.weight + x0, sizeof weightSum);
    for (int32_t dx = lo; dx <= hi; ++dx) {
        const float wf = weights.weight[dx];
        const double w = wf;
        for (int c = 0; c < 3; ++c) {
            Doubles colour;
            std::memcpy(&colour, src.colour[c] + x0 + dx, sizeof colour);
            acc[c] = __builtin_convertvector(__builtin_convertvector(acc[c] + colour * w, Floats),
                                             Doubles);
        }
        Floats spreads;
        std::memcpy(&spreads, src.spreads + x0 + dx, sizeof spreads);
        weightSum = weightSum + spreads * wf;
    }
    for (int c = 0; c < 3; ++c) {
        const Floats stored = __builtin_convertvector(acc[c], Floats);
        std::memcpy(sums.colour[c] + x0, &stored, sizeof stored);
    }
    std::memcpy(sums.weight + x0, &weightSum, sizeof weightSum);
}

// The same for a run whose receivers take the contributions in different
// ways: full[i] or blended[i] (all bits set, or none) says how lane i takes
// them, neither meaning not at all; own[c][i] is its own colour. A blended
// receiver takes w x (t x colour + (1 - t) x own colour). Either takes
// only from pixels that spread.
template <int L>
[[gnu::always_inline]] inline void GatherMixedLanes(const SumLanes& sums, int32_t x0,
                                                    const SourceLanes& src,
                                                    const WeightLanes& weights, int32_t lo,
                                                    int32_t hi, const int64_t* full,
                                                    const int64_t* blended,
                                                    const double (*own)[L]) {
    using Doubles = typename LaneVectors<L>::Doubles;
    using Floats = typename LaneVectors<L>::Floats;
    using Masks = typename LaneVectors<L>::Masks;
    using NarrowMasks = typename LaneVectors<L>::NarrowMasks;
    Doubles acc[3];
    Doubles mine[3];
    for (int c = 0; c < 3; ++c) {
        Floats stored;
        std::memcpy(&stored, sums.colour[c] + x0, sizeof stored);
        acc[c] = __builtin_convertvector(stored, Doubles);
        std::memcpy(&mine[c], own[c], sizeof mine[c]);
    }
    Floats weightSum;
    std::memcpy(&weightSum, sums.weight + x0, sizeof weightSum);
    Masks fullMask;
    Masks blendMask;
    std::memcpy(&fullMask, full, sizeof fullMask);
    std::memcpy(&blendMask, blended, sizeof blendMask);
    const NarrowMasks fullNarrow = __builtin_convertvector(fullMask, NarrowMasks);
    const NarrowMasks blendNarrow = __builtin_convertvector(blendMask, NarrowMasks);
    for (int32_t dx = lo; dx <= hi; ++dx) {
        const float wf = weights.weight[dx];
        const double w = wf;
        const double t = weights.t[dx];
        const double rest = weights.rest[dx];
        Floats spreads;
        std::memcpy(&spreads, src.spreads + x0 + dx, sizeof spreads);
        const NarrowMasks spreadsNarrow = (NarrowMasks)(spreads != 0.0f);
        const Masks spreadsMask = __builtin_convertvector(spreadsNarrow, Masks);
        const Masks fullTaken = fullMask & spreadsMask;
        const Masks blendTaken = blendMask & spreadsMask;
        for (int c = 0; c < 3; ++c) {
            Doubles colour;
            std::memcpy(&colour, src.colour[c] + x0 + dx, sizeof colour);
            const Doubles whole = colour * w;
            const Doubles mixed = (colour * t + mine[c] * rest) * w;
            const Doubles add =
                (Doubles)(((Masks)whole & fullTaken) | ((Masks)mixed & blendTaken));
            acc[c] = __builtin_convertvector(__builtin_convertvector(acc[c] + add, Floats),
                                             Doubles);
        }
        const Floats spreadWeight = spreads * wf;
        const Floats plainWeight = Floats{} + wf;
        const Floats addWeight =
            (Floats)(((NarrowMasks)spreadWeight & (fullNarrow & spreadsNarrow)) |
                     ((NarrowMasks)plainWeight & (blendNarrow & spreadsNarrow)));
        weightSum = weightSum + addWeight;
    }
    for (int c = 0; c < 3; ++c) {
        const Floats stored = __builtin_convertvector(acc[c], Floats);
        std::memcpy(sums.colour[c] + x0, &stored, sizeof stored);
    }
    std::memcpy(sums.weight + x0, &weightSum, sizeof weightSum);
}

}  // namespace lumafex

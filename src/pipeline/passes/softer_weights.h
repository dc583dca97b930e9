// The distance weights of the softer passes: a receiver at integer offsets
// (dx, dy) from the centre gets w = r - sqrt(dx^2 + dy^2), formed in double
// and rounded to single precision; pixels with w not above 0 receive
// nothing. Sums of weighted contributions are single-precision values
// rounded after every addition.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "pipeline/passes/accumulators.h"

namespace lumafex {

// Adds a double-precision contribution to a single-precision sum, rounding
// the new sum once, as it is stored.
inline void AddRounded(float& sum, double contribution) {
    sum = static_cast<float>(static_cast<double>(sum) + contribution);
}

// Adds colour x w to a pixel's colour sums and 1 x w (exactly w) to its
// weight sum: colour[3] is 1. Each new sum is rounded once, as it is stored.
// Written over the four values alike so that they can be worked on at once.
inline void AddWeighted(SumCell<float>& cell, const double (&colour)[4], double w) {
    float sums[4] = {cell.red, cell.green, cell.blue, cell.count};
    for (int k = 0; k < 4; ++k) {
        sums[k] = static_cast<float>(static_cast<double>(sums[k]) + colour[k] * w);
    }
    cell = {sums[0], sums[1], sums[2], sums[3]};
}

// Adds to the sums of four neighbouring receivers, sums[0..3], the
// contributions of the sources around each: receiver i takes source i + dx
// with weight weights[dx], for dx = -reach .. reach in that order, so each
// receiver adds exactly as it would alone. Worked on side by side because
// each addition must wait for the one before it in the same receiver, not
// for those of the others. sources and weights point at the first
// receiver's own column and at dx = 0; every source reached must exist.
inline void AddWeightedFour(SumCell<float>* sums, const double (*sources)[4], const float* weights,
                            int32_t reach) {
    float s[4][4];
    for (int i = 0; i < 4; ++i) {
        s[i][0] = sums[i].red;
        s[i][1] = sums[i].green;
        s[i][2] = sums[i].blue;
        s[i][3] = sums[i].count;
    }
    for (int32_t dx = -reach; dx <= reach; ++dx) {
        const double w = weights[dx];
        for (int i = 0; i < 4; ++i) {
            for (int k = 0; k < 4; ++k) {
                s[i][k] = static_cast<float>(static_cast<double>(s[i][k]) + sources[dx + i][k] * w);
            }
        }
    }
    for (int i = 0; i < 4; ++i) sums[i] = {s[i][0], s[i][1], s[i][2], s[i][3]};
}

// The weights of one footprint row at vertical offset dy, for the columns
// -reach .. reach around the centre, stored at weights[reach + dx]. Returns
// how far from the centre the weights stay above 0 (-1 for none): they fall
// with the distance, so exactly the pixels within that reach receive, and
// only their entries are written.
inline int32_t FillWeights(float radius, int32_t dy, int32_t reach, float* weights) {
    const double dy2 = static_cast<double>(dy) * static_cast<double>(dy);
    int32_t positive = -1;
    for (int32_t dx = 0; dx <= reach; ++dx) {
        const double dx2 = static_cast<double>(dx) * static_cast<double>(dx);
        const double w = static_cast<double>(radius) - std::sqrt(dx2 + dy2);
        if (!(w > 0.0)) break;
        // A positive w never rounds to 0 in single precision.
        const float rounded = static_cast<float>(w);
        weights[reach + dx] = rounded;
        weights[reach - dx] = rounded;
        positive = dx;
    }
    return positive;
}

// Whether sums that take nothing but colour x w (a whole colour 0 .. 255
// times a weight of the footprint of this radius) may be formed with the
// fused multiply-add, which rounds the exact sum + colour x w once, to
// single precision, where the softer passes ask for it rounded to double
// precision and then to single. The two agree whenever that exact sum is a
// double already, and here every one is:
//  - Every weight is a single-precision value no smaller than the smallest
//    one, 2^e or more, so a whole multiple of q = 2^(e - 23). Colours and
//    the seeds are whole, and rounding to single precision keeps a
//    multiple of q one, so every sum and contribution is a multiple of
//    min(1, q).
//  - A receiver takes at most one contribution, of at most 255 x its
//    weight, from each source within reach, so no exact sum exceeds 255 x
//    (1 + the weights of every offset within reach), and with at most
//    129^2 of them the roundings on the way add less than 2%.
//  - A multiple of q below 2^53 x q is a double.
inline bool OneRoundingSuffices(float radius, int32_t width, int32_t height) {
    const double r = radius;
    if (!(r > 0.0) || r > 64.0) return false;
    // The smallest weight belongs to the largest whole n with r > sqrt(n):
    // r - sqrt(n) falls as n grows, and every rounding keeps the order.
    double n = std::floor(r * r) + 1.0;
    while (!(r - std::sqrt(n) > 0.0)) n -= 1.0;
    const int e = std::ilogb(static_cast<float>(r - std::sqrt(n)));
    const double q = std::ldexp(1.0, std::min(0, e - 23));
    const auto reach = static_cast<int32_t>(r);
    const int32_t across = std::min(reach, width - 1);
    const int32_t down = std::min(reach, height - 1);
    double most = 1.0;
    for (int32_t dy = -down; dy <= down; ++dy) {
        for (int32_t dx = -across; dx <= across; ++dx) {
            const double w = r - std::sqrt(static_cast<double>(dx * dx + dy * dy));
            if (w > 0.0) most += static_cast<float>(w);
        }
    }
    return 1.0625 * 255.0 * most < 0x1p53 * q;
}

// Whether every sum of the softer blur stays 0 or a normal single-precision
// value, so that it can be rounded on its bits. Every sum is at most 255 x
// (1 + r x the number of contributions, at most W x H), far below the
// largest single-precision value unless r is. Every weight is r, or at
// least 2^-49 when r is at least 1 (r - sqrt(n) is then 0 or at least that
// much), and no product of weights, t and colours formed from them comes
// near 2^-126.
inline bool SumsStayNormal(float radius, int32_t width, int32_t height) {
    const double r = radius;
    const double most = 256.0 * (1.0 + r * static_cast<double>(width) * static_cast<double>(height));
    return r >= 0x1p-20 && r <= 0x1p40 && most < 0x1p126;
}

}  // namespace lumafex

// The double lanes' roundings and the weighted gathers written over them:
// every form must give the plain form's bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "pipeline/frame/lanes/double_lanes.h"
#include "pipeline/frame/lanes/lanes_target.h"
#include "pipeline/frame/wide_vectors.h"
#include "pipeline/passes/weighted_rows.h"

namespace lumafex {

// Each form's rounding, floor and gathers, as plain functions of arrays.
namespace plainform {
using L = ScalarDoubleLanes;
#include "pipeline/passes/weighted_lanes.h"
#include "support/double_lanes_under_test.h"
}  // namespace plainform
#if LUMAFEX_DOUBLE_LANES
namespace narrow {
using L = Sse2DoubleLanes;
#include "pipeline/passes/weighted_lanes.h"
#include "support/double_lanes_under_test.h"
}  // namespace narrow
#endif
#if LUMAFEX_WIDE_VECTORS
LUMAFEX_LANES_BEGIN_AVX
namespace avx {
using L = AvxDoubleLanes;
#include "pipeline/passes/weighted_lanes.h"
#include "support/double_lanes_under_test.h"
}  // namespace avx
LUMAFEX_LANES_END
LUMAFEX_LANES_BEGIN_AVX2
namespace wide {
using L = Avx2DoubleLanes;
#include "pipeline/passes/weighted_lanes.h"
#include "support/double_lanes_under_test.h"
}  // namespace wide
LUMAFEX_LANES_END
#endif

namespace {

struct Form {
    const char* name;
    void (*round)(double*, int32_t, bool);
    void (*floor)(double*, int32_t);
    void (*gather)(const SumLanes&, int32_t, const SourceRowLanes*, int32_t, const uint8_t*,
                   const double* const*);
};

std::vector<Form> FormsOfThisProcessor() {
    std::vector<Form> forms = {{"plain", plainform::RoundAll, plainform::FloorAll, plainform::GatherAll}};
#if LUMAFEX_DOUBLE_LANES
    forms.push_back({"SSE2", narrow::RoundAll, narrow::FloorAll, narrow::GatherAll});
#endif
#if LUMAFEX_WIDE_VECTORS
    if (Allows(ProcessorInstructionSet(), InstructionSet::Avx)) {
        forms.push_back({"AVX", avx::RoundAll, avx::FloorAll, avx::GatherAll});
    }
    if (Allows(ProcessorInstructionSet(), InstructionSet::Avx2Fma)) {
        forms.push_back({"AVX2", wide::RoundAll, wide::FloorAll, wide::GatherAll});
    }
#endif
    return forms;
}

// Rounding on the bits must give what a conversion to single precision
// gives, ties included, for every value that is 0 or normal there.
TEST(WeightedLanesTest, RoundingOnTheBitsMatchesTheConversion) {
    std::mt19937_64 random(7);
    std::vector<double> values(200000);
    for (std::size_t i = 0; i < values.size(); ++i) {
        // Exponents across the normal range, fractions with ties and
        // near-ties at the 29th bit as often as arbitrary ones.
        uint64_t bits = random() & 0x000FFFFFFFFFFFFFull;
        switch (i % 4) {
            case 0: bits = (bits & ~0x1FFFFFFFull) | 0x10000000u; break;  // a tie
            case 1: bits = (bits & ~0x1FFFFFFFull) | 0x0FFFFFFFu; break;  // just below
            case 2: bits |= 0x1FFFFFFFull; break;                         // carries into the exponent
            default: break;
        }
        const uint64_t exponent = 1023 - 125 + random() % 252;
        bits |= exponent << 52;
        std::memcpy(&values[i], &bits, sizeof(double));
        if (i % 1000 == 0) values[i] = 0.0;
        if (i % 7 == 1) values[i] *= -0.75;
    }
    for (const Form& form : FormsOfThisProcessor()) {
        for (bool byBits : {false, true}) {
            std::vector<double> rounded = values;
            form.round(rounded.data(), static_cast<int32_t>(rounded.size()), byBits);
            for (std::size_t i = 0; i < values.size(); ++i) {
                ASSERT_EQ(rounded[i], static_cast<double>(static_cast<float>(values[i])))
                    << form.name << (byBits ? " on the bits " : " ") << values[i];
            }
        }
    }
}

// Floor must be floor() bit for bit: halves, values a step off whole
// numbers, signed zeros, the edges of 2^52, infinities and NaNs.
TEST(WeightedLanesTest, FloorIsTheLibrarysFloor) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {0.0,          -0.0,          0.5,          -0.5,  1.5,    -1.5,
                                  2.5,          -2.5,          255.99999,    256.0, 0x1p52, -0x1p52,
                                  0x1p52 - 0.5, -0x1p52 + 0.5, 0x1p53 + 2.0, 1e300, -1e300, inf,
                                  -inf,         0x1p-1074,     -0x1p-1074};
    std::mt19937_64 random(11);
    for (int i = 0; i < 20000; ++i) {
        const double whole = static_cast<double>(random() % 600) - 300.0;
        const double near = i % 2 == 0 ? std::nextafter(whole, inf) : std::nextafter(whole, -inf);
        values.push_back(i % 3 == 0 ? whole + (random() % 1000) / 1000.0 : near);
    }
    if (values.size() % 4 != 0) values.resize(values.size() + 4 - values.size() % 4, 0.25);
    for (const Form& form : FormsOfThisProcessor()) {
        std::vector<double> floored = values;
        form.floor(floored.data(), static_cast<int32_t>(floored.size()));
        for (std::size_t i = 0; i < values.size(); ++i) {
            const double expected = std::floor(values[i]);
            ASSERT_EQ(std::signbit(floored[i]), std::signbit(expected)) << form.name << " " << values[i];
            ASSERT_EQ(floored[i], expected) << form.name << " " << values[i];
        }
        double nan = std::numeric_limits<double>::quiet_NaN();
        double lanes[4] = {nan, nan, nan, nan};
        form.floor(lanes, 4);
        EXPECT_TRUE(std::isnan(lanes[0])) << form.name;
    }
}

// The gathers of every form give the plain form's sums, in full and mixed,
// from source rows with pixels that do not spread and reaches past both
// ends of the row.
TEST(WeightedLanesTest, GathersMatchThePlainForm) {
    constexpr int32_t kWidth = 45;
    constexpr int32_t kPadded = 48;
    constexpr int32_t kZeros = 32;
    constexpr int32_t kRows = 3;
    std::mt19937 random(3);
    std::vector<double> values(kRows * 4 * (kPadded + 2 * kZeros), 0.0);
    std::vector<int32_t> before(kRows * (kWidth + 1));
    std::vector<float> weights(kRows * 41);
    std::vector<double> blend(kRows * 2 * 41);
    SourceRowLanes rows[kRows];
    for (int32_t k = 0; k < kRows; ++k) {
        const int32_t reach = 3 + 8 * k;
        double* const plane = values.data() + k * 4 * (kPadded + 2 * kZeros) + kZeros;
        int32_t* const count = before.data() + k * (kWidth + 1);
        count[0] = 0;
        for (int32_t x = 0; x < kWidth; ++x) {
            const bool spreads = random() % 3 != 0;
            for (int c = 0; c < 3; ++c) {
                plane[c * (kPadded + 2 * kZeros) + x] = spreads ? random() % 256 : 0.0;
            }
            plane[3 * (kPadded + 2 * kZeros) + x] = spreads ? 1.0 : 0.0;
            count[x + 1] = count[x] + (spreads ? 1 : 0);
        }
        float* const w = weights.data() + k * 41 + 20;
        double* const t = blend.data() + k * 82 + 20;
        for (int32_t dx = -reach; dx <= reach; ++dx) {
            w[dx] = static_cast<float>(reach + 0.7 - std::abs(dx) * 0.9);
            t[dx] = w[dx] / (reach + 0.7);
            t[41 + dx] = 1.0 - t[dx];
        }
        const int32_t n = kPadded + 2 * kZeros;
        rows[k] = {{plane, plane + n, plane + 2 * n, plane + 3 * n}, {}, count, w, t, t + 41, reach};
    }
    std::vector<uint8_t> takes(kPadded);
    std::vector<double> own[3];
    for (int c = 0; c < 3; ++c) own[c].assign(kPadded, 0.0);
    for (int32_t x = 0; x < kPadded; ++x) {
        takes[x] = static_cast<uint8_t>(random() % 3);
        for (int c = 0; c < 3; ++c) own[c][x] = random() % 256;
    }
    const double* const mine[3] = {own[0].data(), own[1].data(), own[2].data()};
    const uint8_t* const ways[] = {nullptr, takes.data()};
    for (const uint8_t* how : ways) {
        std::vector<double> expected;
        for (const Form& form : FormsOfThisProcessor()) {
            std::vector<double> sums(4 * kPadded, 1.0);
            const SumLanes lanes = {
                {sums.data(), sums.data() + kPadded, sums.data() + 2 * kPadded, sums.data() + 3 * kPadded}};
            form.gather(lanes, kWidth, rows, kRows, how, mine);
            // The receivers past the width gather too, but are never read.
            for (int c = 0; c < 4; ++c) {
                std::fill(sums.begin() + c * kPadded + kWidth, sums.begin() + (c + 1) * kPadded, 0.0);
            }
            if (expected.empty()) expected = sums;
            for (std::size_t i = 0; i < sums.size(); ++i) {
                ASSERT_EQ(sums[i], expected[i]) << form.name << (how ? " mixed " : " in full ") << i;
            }
        }
    }
}

}  // namespace
}  // namespace lumafex

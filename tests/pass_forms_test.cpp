// Every form of every pass against its reference: each pass runs in each
// instruction set this processor has, on one thread and on three, in all
// five selection modes, over frames cut into several strips, and must give
// the reference's bytes. A set a pass has no form of its own for, or this
// processor lacks, is skipped by name, never run as another form.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "pipeline/final/final_pass.h"
#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/random_generator.h"
#include "pipeline/frame/strips.h"
#include "pipeline/frame/thread_pool.h"
#include "pipeline/frame/wide_vectors.h"
#include "pipeline/passes/blur.h"
#include "pipeline/passes/depth_of_field.h"
#include "pipeline/passes/dof_blur.h"
#include "pipeline/passes/softer_blur.h"
#include "pipeline/passes/softer_dof_blur.h"
#include "pipeline/passes/softer_weights.h"
#include "reference/blur.h"
#include "reference/colour_stages.h"
#include "reference/depth_of_field.h"
#include "reference/enhance_antialias.h"
#include "settings/filter_include.h"
#include "support/test_frame.h"

namespace lumafex {
namespace {

using testing::TestFrame;

constexpr int32_t kModes[] = {kIncludeObjects, kIncludeBackground, kIncludeShadows, kIncludeFullFrame,
                              kIncludeColorRange};

FilterSettings Settings(int32_t mode) {
    FilterSettings s{};
    ResetToDefaults(s);
    s.FilterInclude = mode;
    // A colour range that blocks of pixels fall in (see BlockScene) and
    // random colours now and then.
    s.r1 = 0;
    s.r2 = 255;
    s.g1 = 0;
    s.g2 = 255;
    s.b1 = 200;
    s.b2 = 255;
    return s;
}

// A pass's instruction set and thread count.
class PassForms : public ::testing::TestWithParam<std::tuple<InstructionSet, int32_t>> {
protected:
    void SetUp() override {
        if (!Allows(ProcessorInstructionSet(), Set())) {
            GTEST_SKIP() << "no " << InstructionSetName(Set()) << " on this processor or in this build";
        }
        SetThreadCount(std::get<1>(GetParam()));
    }
    void TearDown() override { SetThreadCount(0); }

    InstructionSet Set() const { return std::get<0>(GetParam()); }

    // Skips the set when the pass has no form of its own for it (it would
    // run the form of a narrower set, which that set's test covers).
    bool SkipUnlessAFormOf(std::initializer_list<InstructionSet> forms) const {
        for (InstructionSet form : forms) {
            if (form == Set()) return false;
        }
        return true;
    }

    FrameParameters Parameters(const FilterSettings& s) const {
        FrameParameters p = ComputeFrameParameters(s);
        p.instructionSet = Set();
        return p;
    }
};

#define LUMAFEX_FORMS(...)                                                                     \
    if (SkipUnlessAFormOf({__VA_ARGS__})) {                                                    \
        GTEST_SKIP() << "the pass has no " << InstructionSetName(Set()) << " form of its own"; \
    }

void ExpectSameColours(const TestFrame& frame, const TestFrame& expected, const std::string& what) {
    ASSERT_EQ(frame.red, expected.red) << what;
    ASSERT_EQ(frame.green, expected.green) << what;
    ASSERT_EQ(frame.blue, expected.blue) << what;
}

// Blocks of 256 x 24 pixels: objects and background, shadows, and pixels in
// the colour range of Settings each over whole blocks, so that every mode
// has long runs of selected pixels beside unselected ones; depths by block,
// cycling through `depths`.
reference::Scene BlockScene(int32_t w, int32_t h, uint32_t seed, std::vector<float> depths) {
    reference::Scene sc{TestFrame(w, h), reference::DepthMap(w, h, 0.0f)};
    sc.frame.FillPattern(seed);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const int32_t bx = x / 256;
            const int32_t by = y / 24;
            const std::size_t i = sc.frame.At(x, y);
            sc.frame.alpha[i] = (bx + by) % 2 == 0 ? 0 : 255;
            sc.frame.shadow[i] = (bx + by) % 3 == 0 ? 200 : 0;
            const bool inRange = (bx + 2 * by) % 3 == 0;
            sc.frame.blue[i] =
                static_cast<uint8_t>(inRange ? 200 + sc.frame.blue[i] % 56 : sc.frame.blue[i] % 200);
            sc.depth.At(x, y) = depths[static_cast<std::size_t>(3 * bx + by) % depths.size()];
        }
    }
    return sc;
}

using BlurForms = PassForms;

// Radii of 3 and 7.5 pixels: footprints of fewer than 256 pixels, which the
// narrow gather takes in 16-bit sums; and 12 pixels, which the general
// gather takes in 32-bit sums. Both have forms of their own.
TEST_P(BlurForms, MatchTheReference) {
    LUMAFEX_FORMS(InstructionSet::Sse2, InstructionSet::Avx2Fma);
    constexpr int32_t kWidth = 2048;
    constexpr int32_t kHeight = 72;
    ASSERT_GE(RowStrips::For(kWidth, kHeight, 131072).Count(), 2);
    ASSERT_GE(RowStrips::For(kWidth, kHeight).Count(), 3);
    for (int32_t mode : kModes) {
        for (int32_t percent : {60, 150, 240}) {
            TestFrame frame = reference::RandomFrame(kWidth, kHeight, static_cast<uint32_t>(mode));
            TestFrame expected = frame;
            FilterSettings s = Settings(mode);
            s.BlurFlag = 1;
            s.BlurPercent = percent;
            const FrameParameters p = Parameters(s);
            reference::Blur(expected, s, p.BlurAmount);
            ASSERT_TRUE(BlurPass(frame.View(), s, p));
            ExpectSameColours(frame, expected,
                              "mode " + std::to_string(mode) + " % " + std::to_string(percent));
        }
    }
}

using SofterBlurForms = PassForms;

// A radius whose sums the fused multiply-add may form with one rounding
// and one whose sums it may not, so that AVX2 runs both of its forms.
TEST_P(SofterBlurForms, MatchTheReference) {
    LUMAFEX_FORMS(InstructionSet::Sse2, InstructionSet::Avx2Fma);
    constexpr int32_t kWidth = 2048;
    constexpr int32_t kHeight = 72;
    ASSERT_GE(RowStrips::For(kWidth, kHeight).Count(), 3);
    int32_t fused = 0;
    int32_t twice = 0;
    for (int32_t percent = 60; percent <= 200 && (fused == 0 || twice == 0); ++percent) {
        FilterSettings s = Settings(kIncludeFullFrame);
        s.BlurPercent = percent;
        const bool once = OneRoundingSuffices(ComputeFrameParameters(s).BlurAmount, kWidth, kHeight);
        int32_t& found = once ? fused : twice;
        if (found == 0) found = percent;
    }
    ASSERT_NE(fused, 0);
    ASSERT_NE(twice, 0);
    for (int32_t mode : kModes) {
        for (int32_t percent : {fused, twice}) {
            TestFrame frame = reference::RandomFrame(kWidth, kHeight, static_cast<uint32_t>(mode));
            TestFrame expected = frame;
            FilterSettings s = Settings(mode);
            s.BlurFlag = 1;
            s.SofterBlurFlag = 1;
            s.BlurPercent = percent;
            const FrameParameters p = Parameters(s);
            reference::SofterBlur(expected, s, p.BlurAmount);
            ASSERT_TRUE(SofterBlurPass(frame.View(), s, p));
            ExpectSameColours(frame, expected,
                              "mode " + std::to_string(mode) + " % " + std::to_string(percent));
        }
    }
}

// The sweep that chose where the fused multiply-add may form the softer
// blur's sums: every BlurPercent from 1 to 400 and every seventh up to 800,
// in two modes, on frames with a third of their pixels near white (large
// sums), gives the same bytes with AVX2 and the fused form as with SSE2.
// It takes minutes: CTest runs it with the label "slow".
TEST(SofterBlurSlowTest, FusedSumsMatchTheDoubleFormOnEveryPercent) {
    if (!Allows(ProcessorInstructionSet(), InstructionSet::Avx2Fma)) {
        GTEST_SKIP() << "no AVX2+FMA on this processor or in this build";
    }
    TestFrame frame = reference::RandomFrame(160, 90, 29);
    for (std::size_t i = 0; i < frame.red.size(); i += 3) {
        const auto white = static_cast<uint8_t>(250 + i % 6);
        frame.red[i] = frame.green[i] = frame.blue[i] = white;
    }
    std::vector<int32_t> percents;
    for (int32_t percent = 1; percent <= 400; ++percent) percents.push_back(percent);
    for (int32_t percent = 407; percent <= 800; percent += 7) percents.push_back(percent);
    for (int32_t mode : {kIncludeFullFrame, kIncludeObjects}) {
        for (int32_t percent : percents) {
            FilterSettings s = Settings(mode);
            s.BlurFlag = 1;
            s.SofterBlurFlag = 1;
            s.BlurPercent = percent;
            FrameParameters p = ComputeFrameParameters(s);
            TestFrame doubles = frame;
            p.instructionSet = InstructionSet::Sse2;
            ASSERT_TRUE(SofterBlurPass(doubles.View(), s, p));
            TestFrame fused = frame;
            p.instructionSet = InstructionSet::Avx2Fma;
            ASSERT_TRUE(SofterBlurPass(fused.View(), s, p));
            ExpectSameColours(fused, doubles,
                              "mode " + std::to_string(mode) + " % " + std::to_string(percent));
        }
    }
}

constexpr int32_t kDepthWidth = 4096;
constexpr int32_t kDepthHeight = 72;

FilterSettings DepthSettings(int32_t mode, bool softer) {
    FilterSettings s = Settings(mode);
    s.DOFBlurFlag = 1;
    s.SofterBlurFlag = softer ? 1 : 0;
    s.DOFBlurPercent = 100;
    s.DOFBlurFocalPoint = 100;
    return s;
}

using DepthOfFieldForms = PassForms;

// Random depths around the focus, and blocks in focus, at a blur of 5 and
// at the limit of 7, which the 16-bit gather takes: AVX mixes four
// receivers at a time and AVX2 sums the gather's windows besides.
TEST_P(DepthOfFieldForms, MatchTheReference) {
    LUMAFEX_FORMS(InstructionSet::Sse2, InstructionSet::Avx, InstructionSet::Avx2Fma);
    ASSERT_GE(RowStrips::For(kDepthWidth, kDepthHeight, kDepthStripPixels).Count(), 3);
    for (int32_t mode : kModes) {
        for (int32_t scene = 0; scene < 2; ++scene) {
            reference::Scene sc = scene == 0
                                      ? reference::RandomScene(kDepthWidth, kDepthHeight, 5)
                                      : BlockScene(kDepthWidth, kDepthHeight, 6, {100.0f, 99.0f, 98.0f});
            const FilterSettings s = DepthSettings(mode, false);
            const FrameParameters p = Parameters(s);
            TestFrame expected = sc.frame;
            reference::DepthOfField(expected, sc.depth, s, p);
            ASSERT_TRUE(DepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
            ExpectSameColours(sc.frame, expected,
                              "mode " + std::to_string(mode) + " scene " + std::to_string(scene));
        }
    }
}

using SofterDepthOfFieldForms = PassForms;

// Blocks in focus and at one blur, whose runs AVX2 adds with the fused
// multiply-add (but in Objects Only), and blocks at two blurs besides,
// whose runs AVX adds four doubles to a register.
TEST_P(SofterDepthOfFieldForms, MatchTheReference) {
    LUMAFEX_FORMS(InstructionSet::Sse2, InstructionSet::Avx, InstructionSet::Avx2Fma);
    ASSERT_GE(RowStrips::For(kDepthWidth, kDepthHeight, kDepthStripPixels).Count(), 3);
    ASSERT_TRUE(OneRoundingSuffices(5.0f, kDepthWidth, kDepthHeight));
    for (int32_t mode : kModes) {
        for (int32_t scene = 0; scene < 2; ++scene) {
            reference::Scene sc = scene == 0
                                      ? BlockScene(kDepthWidth, kDepthHeight, 7, {100.0f, 99.0f})
                                      : BlockScene(kDepthWidth, kDepthHeight, 8, {100.0f, 99.0f, 98.0f});
            const FilterSettings s = DepthSettings(mode, true);
            const FrameParameters p = Parameters(s);
            TestFrame expected = sc.frame;
            reference::SofterDepthOfField(expected, sc.depth, s, p);
            ASSERT_TRUE(SofterDepthOfFieldBlurPass(sc.depth.Attach(sc.frame), s, p));
            ExpectSameColours(sc.frame, expected,
                              "mode " + std::to_string(mode) + " scene " + std::to_string(scene));
        }
    }
}

// Runs the final pass over the frame and returns what it hands out.
TestFrame FinalPass(const TestFrame& input, const FilterSettings& s, const FrameParameters& p) {
    TestFrame frame = input;
    RandomGenerator random;
    testing::RecordingOutput out(frame.width, frame.height);
    RunFinalPass(frame.View(), s, p, random, out);
    frame.red = out.red;
    frame.green = out.green;
    frame.blue = out.blue;
    return frame;
}

using EnhanceAndAntialiasForms = PassForms;

// Two passes of enhance and antialias, with strengths the lanes take with
// and without corrections.
TEST_P(EnhanceAndAntialiasForms, MatchTheReference) {
    LUMAFEX_FORMS(InstructionSet::Sse2, InstructionSet::Avx2Fma);
    constexpr int32_t kWidth = 2048;
    constexpr int32_t kHeight = 72;
    ASSERT_GE(RowStrips::For(kWidth, kHeight).Count(), 3);
    for (int32_t mode : kModes) {
        for (int32_t antialias : {0, 100, 301}) {
            TestFrame frame = BlockScene(kWidth, kHeight, 9, {100.0f}).frame;
            FilterSettings s = Settings(mode);
            s.SharpenFlag = 1;
            s.SharpenPercent = antialias == 0 ? 101 : 100;
            s.SmoothFlag = 1;
            s.AntialiasPercent = antialias;
            s.AntialiasVariance = 120;
            const FrameParameters p = Parameters(s);
            s.Passes = 2;
            TestFrame expected = frame;
            reference::EnhanceAndAntialias(expected, s, p);
            ExpectSameColours(FinalPass(frame, s, p), expected,
                              "mode " + std::to_string(mode) + " antialias " + std::to_string(antialias));
        }
    }
}

using ColourStagesForms = PassForms;

// Every table stage with black and white between them, as one composed
// run of tables where the selection allows.
TEST_P(ColourStagesForms, MatchTheReference) {
    LUMAFEX_FORMS(InstructionSet::Sse2, InstructionSet::Avx2Fma);
    // Wide runs, a narrow one and single pixels at the end of every row.
    constexpr int32_t kWidth = 2048 + 16 + 13;
    constexpr int32_t kHeight = 72;
    ASSERT_GE(RowStrips::For(kWidth, kHeight).Count(), 3);
    for (int32_t mode : kModes) {
        const TestFrame frame = BlockScene(kWidth, kHeight, 10, {100.0f}).frame;
        FilterSettings s = Settings(mode);
        s.NegativeFlag = 1;
        s.NegativeImageFlag = 1;
        s.CartoonFlag = 1;
        s.PosterizePercent = 40;
        s.GreyFlag = 1;
        s.RedPercent = 90;
        s.BrightPercent = 110;
        s.ContrastPercent = 120;
        s.GammaPercent = 80;
        const FrameParameters p = Parameters(s);
        TestFrame expected = frame;
        for (std::size_t i = 0; i < expected.red.size(); ++i) {
            reference::ColourStages(s, p, expected.red[i], expected.green[i], expected.blue[i],
                                    expected.alpha[i], expected.shadow[i]);
        }
        ExpectSameColours(FinalPass(frame, s, p), expected, "mode " + std::to_string(mode));
    }
}

// The horizontal flip and range alpha, which change every pixel whatever
// the selection, on rows whose ends take every kind of run.
TEST_P(ColourStagesForms, FlipAndRangeAlphaMatchTheirFormulas) {
    LUMAFEX_FORMS(InstructionSet::Sse2, InstructionSet::Avx2Fma);
    constexpr int32_t kHeight = 72;
    for (int32_t width : {2048 + 63, 2048 + 31 + 16}) {
        const TestFrame frame = BlockScene(width, kHeight, 11, {100.0f}).frame;
        FilterSettings s = Settings(kIncludeFullFrame);
        s.FlipFrameFlag = 1;
        s.RangeAlphaFlag = 1;
        s.r1 = 40;
        s.r2 = 250;
        TestFrame expected = frame;
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const std::size_t from = frame.At(width - 1 - x, y);
                const std::size_t to = expected.At(x, y);
                const bool in = frame.red[from] >= 40 && frame.red[from] <= 250 && frame.blue[from] >= 200;
                const uint8_t all = in ? 255 : 0;
                expected.red[to] = static_cast<uint8_t>(frame.red[from] | all);
                expected.green[to] = static_cast<uint8_t>(frame.green[from] | all);
                expected.blue[to] = static_cast<uint8_t>(frame.blue[from] | all);
            }
        }
        ExpectSameColours(FinalPass(frame, s, Parameters(s)), expected, "width " + std::to_string(width));
    }
}

std::string FormName(const ::testing::TestParamInfo<PassForms::ParamType>& info) {
    const char* const names[] = {"Sse2", "Avx", "Avx2Fma"};
    return std::string(names[static_cast<int>(std::get<0>(info.param))]) + "Threads" +
           std::to_string(std::get<1>(info.param));
}

#define LUMAFEX_EVERY_FORM(Suite)                                                                         \
    INSTANTIATE_TEST_SUITE_P(                                                                             \
        Every, Suite, ::testing::Combine(::testing::ValuesIn(kInstructionSets), ::testing::Values(1, 3)), \
        FormName)

LUMAFEX_EVERY_FORM(BlurForms);
LUMAFEX_EVERY_FORM(SofterBlurForms);
LUMAFEX_EVERY_FORM(DepthOfFieldForms);
LUMAFEX_EVERY_FORM(SofterDepthOfFieldForms);
LUMAFEX_EVERY_FORM(EnhanceAndAntialiasForms);
LUMAFEX_EVERY_FORM(ColourStagesForms);

}  // namespace
}  // namespace lumafex

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <tuple>
#include <vector>

#include "pipeline/final/colour_stages.h"
#include "pipeline/frame/byte_math.h"
#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/selection.h"
#include "pipeline/frame/wide_vectors.h"
#include "reference/colour_stages.h"
#include "support/instruction_sets.h"
#include "support/final_pass_runner.h"
#include "ui/dialog_fields.h"

namespace lumafex::testing {
namespace {

// The conversion every table stage ends in: limited, truncated toward
// zero, a NaN (from a null channel) to 0.
TEST(ColourStages, LimitToByteTruncatesWithinTheByte) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const std::tuple<double, int> cases[] = {
        {-kInfinity, 0}, {-1.5, 0},      {-0.0, 0},        {0.99, 0},
        {1.0, 1},        {127.999, 127}, {254.5, 254},     {255.0, 255},
        {255.7, 255},    {1e300, 255},   {kInfinity, 255}, {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const auto& [v, expected] : cases) EXPECT_EQ(LimitToByte(v), expected) << v;
}

TEST(ColourStages, BroadcastLimitAndNegative) {
    FilterSettings s = DefaultSettings();
    s.NegativeFlag = 1;
    EXPECT_EQ(FilterPixel(s, {255, 208, 100}), (Rgb{208, 208, 100}));
    s = DefaultSettings();
    s.NegativeImageFlag = 1;
    EXPECT_EQ(FilterPixel(s, {0, 128, 255}), (Rgb{255, 127, 0}));
}

TEST(ColourStages, PosterizeRoundsToTheNearestStep) {
    FilterSettings s = DefaultSettings();
    s.CartoonFlag = 1;  // PosterizePercent 100: step 50
    EXPECT_EQ(FilterPixel(s, {24, 25, 255}), (Rgb{0, 50, 250}));
    s.PosterizePercent = 200;  // step 100: 250 rounds to 300, stored as 255
    EXPECT_EQ(FilterPixel(s, {250, 49, 150}), (Rgb{255, 0, 200}));
    s.PosterizePercent = 3;  // step 1 is not above 1.0: the stage does not run
    EXPECT_EQ(FilterPixel(s, {24, 25, 255}), (Rgb{24, 25, 255}));
    s.PosterizePercent = 1000;  // limited to step 200
    EXPECT_EQ(FilterPixel(s, {99, 100, 255}), (Rgb{0, 200, 200}));
}

TEST(ColourStages, BlackAndWhiteTruncatesTheDoubleSum) {
    FilterSettings s = DefaultSettings();
    s.GreyFlag = 1;
    EXPECT_EQ(FilterRow(s, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {23, 23, 23}}),
              (std::vector<Rgb>{{76, 76, 76}, {150, 150, 150}, {28, 28, 28}, {255, 255, 255},
                                {22, 22, 22}}));
}

TEST(ColourStages, ScaleModeMultipliesByGainAndBrightness) {
    FilterSettings s = DefaultSettings();
    s.RedPercent = 50;
    EXPECT_EQ(FilterPixel(s, {200, 200, 200}), (Rgb{100, 200, 200}));
    s = DefaultSettings();
    s.BrightPercent = 50;
    EXPECT_EQ(FilterPixel(s, {200, 100, 50}), (Rgb{100, 50, 25}));
    s = DefaultSettings();
    s.RedPercent = 200;
    EXPECT_EQ(FilterPixel(s, {200, 0, 0}), (Rgb{255, 0, 0}));
    s = DefaultSettings();
    s.RedPercent = 29;  // the float just below 0.29
    EXPECT_EQ(FilterPixel(s, {100, 100, 100}), (Rgb{28, 100, 100}));
    s = DefaultSettings();
    s.GreenPercent = -50;  // negative gains limit to 0
    EXPECT_EQ(FilterPixel(s, {10, 200, 10}), (Rgb{10, 0, 10}));
}

TEST(ColourStages, ContrastPivotsOn128) {
    FilterSettings s = DefaultSettings();
    s.ContrastPercent = 200;
    EXPECT_EQ(FilterPixel(s, {200, 0, 128}), (Rgb{218, 0, 128}));
    s.ContrastPercent = 0;
    EXPECT_EQ(FilterPixel(s, {0, 255, 128}), (Rgb{32, 223, 128}));
}

TEST(ColourStages, GammaMovesMidTonesMost) {
    FilterSettings s = DefaultSettings();
    s.GammaPercent = 50;
    EXPECT_EQ(FilterRow(s, {{128, 200, 255}, {0, 0, 0}}),
              (std::vector<Rgb>{{64, 172, 254}, {0, 0, 0}}));
    s.GammaPercent = 150;
    EXPECT_EQ(FilterPixel(s, {128, 64, 255}), (Rgb{192, 96, 255}));
}

TEST(ColourStages, OnlySelectedPixelsChange) {
    FilterSettings s = DefaultSettings();
    s.NegativeImageFlag = 1;
    s.FilterInclude = 0;  // objects only: alpha 0 is background
    EXPECT_EQ(FilterPixel(s, {10, 20, 30}, 0), (Rgb{10, 20, 30}));
    EXPECT_EQ(FilterPixel(s, {10, 20, 30}, 1), (Rgb{245, 235, 225}));
    s.FilterInclude = 7;  // no such mode: nothing is selected
    EXPECT_EQ(FilterPixel(s, {10, 20, 30}), (Rgb{10, 20, 30}));
}

TEST(ColourStages, RunInTheirFixedOrder) {
    // Negative before black and white: (200, 100, 0) -> (55, 155, 255) -> grey.
    FilterSettings s = DefaultSettings();
    s.NegativeImageFlag = 1;
    s.GreyFlag = 1;
    EXPECT_EQ(FilterPixel(s, {200, 100, 0}), (Rgb{136, 136, 136}));

    // Broadcast limit before negative: 255 is limited to 208, then inverted.
    s = DefaultSettings();
    s.NegativeFlag = 1;
    s.NegativeImageFlag = 1;
    EXPECT_EQ(FilterPixel(s, {255, 0, 100}), (Rgb{47, 255, 155}));

    // Colour factors before contrast before gamma.
    s = DefaultSettings();
    s.RedPercent = 50;
    s.ContrastPercent = 200;
    s.GammaPercent = 150;
    // red: 200 * 0.5 = 100; contrast (100-128)*1.25+128 = 93; gamma 93 + 93*0.5 = 139.
    EXPECT_EQ(FilterPixel(s, {200, 128, 0}).r, 139);
}

TEST(ColourStages, ColourRangeSelectionFollowsEarlierStagesOfTheRow) {
    // A blue pixel is in the default range; the negative moves it out, so the
    // black and white stage after it leaves it alone. A pixel moved into the
    // range by the negative is converted.
    FilterSettings s = DefaultSettings();
    s.FilterInclude = 4;
    s.NegativeImageFlag = 1;
    s.GreyFlag = 1;
    s.r1 = 0;
    s.g1 = 0;
    s.b1 = 0;
    s.r2 = 255;
    s.g2 = 255;
    s.b2 = 100;  // blue at most 100
    // (0, 0, 50) is in range: negated to (255, 255, 205), now out of range.
    // (0, 0, 200) is out of range for the negative, but stays out, so untouched.
    EXPECT_EQ(FilterRow(s, {{0, 0, 50}, {0, 0, 200}}),
              (std::vector<Rgb>{{255, 255, 205}, {0, 0, 200}}));
}

}  // namespace
}  // namespace lumafex::testing

namespace lumafex::testing {
namespace {

TEST(ColourStages, MatchTheirFormulasOnRandomFramesAndSettings) {
    uint32_t seed = 99;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    for (int round = 0; round < 40; ++round) {
        FilterSettings s = DefaultSettings();
        s.FilterInclude = static_cast<int32_t>(next(6));
        s.NegativeFlag = static_cast<int32_t>(next(2));
        s.NegativeImageFlag = static_cast<int32_t>(next(2));
        s.CartoonFlag = static_cast<int32_t>(next(2));
        s.GreyFlag = static_cast<int32_t>(next(2));
        s.PosterizePercent = static_cast<int32_t>(next(500)) - 50;
        s.RedPercent = static_cast<int32_t>(next(400)) - 100;
        s.GreenPercent = static_cast<int32_t>(next(300));
        s.BluePercent = static_cast<int32_t>(next(300));
        s.BrightPercent = static_cast<int32_t>(next(300));
        s.ContrastPercent = static_cast<int32_t>(next(400)) - 100;
        s.GammaPercent = static_cast<int32_t>(next(400)) - 100;
        s.r1 = static_cast<int32_t>(next(128));
        s.r2 = s.r1 + static_cast<int32_t>(next(200));
        FilterSettings working = s;
        FrameParameters p = ComputeFrameParameters(working);
        p.ColorModeOffset = next(4) == 0;
        p.ColorModeSet = next(4) == 0;

        // Rows long enough for the vector loops and their tails, in every
        // form this processor runs.
        const std::vector<InstructionSet> sets = testing::SetsOfThisProcessor();
        p.instructionSet = sets[static_cast<std::size_t>(round) % sets.size()];
        TestFrame frame(24 + 45 * (round % 3), 4);
        frame.FillPattern(static_cast<uint32_t>(round) + 7);
        TestFrame expected = frame;
        for (std::size_t i = 0; i < expected.red.size(); ++i) {
            reference::ColourStages(s, p, expected.red[i], expected.green[i], expected.blue[i],
                                  expected.alpha[i], expected.shadow[i]);
        }
        RandomGenerator random;
        RecordingOutput out(frame.width, frame.height);
        RunFinalPass(frame.View(), s, p, random, out);
        ASSERT_EQ(out.red, expected.red) << "round " << round;
        ASSERT_EQ(out.green, expected.green) << "round " << round;
        ASSERT_EQ(out.blue, expected.blue) << "round " << round;
    }
}

// The range the dialog rows give as changing the image is exactly where the
// gamma and contrast tables still change: from each end outwards, to the
// largest stored values, every table is the end's.
TEST(ColourStages, GammaAndContrastStopChangingWhereTheirRowsSay) {
    struct Case {
        int32_t FilterSettings::*member;
        const ByteTable ColourTables::*table;
    };
    for (const Case c : {Case{&FilterSettings::GammaPercent, &ColourTables::gamma},
                         Case{&FilterSettings::ContrastPercent, &ColourTables::contrast}}) {
        const auto row = std::find_if(std::begin(ui::kDialogFields), std::end(ui::kDialogFields),
                                      [&](const ui::DialogField& r) { return r.member == c.member; });
        ASSERT_NE(row, std::end(ui::kDialogFields));
        auto table = [&](int32_t value) {
            FilterSettings s = DefaultSettings();
            s.*c.member = value;
            static ColourTables t;
            PrepareColourTables(ComputeFrameParameters(s), t);
            return std::vector<uint8_t>(std::begin(t.*c.table), std::end(t.*c.table));
        };
        for (const auto& [end, inside, outwards] :
             {std::tuple{row->effectMax, row->effectMax - 1, std::numeric_limits<int32_t>::max()},
              std::tuple{row->effectMin, row->effectMin + 1, std::numeric_limits<int32_t>::min()}}) {
            const std::vector<uint8_t> atEnd = table(end);
            EXPECT_NE(table(inside), atEnd) << row->name << " " << inside;
            const int32_t step = outwards > end ? 1 : -1;
            for (int32_t v : {end + step, end + 2 * step, end + 1000 * step, outwards})
                EXPECT_EQ(table(v), atEnd) << row->name << " " << v;
        }
    }
}

}  // namespace
}  // namespace lumafex::testing

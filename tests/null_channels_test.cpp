#include "pipeline/null_channels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "host/frame_adapter.h"
#include "host/scene_items.h"
#include "pipeline/filter_chain.h"
#include "pipeline/frame/random_generator.h"
#include "pipeline/frame/frame_parameters.h"
#include "settings/filter_settings.h"
#include "support/fake_host.h"

namespace lumafex {
namespace {

using testing::FakeHost;
using testing::FakeItem;

constexpr int32_t kObject = 0;

class NullChannels : public ::testing::Test {
protected:
    void SetUp() override {
        ResetToDefaults(settings);
        params = ComputeFrameParameters(settings);
    }

    void AddObject(const std::string& name, double v) { AddObject(name, 0.0, 0.0, v); }
    void AddObject(const std::string& name, double x, double y, double z) {
        host.items.push_back(FakeItem{kObject, name, {x, y, z}, false});
    }
    // One frame's channel reading, starting from the derived values.
    void Read(double time = 0.0) {
        settings.Passes = 1;
        params = ComputeFrameParameters(settings);
        for (int i = 0; i < 3; ++i) params.CameraPosition[i] = camera[i];
        ApplyNullChannels(HostSceneObjects(&host.Items()), time, settings, params);
    }
    // A fresh scene for the next frame: only the camera stays.
    void ClearObjects() { host.items.resize(1); }

    FakeHost host;  // holds the camera as its first item
    FilterSettings settings{};
    FrameParameters params;
    double camera[3] = {0.0, 0.0, 0.0};
};

bool SameRecord(const FilterSettings& a, const FilterSettings& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(NullChannels, BlurSwitchesOnAndOffInTheRecord) {
    AddObject("3Blur%", 40.0);
    Read();
    EXPECT_EQ(settings.BlurFlag, 1);
    EXPECT_EQ(params.BlurAmount, 2.0f);

    host.items.back().position[2] = -1.0;  // moved in a later frame
    Read();
    EXPECT_EQ(settings.BlurFlag, 0);
    EXPECT_EQ(params.BlurAmount, 5.0f);  // the derived strength stays
}

TEST_F(NullChannels, SofterNeedsAtLeastOne) {
    AddObject("3Softer", 1.0);
    Read();
    EXPECT_EQ(settings.SofterBlurFlag, 1);
    settings.SofterBlurFlag = 2;
    host.items.back().position[2] = 0.99;
    Read();
    EXPECT_EQ(settings.SofterBlurFlag, 0);
}

TEST_F(NullChannels, FlipFrameDirectionByValue) {
    AddObject("3FlipFrame", 1.0);
    Read();
    EXPECT_EQ(settings.FlipFrameFlag, 1);
    host.items.back().position[2] = 1.5;
    Read();
    EXPECT_EQ(settings.FlipFrameFlag, 2);
    host.items.back().position[2] = 0.0;
    Read();
    EXPECT_EQ(settings.FlipFrameFlag, 0);
}

TEST_F(NullChannels, FiltersShouldAffectRanges) {
    struct Case {
        double v;
        int32_t include;
        int32_t side;
    };
    AddObject("3FiltersShouldAffect", 0.0);
    for (const Case& c : std::vector<Case>{{-3.0, 3, 0}, {0.0, 3, 0}, {0.5, 1, 0}, {1.0, 1, 0},
                                           {1.5, 0, 0}, {2.0, 0, 0}, {2.5, 2, 0}, {3.0, 2, 0},
                                           {3.5, 4, 0}, {4.0, 4, 0}, {4.5, 3, 1}, {5.0, 3, 1},
                                           {5.5, 3, 2}, {1e9, 3, 2}}) {
        settings.FilterInclude = 99;
        host.items.back().position[2] = c.v;
        Read();
        EXPECT_EQ(settings.FilterInclude, c.include) << c.v;
        EXPECT_EQ(params.DOFBlurSide, c.side) << c.v;
    }
}

TEST_F(NullChannels, PosterizeLimitsTheSingleValue) {
    struct Case {
        double v;
        float step;
        int32_t cartoon;
    };
    // 2 + 2^-29 halves to 1 + 2^-30, which is above 1 in double but rounds
    // to exactly 1 in single precision: the switch follows the stored step.
    const double justAboveTwo = 2.0 + std::ldexp(1.0, -29);
    AddObject("3Posterize%", 0.0);
    for (const Case& c : std::vector<Case>{{2.0, 1.0f, 0},
                                           {1000.0, 200.0f, 1},
                                           {3.0, 1.5f, 1},
                                           {400.0, 200.0f, 1},
                                           {-10.0, 1.0f, 0},
                                           {justAboveTwo, 1.0f, 0}}) {
        settings.CartoonFlag = 7;
        host.items.back().position[2] = c.v;
        Read();
        EXPECT_EQ(params.PosterizeStep, c.step) << c.v;
        EXPECT_EQ(settings.CartoonFlag, c.cartoon) << c.v;
    }
}

TEST_F(NullChannels, NamesMatchWholeAndWithCase) {
    for (const char* name : {"3red%", "3Red", "3Red%%", "3Red% ", " 3Red%", "Red%", ""}) {
        AddObject(name, 50.0);
    }
    const FilterSettings before = settings;
    Read();
    EXPECT_EQ(params.RedScale, 1.0f);
    EXPECT_TRUE(SameRecord(settings, before));
}

TEST_F(NullChannels, OnlyObjectsAreRead) {
    host.items.push_back(FakeItem{1, "3Red%", {0.0, 0.0, 50.0}, false});
    host.items[0].name = "3Green%";  // the camera
    Read();
    EXPECT_EQ(params.RedScale, 1.0f);
    EXPECT_EQ(params.GreenScale, 1.0f);
}

TEST_F(NullChannels, NamelessObjectIsSkipped) {
    AddObject("3Red%", 50.0);
    host.items.back().nameUnavailable = true;
    AddObject("3Green%", 30.0);
    Read();
    EXPECT_EQ(params.RedScale, 1.0f);
    EXPECT_EQ(params.GreenScale, static_cast<float>(30.0 * 0.01));
}

TEST_F(NullChannels, ObjectsApplyInHostOrderAndTheLastWins) {
    AddObject("3Red%", 50.0);
    AddObject("3Red%", 20.0);
    Read();
    EXPECT_EQ(params.RedScale, static_cast<float>(20.0 * 0.01));
}

TEST_F(NullChannels, VectorsAreReadAtTheFrameTime) {
    AddObject("3Red%", 50.0);
    AddObject("Unrelated", 1.0);
    AddObject("3Blue%", 50.0);
    Read(2.5);
    EXPECT_EQ(host.vectorTimes, (std::vector<double>{2.5, 2.5}));  // matching names only
}

// Every channel reaches its own target: a misspelt name or a rule wired to
// the wrong value shows up here.
TEST_F(NullChannels, EveryChannelReachesItsTarget) {
    using Check = std::function<bool(const FilterSettings&, const FrameParameters&)>;
    struct Case {
        const char* name;
        double v;
        Check check;
    };
    const auto f = [](double x) { return static_cast<float>(x); };
    const std::vector<Case> cases = {
        {"3Red%", 50, [&](auto&, auto& p) { return p.RedScale == f(50 * 0.01); }},
        {"3Green%", 60, [&](auto&, auto& p) { return p.GreenScale == f(60 * 0.01); }},
        {"3Blue%", 70, [&](auto&, auto& p) { return p.BlueScale == f(70 * 0.01); }},
        {"3ColorMode", 0.5,
         [](auto&, auto& p) { return p.ColorModeOffset == 1 && p.ColorModeSet == 0; }},
        {"3ColorMode", 1.0,
         [](auto&, auto& p) { return p.ColorModeOffset == 1 && p.ColorModeSet == 0; }},
        {"3ColorMode", 1.5,
         [](auto&, auto& p) { return p.ColorModeOffset == 0 && p.ColorModeSet == 1; }},
        {"3Bright%", 80, [&](auto&, auto& p) { return p.BrightScale == f(80 * 0.01); }},
        {"3Gamma%", 100, [](auto&, auto& p) { return p.GammaOffset == 0.0f; }},
        {"3Gamma%", 150, [](auto&, auto& p) { return p.GammaOffset == 0.5f; }},
        {"3Contrast%", 100, [](auto&, auto& p) { return p.ContrastFactor == 1.0f; }},
        {"3Contrast%", 37, [&](auto&, auto& p) {
             return p.ContrastFactor == f(37 * 0.0025 + 0.75);
         }},
        {"3DOFBlur%", 30,
         [](auto& s, auto& p) { return s.DOFBlurFlag == 1 && p.DOFBlurAmount == 1.5f; }},
        {"3DOFBlur%", 0, [](auto& s, auto& p) {
             return s.DOFBlurFlag == 0 && p.DOFBlurAmount == 5.0f;
         }},
        {"3MaxDOFBlur%", 200, [](auto&, auto& p) { return p.MaxDOFBlur == 10.0f; }},
        {"3MaxDOFBlur%", -1, [](auto&, auto& p) { return p.MaxDOFBlur == 7.0f; }},
        {"3DOFSeperator", 0.25, [](auto&, auto& p) { return p.DOFSeperator == 0.25f; }},
        {"3Enhance%", 150,
         [](auto& s, auto& p) { return s.SharpenFlag == 1 && p.EnhanceAmount == 1.5f; }},
        {"3Enhance%", -2, [](auto& s, auto& p) {
             return s.SharpenFlag == 0 && p.EnhanceAmount == 1.0f;
         }},
        {"3Antialias%", 91.4, [&](auto&, auto& p) {
             return p.AntialiasAmount == f(91.4 * static_cast<double>(kAntialiasUnit));
         }},
        {"3AntialiasT", 50, [](auto& s, auto& p) {
             return s.SmoothFlag == 1 && p.AntialiasThreshold == 150.0f;
         }},
        // 0 or less switches antialias off and keeps the derived threshold.
        {"3AntialiasT", -5, [](auto& s, auto& p) {
             return s.SmoothFlag == 0 && p.AntialiasThreshold == 100.0f;
         }},
        {"3AntialiasPasses", 3.7, [](auto& s, auto&) { return s.Passes == 3; }},
        {"3AntialiasPasses", 1.0, [](auto& s, auto&) { return s.Passes == 1; }},
        // No more passes than the dialog allows, however far the object is.
        {"3AntialiasPasses", 4.9, [](auto& s, auto&) { return s.Passes == 4; }},
        {"3AntialiasPasses", 5.0, [](auto& s, auto&) { return s.Passes == 4; }},
        {"3AntialiasPasses", 1e9, [](auto& s, auto&) { return s.Passes == 4; }},
        {"3AntialiasPasses", 1e12, [](auto& s, auto&) { return s.Passes == 4; }},
        {"3Noise%", 0.123456789, [&](auto& s, auto& p) {
             return s.NoiseFlag == 1 && p.NoiseAmount == f(0.123456789 * 100.0);
         }},
        {"3Noise%", 0, [](auto& s, auto& p) {
             return s.NoiseFlag == 0 && p.NoiseAmount == 10000.0f;
         }},
        {"3ChromaNoise", -0.1, [](auto&, auto& p) { return p.ChromaNoise == 1; }},
        {"3ChromaNoise", 0, [](auto&, auto& p) { return p.ChromaNoise == 0; }},
        {"3NoiseRed%", 20, [&](auto&, auto& p) { return p.NoiseRed == f(20 * 0.01); }},
        {"3NoiseGreen%", 30, [&](auto&, auto& p) { return p.NoiseGreen == f(30 * 0.01); }},
        {"3NoiseBlue%", 40, [&](auto&, auto& p) { return p.NoiseBlue == f(40 * 0.01); }},
        {"3NTSCLimit", 0.1, [](auto& s, auto&) { return s.NegativeFlag == 1; }},
        {"3BlackandWhite", 2, [](auto& s, auto&) { return s.GreyFlag == 1; }},
        {"3Negative", 3, [](auto& s, auto&) { return s.NegativeImageFlag == 1; }},
        // Colour bounds are truncated and not limited to a byte.
        {"3LowRed", 300.9, [](auto& s, auto&) { return s.r1 == 300; }},
        {"3LowGreen", -0.5, [](auto& s, auto&) { return s.g1 == 0; }},
        {"3LowBlue", -12.7, [](auto& s, auto&) { return s.b1 == -12; }},
        {"3HighRed", 1e20,
         [](auto& s, auto&) { return s.r2 == std::numeric_limits<int32_t>::max(); }},
        {"3HighGreen", -1e20,
         [](auto& s, auto&) { return s.g2 == std::numeric_limits<int32_t>::min(); }},
        {"3HighBlue", std::nan(""), [](auto& s, auto&) { return s.b2 == 0; }},
    };
    for (const Case& c : cases) {
        ResetToDefaults(settings);
        // The switches start on so that a channel switching off is seen.
        settings.NegativeFlag = settings.GreyFlag = settings.NegativeImageFlag = 0;
        settings.DOFBlurFlag = settings.SharpenFlag = settings.SmoothFlag = 1;
        settings.NoiseFlag = 1;
        ClearObjects();
        AddObject(c.name, c.v);
        Read();
        EXPECT_TRUE(c.check(settings, params)) << c.name << " at " << c.v;
    }
}

TEST_F(NullChannels, NonNumbersAndHugeValuesStayDefined) {
    // Positions no sensible scene has; the rules must stay free of undefined
    // conversions whatever they store.
    for (double v : {std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity(), std::nan(""), 1e300, -1e300}) {
        ClearObjects();
        ResetToDefaults(settings);
        for (const char* name : {"3Red%", "3Blur%", "3AntialiasPasses", "3Posterize%",
                                 "3FiltersShouldAffect", "3LowRed", "3FocalPoint",
                                 "3FocalRange", "3Antialias%"}) {
            AddObject(name, v, v, v);
        }
        Read();
        EXPECT_GE(settings.Passes, 1) << v;
        EXPECT_LE(settings.Passes, kMaxPasses) << v;
        EXPECT_TRUE(settings.FilterInclude >= 0 && settings.FilterInclude <= 4) << v;
    }
}

TEST_F(NullChannels, FocalPointMeasuresFromTheCamera) {
    camera[0] = 1.0;
    camera[1] = 2.0;
    camera[2] = 3.0;
    AddObject("3FocalPoint", 4.0, 6.0, 3.0);
    Read();
    EXPECT_EQ(params.FocalDistance, 5.0);
    EXPECT_EQ(params.FocalNear, 5.0f);
    EXPECT_EQ(params.FocalFar, 5.0f);
}

TEST_F(NullChannels, FocalRangeMeasuresFromTheFocalPoint) {
    AddObject("3FocalPoint", 0.0, 3.0, 4.0);   // 5 from the camera at the origin
    AddObject("3FocalRange", 0.0, 3.0, 6.0);   // 2 from the focal point
    Read();
    EXPECT_EQ(params.FocalDistance, 5.0);
    EXPECT_EQ(params.FocalNear, 3.0f);
    EXPECT_EQ(params.FocalFar, 7.0f);
}

TEST_F(NullChannels, FocalPointAtTheOriginOnlyMovesTheRangeCentre) {
    settings.DOFBlurFocalPoint = 250;
    AddObject("3FocalPoint", 0.0, 0.0, 0.0);
    Read();
    EXPECT_EQ(params.FocalDistance, 250.0);
    EXPECT_EQ(params.FocalNear, 250.0f);
    EXPECT_EQ(params.FocalFar, 250.0f);

    AddObject("3FocalRange", 0.0, 0.0, 2.0);  // 2 from the origin, 1 from (0, 0, 1)
    Read();
    EXPECT_EQ(params.FocalNear, 248.0f);
    EXPECT_EQ(params.FocalFar, 252.0f);
}

TEST_F(NullChannels, FocalRangeBeforeTheFocalPointUsesTheFrameStart) {
    settings.DOFBlurFocalPoint = 250;
    AddObject("3FocalRange", 0.0, 0.0, 4.0);  // 3 from (0, 0, 1)
    Read();
    EXPECT_EQ(params.FocalNear, 247.0f);
    EXPECT_EQ(params.FocalFar, 253.0f);

    // A later focal point sets both ends to its distance again.
    AddObject("3FocalPoint", 0.0, 30.0, 40.0);
    Read();
    EXPECT_EQ(params.FocalNear, 50.0f);
    EXPECT_EQ(params.FocalFar, 50.0f);
}

TEST_F(NullChannels, FocalPositionStartsAfreshEveryFrame) {
    AddObject("3FocalPoint", 0.0, 0.0, 10.0);
    AddObject("3FocalRange", 0.0, 0.0, 13.0);
    Read();
    EXPECT_EQ(params.FocalNear, 7.0f);
    host.items.erase(host.items.begin() + 1);  // the focal point is gone
    Read();
    // Measured from (0, 0, 1) and the settings' focal distance of 100.
    EXPECT_EQ(params.FocalNear, 88.0f);
    EXPECT_EQ(params.FocalFar, 112.0f);
}

TEST_F(NullChannels, AntialiasDividesByThePassesSetBeforeIt) {
    const float perPass = static_cast<float>(100.0 * static_cast<double>(kAntialiasUnit) / 4.0);
    const float single = static_cast<float>(100.0 * static_cast<double>(kAntialiasUnit));
    AddObject("3AntialiasPasses", 4.0);
    AddObject("3Antialias%", 100.0);
    Read();
    EXPECT_EQ(settings.Passes, 4);
    EXPECT_EQ(params.AntialiasAmount, perPass);

    ClearObjects();
    AddObject("3Antialias%", 100.0);
    AddObject("3AntialiasPasses", 4.0);
    Read();
    EXPECT_EQ(settings.Passes, 4);
    EXPECT_EQ(params.AntialiasAmount, single);
}

TEST_F(NullChannels, RecordFieldsStayWrittenAndPercentagesAreNot) {
    AddObject("3Blur%", 40.0);
    AddObject("3Red%", 10.0);
    AddObject("3HighRed", 300.0);
    Read();
    ClearObjects();
    Read();
    EXPECT_EQ(settings.BlurFlag, 1);
    EXPECT_EQ(settings.r2, 300);
    EXPECT_EQ(settings.BlurPercent, 100);
    EXPECT_EQ(settings.RedPercent, 100);
    EXPECT_EQ(params.RedScale, 1.0f);  // working values last one frame
}

// The driver with the channels: Passes and the "Use Nulls" switch.
class NullChannelsInTheDriver : public ::testing::Test {
protected:
    void SetUp() override {
        ResetToDefaults(settings);
        host.SetFrameSize(16, 4);
        for (std::size_t i = 0; i < host.red.size(); ++i) {
            host.red[i] = static_cast<uint8_t>(i * 11 + 3);
            host.green[i] = static_cast<uint8_t>(i * 5 + 40);
            host.blue[i] = static_cast<uint8_t>(i * 17);
            host.alpha[i] = 255;
        }
    }
    std::vector<uint8_t> Frame(int32_t useNulls) {
        const std::vector<uint8_t> red = host.red, green = host.green, blue = host.blue;
        const FrameAccess frame = host.Frame(1.0);
        RandomGenerator random;
        EXPECT_EQ(ProcessFrame(frame, host.Lookup(), useNulls, settings, globals, random),
                  FrameOutcome::Processed);
        // The passes work in place: restore the rendered frame for the next.
        host.red = red;
        host.green = green;
        host.blue = blue;
        std::vector<uint8_t> out = host.outRed;
        out.insert(out.end(), host.outGreen.begin(), host.outGreen.end());
        out.insert(out.end(), host.outBlue.begin(), host.outBlue.end());
        host.output.clear();
        return out;
    }

    FakeHost host;
    FilterSettings settings{};
    HostGlobals globals;
};

TEST_F(NullChannelsInTheDriver, StoredPassesLastsUntilTheNextFrame) {
    settings.Passes = 3;
    Frame(kUseNullsAtLoad);
    EXPECT_EQ(settings.Passes, 1);

    host.items.push_back(FakeItem{kObject, "3AntialiasPasses", {0.0, 0.0, 3.0}, false});
    Frame(kUseNullsAtLoad);
    EXPECT_EQ(settings.Passes, 3);

    host.items.pop_back();
    Frame(kUseNullsAtLoad);
    EXPECT_EQ(settings.Passes, 1);
}

TEST_F(NullChannelsInTheDriver, WithoutObjectsTheDerivedValuesAloneApply) {
    settings.RedPercent = 60;
    settings.GammaPercent = 130;
    settings.CartoonFlag = 1;
    settings.PosterizePercent = 40;
    settings.FlipFrameFlag = 1;
    const std::vector<uint8_t> off = Frame(0);
    const FilterSettings afterOff = settings;
    const std::vector<uint8_t> on = Frame(kUseNullsAtLoad);
    EXPECT_EQ(on, off);
    EXPECT_TRUE(SameRecord(settings, afterOff));
}

TEST_F(NullChannelsInTheDriver, ChannelsApplyOnlyWithUseNulls) {
    const std::vector<uint8_t> plain = Frame(0);
    host.items.push_back(FakeItem{kObject, "3Red%", {0.0, 0.0, 50.0}, false});
    host.items.push_back(FakeItem{kObject, "3Negative", {0.0, 0.0, 1.0}, false});
    EXPECT_EQ(Frame(0), plain);
    EXPECT_EQ(settings.NegativeImageFlag, 0);
    EXPECT_NE(Frame(kUseNullsAtLoad), plain);
    EXPECT_EQ(settings.NegativeImageFlag, 1);
}

}  // namespace
}  // namespace lumafex

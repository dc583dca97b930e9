#include <gtest/gtest.h>

#include <set>
#include <string>

#include "host/handler.h"
#include "host/servers.h"
#include "host/frame_adapter.h"
#include "host/scene_items.h"
#include "pipeline/filter_chain.h"
#include "support/fake_host.h"

namespace lumafex {
namespace {

using testing::FakeHost;
using testing::MessageCapture;

class Driver : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(HandlerActivate(1, host.Lookup(), &table, nullptr), host::kActivateOk);
        instance = table.create(nullptr);
        settings = static_cast<FilterSettings*>(instance);
        TheModule().UseNulls = 0;
    }
    void TearDown() override {
        table.destroy(instance);
        TheModule().UseNulls = kUseNullsAtLoad;
    }

    void FillFrame(int32_t w, int32_t h) {
        host.SetFrameSize(w, h);
        for (std::size_t i = 0; i < host.red.size(); ++i) {
            host.red[i] = static_cast<uint8_t>(i * 7);
            host.green[i] = static_cast<uint8_t>(i * 13 + 5);
            host.blue[i] = static_cast<uint8_t>(i * 3 + 1);
            host.alpha[i] = static_cast<uint8_t>(i % 3 == 0 ? 0 : 255);
        }
    }
    void Process(double time = 0.0) {
        const FrameAccess frame = host.Frame(time);
        table.process(instance, &frame);
    }

    FakeHost host;
    HandlerTable table{};
    void* instance = nullptr;
    FilterSettings* settings = nullptr;
};

TEST_F(Driver, RefusesWidthsThatAreNotAMultipleOf8) {
    MessageCapture messages;
    FillFrame(642, 3);
    Process();
    Process();
    EXPECT_TRUE(host.output.empty());
    ASSERT_EQ(messages.messages.size(), 2u);  // once for every such frame
    EXPECT_EQ(messages.messages[0].text, "Image width must be a multiple of 8");
    EXPECT_EQ(messages.messages[0].caption, "Odd Sized Frame");
}

TEST_F(Driver, DefaultSettingsGiveEveryPixelBackOnce) {
    MessageCapture messages;
    FillFrame(640, 4);
    Process();
    EXPECT_TRUE(messages.messages.empty());
    ASSERT_EQ(host.output.size(), 2u * 640 * 4);
    EXPECT_EQ(host.outRed, host.red);
    EXPECT_EQ(host.outGreen, host.green);
    EXPECT_EQ(host.outBlue, host.blue);
    EXPECT_EQ(host.outAlpha, host.alpha);
    // Row by row from the top, colour then alpha for each pixel.
    EXPECT_EQ(host.output[0].y, 0);
    EXPECT_FALSE(host.output[0].alpha);
    EXPECT_TRUE(host.output[1].alpha);
    EXPECT_EQ(host.output.back().y, 3);
    EXPECT_EQ(host.output.back().x, 639);
}

TEST_F(Driver, MissingGlobalsWriteNothing) {
    FillFrame(8, 2);
    for (int missing = 0; missing < 3; ++missing) {
        host.provideSceneInfo = missing != 0;
        host.provideItemInfo = missing != 1;
        host.provideObjectInfo = missing != 2;
        Process();
        EXPECT_TRUE(host.output.empty()) << missing;
    }
    FilterSettings s{};
    ResetToDefaults(s);
    HostGlobals globals;
    RandomGenerator random;
    const FrameAccess frame = host.Frame();
    EXPECT_EQ(ProcessFrame(frame, nullptr, 0, s, globals, random), FrameOutcome::GlobalMissing);
}

TEST_F(Driver, KeepsTheFrameTimeAndReadsTheCameraAtIt) {
    FillFrame(8, 1);
    host.items[0].position[0] = 3.0;
    Process(2.5);
    EXPECT_EQ(TheModule().globals.FrameEndTime, 2.5);
    ASSERT_FALSE(host.vectorTimes.empty());
    EXPECT_EQ(host.vectorTimes[0], 2.5);
    // The three globals are looked up for every frame.
    const std::set<std::string> names(host.lookups.begin(), host.lookups.end());
    EXPECT_TRUE(names.count("LW Scene Info") && names.count("LW Item Info") &&
                names.count("LW Object Info"));
}

TEST_F(Driver, ASceneWithoutACameraIsProcessed) {
    host.items.clear();
    FillFrame(8, 2);
    Process();
    EXPECT_EQ(host.output.size(), 2u * 16);
}

TEST_F(Driver, StoredPassesIsBackToOneAfterAFrame) {
    settings->Passes = 3;
    FillFrame(8, 1);
    Process();
    EXPECT_EQ(settings->Passes, 1);
}

TEST_F(Driver, ColourFiltersReachTheOutput) {
    settings->NegativeImageFlag = 1;
    settings->FilterInclude = 0;  // objects only
    FillFrame(16, 2);
    const std::vector<uint8_t> red = host.red;
    Process();
    for (std::size_t i = 0; i < red.size(); ++i) {
        const bool object = host.alpha[i] != 0;
        EXPECT_EQ(host.outRed[i], object ? 255 - red[i] : red[i]);
        EXPECT_EQ(host.red[i], host.outRed[i]);  // filtered in place
    }
}

TEST_F(Driver, AHostWithoutShadowsHasNoShadowedPixels) {
    host.provideShadow = false;
    settings->NegativeImageFlag = 1;
    settings->FilterInclude = 2;  // shadows only
    FillFrame(8, 2);
    Process();
    EXPECT_EQ(host.outRed, host.red);
    EXPECT_EQ(host.output.size(), 2u * 16);
}

// Which optional passes run for the given switches, by name.
std::set<std::string> PassesFor(const FilterSettings& s) {
    std::set<std::string> names;
    for (const OptionalPass& pass : OptionalPasses()) {
        if (pass.runs(s)) names.insert(pass.name);
    }
    return names;
}

TEST(DriverPasses, OneFamilyRunsAtATime) {
    FilterSettings s{};
    ResetToDefaults(s);
    EXPECT_TRUE(PassesFor(s).empty());
    s.BlurFlag = 1;
    s.DOFBlurFlag = 1;
    EXPECT_EQ(PassesFor(s), (std::set<std::string>{"blur", "depth-of-field blur"}));
    s.SofterBlurFlag = 1;
    EXPECT_EQ(PassesFor(s), (std::set<std::string>{"softer blur", "softer depth-of-field blur"}));
    s.SofterBlurFlag = 2;
    s.SofterExtraFlag = 1;  // the latch skips the softer blur over the frame
    EXPECT_EQ(PassesFor(s), (std::set<std::string>{"softer depth-of-field blur"}));
    s.SofterBlurFlag = 0;
    s.BlurFlag = 0;
    EXPECT_EQ(PassesFor(s), (std::set<std::string>{"depth-of-field blur"}));
}

TEST(DriverPasses, BlurComesBeforeDepthOfFieldInBothFamilies) {
    const auto& passes = OptionalPasses();
    EXPECT_STREQ(passes[0].name, "blur");
    EXPECT_STREQ(passes[1].name, "depth-of-field blur");
    EXPECT_STREQ(passes[2].name, "softer blur");
    EXPECT_STREQ(passes[3].name, "softer depth-of-field blur");
}

}  // namespace
}  // namespace lumafex

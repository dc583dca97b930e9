// The blur passes as the frame pipeline runs them: which family runs, and
// what a host without a depth buffer gets.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/handler.h"
#include "host/servers.h"
#include "pipeline/filter_chain.h"
#include "pipeline/final/final_pass.h"
#include "pipeline/passes/blur.h"
#include "pipeline/passes/dof_blur.h"
#include "pipeline/passes/softer_blur.h"
#include "pipeline/passes/softer_dof_blur.h"
#include "support/fake_host.h"
#include "support/test_frame.h"

namespace lumafex {
namespace {

using testing::RecordingOutput;
using testing::TestFrame;

struct Depth {
    int32_t width;
    std::vector<float> values;
    static const float* Row(const void* context, int32_t y) {
        const auto* d = static_cast<const Depth*>(context);
        return d->values.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(d->width);
    }
};

// A frame with depths on both sides of the focal point 100.
TestFrame PatternFrame(Depth& depth) {
    TestFrame frame(24, 16);
    frame.FillPattern(17);
    depth.width = frame.width;
    depth.values.resize(frame.red.size());
    for (std::size_t i = 0; i < depth.values.size(); ++i) {
        depth.values[i] = 98.0f + static_cast<float>(i % 7) * 0.6f;
    }
    return frame;
}

FrameView WithDepth(TestFrame& frame, const Depth& depth) {
    FrameView v = frame.View();
    v.depthRow = Depth::Row;
    v.depthContext = &depth;
    return v;
}

// What the final pass writes after the given pass alone.
RecordingOutput AfterOnly(bool (*pass)(const FrameView&, const FilterSettings&,
                                       const FrameParameters&),
                          const FilterSettings& s, const FrameParameters& p) {
    Depth depth{};
    TestFrame frame = PatternFrame(depth);
    const FrameView view = WithDepth(frame, depth);
    if (pass != nullptr) pass(view, s, p);
    RandomGenerator random;
    RecordingOutput out(frame.width, frame.height);
    RunFinalPass(view, s, p, random, out);
    return out;
}

TEST(BlurGatesTest, SofterWithItsLatchRunsOnlyTheSofterDepthOfFieldPass) {
    FilterSettings s{};
    ResetToDefaults(s);
    s.BlurFlag = 1;
    s.DOFBlurFlag = 1;
    s.SofterBlurFlag = 2;
    s.SofterExtraFlag = 1;
    const FrameParameters p = ComputeFrameParameters(s);

    Depth depth{};
    TestFrame frame = PatternFrame(depth);
    RandomGenerator random;
    RecordingOutput out(frame.width, frame.height);
    ASSERT_TRUE(RunPasses(WithDepth(frame, depth), s, p, random, out));

    const RecordingOutput expected = AfterOnly(SofterDepthOfFieldBlurPass, s, p);
    EXPECT_EQ(out.red, expected.red);
    EXPECT_EQ(out.green, expected.green);
    EXPECT_EQ(out.blue, expected.blue);
    // Each of the other passes would have changed the result.
    for (auto other : {BlurPass, SofterBlurPass, DepthOfFieldBlurPass}) {
        EXPECT_NE(AfterOnly(other, s, p).red, out.red);
    }
}

TEST(BlurGatesTest, PlainFamilyRunsBlurThenDepthOfField) {
    FilterSettings s{};
    ResetToDefaults(s);
    s.BlurFlag = 1;
    s.DOFBlurFlag = 1;
    const FrameParameters p = ComputeFrameParameters(s);

    Depth depth{};
    TestFrame frame = PatternFrame(depth);
    RandomGenerator random;
    RecordingOutput out(frame.width, frame.height);
    ASSERT_TRUE(RunPasses(WithDepth(frame, depth), s, p, random, out));

    Depth depth2{};
    TestFrame expected = PatternFrame(depth2);
    const FrameView view = WithDepth(expected, depth2);
    ASSERT_TRUE(BlurPass(view, s, p));
    ASSERT_TRUE(DepthOfFieldBlurPass(view, s, p));
    RandomGenerator random2;
    RecordingOutput out2(expected.width, expected.height);
    RunFinalPass(view, s, p, random2, out2);
    EXPECT_EQ(out.red, out2.red);
    EXPECT_EQ(out.blue, out2.blue);
}

// Through the module's process slot: a host that gives no depth rows gets
// the depth-of-field passes left out, every pixel back as rendered.
TEST(BlurGatesTest, HostWithoutDepthGetsTheFrameBackUnchanged) {
    testing::FakeHost host;
    HandlerTable table{};
    ASSERT_EQ(HandlerActivate(1, host.Lookup(), &table, nullptr), host::kActivateOk);
    void* instance = table.create(nullptr);
    auto* settings = static_cast<FilterSettings*>(instance);
    const int32_t savedUseNulls = TheModule().UseNulls;
    TheModule().UseNulls = 0;
    for (int32_t softer : {0, 1}) {
        settings->DOFBlurFlag = 1;
        settings->SofterBlurFlag = softer;
        host.SetFrameSize(16, 6);
        for (std::size_t i = 0; i < host.red.size(); ++i) {
            host.red[i] = static_cast<uint8_t>(i * 7);
            host.green[i] = static_cast<uint8_t>(i * 13 + 5);
            host.blue[i] = static_cast<uint8_t>(i * 3 + 1);
            host.depth[i] = 150.0f + static_cast<float>(i);  // far out of focus
        }
        host.provideDepth = false;
        const std::vector<uint8_t> red = host.red;
        const FrameAccess frame = host.Frame(0.0);
        table.process(instance, &frame);
        EXPECT_EQ(host.outRed, red) << "softer " << softer;
        EXPECT_EQ(host.red, red);

        // With depth the same frame is blurred.
        host.provideDepth = true;
        host.output.clear();
        const FrameAccess withDepth = host.Frame(0.0);
        table.process(instance, &withDepth);
        EXPECT_NE(host.outRed, red) << "softer " << softer;
    }
    table.destroy(instance);
    TheModule().UseNulls = savedUseNulls;
}

}  // namespace
}  // namespace lumafex

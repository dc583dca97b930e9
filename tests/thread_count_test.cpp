// The frame's bytes do not depend on how many threads share the work:
// random frames, random settings, frame sizes that do not split evenly into
// strips (heights 1 to 5 among them), every pass through the filter chain.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include "pipeline/filter_chain.h"
#include "pipeline/frame/thread_pool.h"
#include "support/test_frame.h"

namespace lumafex {
namespace {

using testing::RecordingOutput;
using testing::TestFrame;

struct Scene {
    TestFrame frame;
    std::vector<float> depth;
    FilterSettings settings{};
    FrameParameters params{};

    static const float* DepthRow(const void* context, int32_t y) {
        const auto* s = static_cast<const Scene*>(context);
        return s->depth.data() + static_cast<std::size_t>(y) * s->frame.width;
    }
};

struct Draw {
    uint32_t state;
    uint32_t Next(uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    }
};

Scene RandomScene(uint32_t seed, int32_t width, int32_t height) {
    Draw d{seed};
    Scene sc{TestFrame(width, height), {}, {}, {}};
    sc.frame.FillPattern(seed);
    sc.depth.resize(sc.frame.red.size());
    for (float& v : sc.depth) v = 90.0f + static_cast<float>(d.Next(400)) * 0.05f;
    FilterSettings& s = sc.settings;
    ResetToDefaults(s);
    s.FilterInclude = static_cast<int32_t>(d.Next(5));
    s.BlurFlag = static_cast<int32_t>(d.Next(2));
    s.DOFBlurFlag = static_cast<int32_t>(d.Next(2));
    s.SofterBlurFlag = static_cast<int32_t>(d.Next(3));
    s.BlurPercent = static_cast<int32_t>(d.Next(300));
    s.DOFBlurPercent = static_cast<int32_t>(d.Next(300));
    s.DOFBlurFocalPoint = 95 + static_cast<int32_t>(d.Next(10));
    s.SharpenFlag = static_cast<int32_t>(d.Next(2));
    s.SmoothFlag = static_cast<int32_t>(d.Next(2));
    s.NoiseFlag = static_cast<int32_t>(d.Next(2));
    s.GreyFlag = static_cast<int32_t>(d.Next(2));
    s.FlipFrameFlag = static_cast<int32_t>(d.Next(3));
    s.ContrastPercent = 50 + static_cast<int32_t>(d.Next(150));
    s.r1 = s.g1 = s.b1 = 40;
    s.r2 = s.g2 = s.b2 = 220;
    sc.params = ComputeFrameParameters(s);
    // Sometimes a radius taller than the frame, as a null channel may set.
    if (d.Next(4) == 0) sc.params.BlurAmount = static_cast<float>(height + d.Next(40));
    return sc;
}

RecordingOutput Render(uint32_t seed, int32_t width, int32_t height, int32_t threads) {
    Scene sc = RandomScene(seed, width, height);
    FrameView view = sc.frame.View();
    view.depthRow = Scene::DepthRow;
    view.depthContext = &sc;
    SetThreadCount(threads);
    RandomGenerator random;
    RecordingOutput out(width, height);
    EXPECT_TRUE(RunPasses(view, sc.settings, sc.params, random, out));
    return out;
}

TEST(ThreadCountTest, SameBytesForAnyNumberOfThreads) {
    // Strips are about 64K pixels: the wider frames split into several
    // strips, the last one short.
    const int32_t sizes[][2] = {{8, 1},  {16, 2},  {24, 3},     {8, 4},
                                {40, 5}, {64, 7},  {8, 131},    {2048, 37}};
    uint32_t seed = 1;
    for (const auto& size : sizes) {
        for (int repeat = 0; repeat < 2; ++repeat, ++seed) {
            const RecordingOutput one = Render(seed, size[0], size[1], 1);
            for (int32_t threads : {2, 3, 8}) {
                const RecordingOutput many = Render(seed, size[0], size[1], threads);
                ASSERT_EQ(many.red, one.red) << size[0] << "x" << size[1] << " seed " << seed
                                             << " threads " << threads;
                ASSERT_EQ(many.green, one.green);
                ASSERT_EQ(many.blue, one.blue);
                ASSERT_EQ(many.alpha, one.alpha);
                // Strips go to the output as they finish, yet the calls
                // keep their order.
                ASSERT_TRUE(many.calls == one.calls);
            }
        }
    }
    SetThreadCount(0);
    ShutdownThreadPool();
}

void SetEnvironment(const char* value) {
#if defined(_WIN32)
    _putenv_s("LUMAFEX_THREADS", value);
#else
    setenv("LUMAFEX_THREADS", value, 1);
#endif
}

TEST(ThreadCountTest, EnvironmentSetsTheCountWithinItsRange) {
    SetThreadCount(0);
    const unsigned cores = std::thread::hardware_concurrency();
    const int32_t machine = cores == 0 ? 1 : static_cast<int32_t>(cores);
    SetEnvironment("3");
    EXPECT_EQ(ThreadCount(), 3);
    SetEnvironment("1");
    EXPECT_EQ(ThreadCount(), 1);
    for (const char* ignored : {"0", "-2", "257", "4x", "", "99999999999"}) {
        SetEnvironment(ignored);
        EXPECT_EQ(ThreadCount(), machine) << '"' << ignored << '"';
    }
    // A count chosen by the program wins over the environment.
    SetEnvironment("3");
    SetThreadCount(5);
    EXPECT_EQ(ThreadCount(), 5);
    SetThreadCount(0);
    SetEnvironment("");
    ShutdownThreadPool();
}

}  // namespace
}  // namespace lumafex

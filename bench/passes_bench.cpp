// The blur and depth-of-field passes over a 1920x1080 frame, one thread,
// "Full Fra&me" mode. The passes run in place on the same frame again and
// again; in Full Frame mode every pixel spreads whatever its colour, so the
// work per run does not depend on the earlier runs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "pipeline/frame_parameters.h"
#include "pipeline/frame_view.h"
#include "pipeline/passes/blur.h"
#include "pipeline/passes/dof_blur.h"
#include "pipeline/passes/softer_blur.h"
#include "pipeline/passes/softer_dof_blur.h"

namespace lumafex {
namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

struct BenchFrame {
    std::vector<uint8_t> planes[5];
    std::vector<float> depth;

    BenchFrame() {
        const std::size_t n = static_cast<std::size_t>(kWidth) * kHeight;
        uint32_t s = 12345;
        for (auto& plane : planes) {
            plane.resize(n);
            for (auto& v : plane) {
                s = s * 1664525u + 1013904223u;
                v = static_cast<uint8_t>(s >> 24);
            }
        }
        depth.assign(n, 200.0f);
    }
    static const float* DepthRow(const void* context, int32_t y) {
        const auto* f = static_cast<const BenchFrame*>(context);
        return f->depth.data() + static_cast<std::size_t>(y) * kWidth;
    }
    FrameView View() const {
        FrameView v;
        v.width = kWidth;
        v.height = kHeight;
        v.red = const_cast<uint8_t*>(planes[0].data());
        v.green = const_cast<uint8_t*>(planes[1].data());
        v.blue = const_cast<uint8_t*>(planes[2].data());
        v.alpha = const_cast<uint8_t*>(planes[3].data());
        v.shadow = const_cast<uint8_t*>(planes[4].data());
        v.depthRow = DepthRow;
        v.depthContext = this;
        return v;
    }
};

FilterSettings Settings(int32_t softer) {
    FilterSettings s{};
    ResetToDefaults(s);
    s.BlurFlag = 1;
    s.DOFBlurFlag = 1;
    s.SofterBlurFlag = softer;
    s.BlurPercent = 100;
    s.DOFBlurPercent = 100;
    s.DOFBlurFocalPoint = 100;
    return s;
}

// Every pixel far behind the focal point: blur 7.0 everywhere.
void FarBehind(BenchFrame&, FrameParameters&) {}

// A typical scene: depth rising smoothly from left to right with a gentle
// wave, the in-focus range 95..105 taking the middle third of the frame;
// either side ramps up to the limit of 7.0 within a few units of depth.
void TypicalDepth(BenchFrame& f, FrameParameters& p) {
    p.FocalNear = 95.0f;
    p.FocalFar = 105.0f;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            f.depth[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)] =
                static_cast<float>(85.0 + 30.0 * x / kWidth + 0.5 * std::sin(y / 40.0));
        }
    }
}

template <typename Pass>
void Run(benchmark::State& state, Pass pass, int32_t softer,
         void (*scene)(BenchFrame&, FrameParameters&)) {
    BenchFrame frame;
    FilterSettings s = Settings(softer);
    FrameParameters p = ComputeFrameParameters(s);
    scene(frame, p);
    const FrameView view = frame.View();
    for (auto _ : state) {
        benchmark::DoNotOptimize(pass(view, s, p));
        benchmark::ClobberMemory();
    }
}

void BM_BlurPass(benchmark::State& state) { Run(state, BlurPass, 0, FarBehind); }
void BM_SofterBlurPass(benchmark::State& state) { Run(state, SofterBlurPass, 1, FarBehind); }
void BM_DepthOfFieldBlurAllAtLimit(benchmark::State& state) {
    Run(state, DepthOfFieldBlurPass, 0, FarBehind);
}
void BM_DepthOfFieldBlurTypical(benchmark::State& state) {
    Run(state, DepthOfFieldBlurPass, 0, TypicalDepth);
}
void BM_SofterDepthOfFieldBlurAllAtLimit(benchmark::State& state) {
    Run(state, SofterDepthOfFieldBlurPass, 1, FarBehind);
}
void BM_SofterDepthOfFieldBlurTypical(benchmark::State& state) {
    Run(state, SofterDepthOfFieldBlurPass, 1, TypicalDepth);
}

BENCHMARK(BM_BlurPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SofterBlurPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DepthOfFieldBlurAllAtLimit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DepthOfFieldBlurTypical)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SofterDepthOfFieldBlurAllAtLimit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SofterDepthOfFieldBlurTypical)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumafex

// The blur and depth-of-field passes over a 1920x1080 frame (and the plain
// blur over 3840x2160), in "Full Fra&me" mode; the last argument of every
// benchmark is the number of threads. The passes run in place on the same frame again and
// again; in Full Frame mode every pixel spreads whatever its colour, so the
// work per run does not depend on the earlier runs.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <initializer_list>
#include <vector>

#include "bench_threads.h"
#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "pipeline/passes/blur.h"
#include "pipeline/passes/dof_blur.h"
#include "pipeline/passes/softer_blur.h"
#include "pipeline/passes/softer_dof_blur.h"
#include "pipeline/frame/wide_vectors.h"
#include "pipeline/frame/thread_pool.h"

namespace lumafex {
namespace {

struct BenchFrame {
    int32_t width;
    int32_t height;
    std::vector<uint8_t> planes[5];
    std::vector<float> depth;

    explicit BenchFrame(int32_t w = 1920, int32_t h = 1080) : width(w), height(h) {
        const std::size_t n = static_cast<std::size_t>(width) * height;
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
        return f->depth.data() + static_cast<std::size_t>(y) * f->width;
    }
    FrameView View() const {
        FrameView v;
        v.width = width;
        v.height = height;
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

// Every pixel far behind the focal point with the limit lifted, as a huge
// "3MaxDOFBlur%" channel does: blur 500, taller and wider than the frame.
void FarBehindWithoutLimit(BenchFrame&, FrameParameters& p) { p.MaxDOFBlur = 1e6f; }

// Depth rising from `from` by `rise` over the frame's width, with a wave of
// `amplitude` down its rows, one period every 2 pi x `period` rows.
void RampDepth(BenchFrame& f, double from, double rise, double amplitude, double period) {
    for (int32_t y = 0; y < f.height; ++y) {
        for (int32_t x = 0; x < f.width; ++x) {
            f.depth[static_cast<std::size_t>(y) * f.width + static_cast<std::size_t>(x)] =
                static_cast<float>(from + rise * x / f.width + amplitude * std::sin(y / period));
        }
    }
}

// A typical scene: depth rising smoothly from left to right with a gentle
// wave, the in-focus range 95..105 taking the middle third of the frame;
// either side ramps up to the limit of 7.0 within a few units of depth.
void TypicalDepth(BenchFrame& f, FrameParameters& p) {
    p.FocalNear = 95.0f;
    p.FocalFar = 105.0f;
    RampDepth(f, 85.0, 30.0, 0.5, 40.0);
}

// A gradual scene, as the demo's: the blur grows by 0.1 a unit of depth
// (DOFBlurPercent 2) up to a limit of 10 ("3MaxDOFBlur%" 200), depth rising
// from the focal point over the frame with a wave, so that a third of the
// pixels have blurs of their own between 0 and the limit, each mixing with
// its neighbours.
void GradualDepth(BenchFrame& f, FrameParameters& p) {
    p.DOFBlurAmount = 0.1f;
    p.MaxDOFBlur = 10.0f;
    RampDepth(f, 100.0, 150.0, 20.0, 50.0);
}

// The thread count is the benchmark's argument threadArgument; blurPercent
// 0 keeps the settings' 100.
template <typename Pass, typename Scene>
void Run(benchmark::State& state, Pass pass, int32_t softer, Scene scene, int32_t width = 1920,
         int32_t height = 1080, int32_t blurPercent = 0, int threadArgument = 0,
         InstructionSet set = ProcessorInstructionSet()) {
    SetThreadCount(static_cast<int32_t>(state.range(threadArgument)));
    BenchFrame frame(width, height);
    FilterSettings s = Settings(softer);
    if (blurPercent != 0) s.BlurPercent = blurPercent;
    FrameParameters p = ComputeFrameParameters(s);
    p.instructionSet = set;
    scene(frame, p);
    const FrameView view = frame.View();
    for (auto _ : state) {
        benchmark::DoNotOptimize(pass(view, s, p));
        benchmark::ClobberMemory();
    }
}

void BM_BlurPass(benchmark::State& state) { Run(state, BlurPass, 0, FarBehind); }
void BM_BlurPass4K(benchmark::State& state) {
    Run(state, BlurPass, 0, FarBehind, 3840, 2160);
}
// BlurPercent 100000: a radius of 5000 pixels, far taller than the frame.
void BM_BlurPassHugeRadius(benchmark::State& state) {
    Run(state, BlurPass, 0, FarBehind, 1920, 1080, 100000);
}
// The plain blur with SSE2 alone, as on the Windows module.
void BM_BlurPassSse2(benchmark::State& state) {
    Run(state, BlurPass, 0, FarBehind, 1920, 1080, 0, 0, InstructionSet::Sse2);
}
void BM_SofterBlurPass(benchmark::State& state) { Run(state, SofterBlurPass, 1, FarBehind); }
// The same with SSE2 alone, as on the Windows module (and on processors
// without AVX2).
void BM_SofterBlurPassSse2(benchmark::State& state) {
    Run(state, SofterBlurPass, 1, FarBehind, 1920, 1080, 0, 0, InstructionSet::Sse2);
}
// BlurPercent 1000 (a radius of 50 pixels) on a 640x360 frame.
void BM_SofterBlurPercent1000Small(benchmark::State& state) {
    Run(state, SofterBlurPass, 1, FarBehind, 640, 360, 1000);
}
void BM_DepthOfFieldBlurAllAtLimit(benchmark::State& state) {
    Run(state, DepthOfFieldBlurPass, 0, FarBehind);
}
void BM_DepthOfFieldBlurTypical(benchmark::State& state) {
    Run(state, DepthOfFieldBlurPass, 0, TypicalDepth);
}
void BM_DepthOfFieldBlurGradual(benchmark::State& state) {
    Run(state, DepthOfFieldBlurPass, 0, GradualDepth);
}
// 640x360, every pixel with a blur of 500 pixels.
void BM_DepthOfFieldBlurHugeLimit(benchmark::State& state) {
    Run(state, DepthOfFieldBlurPass, 0, FarBehindWithoutLimit, 640, 360);
}
void BM_SofterDepthOfFieldBlurAllAtLimit(benchmark::State& state) {
    Run(state, SofterDepthOfFieldBlurPass, 1, FarBehind);
}
void BM_SofterDepthOfFieldBlurTypical(benchmark::State& state) {
    Run(state, SofterDepthOfFieldBlurPass, 1, TypicalDepth);
}
// Radii far beyond the frame beside a radius as wide as the frame, so that
// their ratio can be read off (a huge radius may cost at most about twice
// the frame-wide one). Arguments: 1 for the huge radius (BlurPercent
// 100000, a radius of 5000 pixels; or a depth blur limit of 5000 pixels, as
// a "3MaxDOFBlur%" null at 100000 sets it) or 0 for one of the frame's
// width; the scene (0: every pixel far behind the focal point, so at the
// limit; 1: depth rising from the focal point over the frame, so that
// hardly two pixels share a blur below the limit); the frame's width and
// height; the threads. The softer passes and the depth ramp cost the
// fourth power of the frame's side even with the frame-wide radius (every
// pixel reaches most others, each contribution of its own), hence their
// smaller frames.
void FarBehindAtLimit(BenchFrame& f, FrameParameters&) {
    f.depth.assign(f.depth.size(), 1e6f);
}
void DepthRamp(BenchFrame& f, FrameParameters&) {
    for (int32_t y = 0; y < f.height; ++y) {
        for (int32_t x = 0; x < f.width; ++x) {
            f.depth[static_cast<std::size_t>(y) * f.width + static_cast<std::size_t>(x)] =
                static_cast<float>(100.0 + 300.0 * x / f.width + 200.0 * y / f.height);
        }
    }
}
template <typename Pass>
void RunBeyondFrame(benchmark::State& state, Pass pass, int32_t softer, bool depth) {
    const bool huge = state.range(0) != 0;
    const auto width = static_cast<int32_t>(state.range(2));
    const auto height = static_cast<int32_t>(state.range(3));
    if (!depth) {
        Run(state, pass, softer, FarBehind, width, height, huge ? 100000 : 20 * width, 4);
        return;
    }
    const bool ramp = state.range(1) != 0;
    const float limit = huge ? 5000.0f : static_cast<float>(width);
    Run(state, pass, softer,
        [ramp, limit](BenchFrame& f, FrameParameters& p) {
            if (ramp) {
                DepthRamp(f, p);
            } else {
                FarBehindAtLimit(f, p);
            }
            p.MaxDOFBlur = limit;
        },
        width, height, 0, 4);
}
void BM_SofterBlurBeyondFrame(benchmark::State& state) {
    RunBeyondFrame(state, SofterBlurPass, 1, false);
}
void BM_DepthOfFieldBlurBeyondFrame(benchmark::State& state) {
    RunBeyondFrame(state, DepthOfFieldBlurPass, 0, true);
}
void BM_SofterDepthOfFieldBlurBeyondFrame(benchmark::State& state) {
    RunBeyondFrame(state, SofterDepthOfFieldBlurPass, 1, true);
}
// Both radii of each scene and size, at each thread count.
void BeyondFrame(benchmark::internal::Benchmark* b,
                 std::initializer_list<std::array<int64_t, 3>> scenes) {
    for (const auto& [scene, w, h] : scenes) {
        for (int64_t huge : {0, 1}) {
            for (int threads : ThreadCounts()) b->Args({huge, scene, w, h, threads});
        }
    }
}
void SofterBlurBeyondFrame(benchmark::internal::Benchmark* b) {
    BeyondFrame(b, {{0, 320, 180}, {0, 640, 360}});
}
void DepthBeyondFrame(benchmark::internal::Benchmark* b) {
    BeyondFrame(b, {{0, 640, 360}, {0, 1920, 1080}, {1, 160, 90}, {1, 320, 180}});
}
void SofterDepthBeyondFrame(benchmark::internal::Benchmark* b) {
    BeyondFrame(b, {{0, 320, 180}, {1, 160, 90}, {1, 320, 180}});
}

// Time against radius: the first argument is the radius in pixels.
void BM_BlurRadius(benchmark::State& state) {
    Run(state, BlurPass, 0, FarBehind, 1920, 1080, static_cast<int32_t>(state.range(0)) * 20, 1);
}
void BM_SofterBlurRadius(benchmark::State& state) {
    Run(state, SofterBlurPass, 1, FarBehind, 1920, 1080,
        static_cast<int32_t>(state.range(0)) * 20, 1);
}

void Radii(benchmark::internal::Benchmark* b) {
    for (int r : {1, 2, 3, 5, 8, 12, 16, 20}) b->Args({r, 1});
}

BENCHMARK(BM_BlurPass)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlurPass4K)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlurPassHugeRadius)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlurPassSse2)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SofterBlurPass)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SofterBlurPassSse2)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SofterBlurPercent1000Small)
    ->Apply(ThreadArguments)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_DepthOfFieldBlurAllAtLimit)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DepthOfFieldBlurTypical)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DepthOfFieldBlurGradual)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DepthOfFieldBlurHugeLimit)
    ->Apply(ThreadArguments)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_SofterDepthOfFieldBlurAllAtLimit)
    ->Apply(ThreadArguments)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SofterDepthOfFieldBlurTypical)
    ->Apply(ThreadArguments)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SofterBlurBeyondFrame)
    ->Apply(SofterBlurBeyondFrame)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_DepthOfFieldBlurBeyondFrame)
    ->Apply(DepthBeyondFrame)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_SofterDepthOfFieldBlurBeyondFrame)
    ->Apply(SofterDepthBeyondFrame)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_BlurRadius)->Apply(Radii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SofterBlurRadius)->Apply(Radii)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace lumafex

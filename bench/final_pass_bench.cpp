// The final pass over a 1920x1080 frame; the last argument of every
// benchmark is the number of threads.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_threads.h"
#include "pipeline/final/final_pass.h"
#include "pipeline/frame/random_generator.h"
#include "pipeline/frame/frame_view.h"
#include "pipeline/frame/thread_pool.h"
#include "pipeline/frame/wide_vectors.h"

namespace lumafex {
namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

struct BenchFrame {
    std::vector<uint8_t> planes[5];
    std::vector<uint8_t> pristine[5];

    BenchFrame() {
        const std::size_t n = static_cast<std::size_t>(kWidth) * kHeight;
        uint32_t s = 12345;
        for (int p = 0; p < 5; ++p) {
            pristine[p].resize(n);
            for (auto& v : pristine[p]) {
                s = s * 1664525u + 1013904223u;
                v = static_cast<uint8_t>(s >> 24);
            }
        }
        Restore();
    }
    void Restore() {
        for (int p = 0; p < 5; ++p) planes[p] = pristine[p];
    }
    FrameView View() {
        FrameView v;
        v.width = kWidth;
        v.height = kHeight;
        v.red = planes[0].data();
        v.green = planes[1].data();
        v.blue = planes[2].data();
        v.alpha = planes[3].data();
        v.shadow = planes[4].data();
        return v;
    }
};

// Discards the pixels, as cheaply as a host's output buffer would take them.
class SinkOutput final : public FrameOutput {
public:
    void PutRGB(int32_t, int32_t, const uint8_t rgb[3]) override { sum_ += rgb[0]; }
    void PutAlpha(int32_t, int32_t, uint8_t a) override { sum_ += a; }
    uint64_t sum_ = 0;
};

// threadArgument: which of the benchmark's arguments is the thread count.
void RunFinal(benchmark::State& state, const FilterSettings& settings, int32_t passes = 1,
              int threadArgument = 0, InstructionSet set = ProcessorInstructionSet()) {
    SetThreadCount(static_cast<int32_t>(state.range(threadArgument)));
    BenchFrame frame;
    FilterSettings s = settings;
    FrameParameters params = ComputeFrameParameters(s);
    params.instructionSet = set;
    s.Passes = passes;  // as a "3AntialiasPasses" null would set it
    RandomGenerator random;
    SinkOutput out;
    for (auto _ : state) {
        state.PauseTiming();
        frame.Restore();
        state.ResumeTiming();
        RunFinalPass(frame.View(), s, params, random, out);
        benchmark::DoNotOptimize(out.sum_);
    }
}

FilterSettings Defaults() {
    FilterSettings s{};
    ResetToDefaults(s);
    return s;
}

void BM_FinalPassWriteBackOnly(benchmark::State& state) { RunFinal(state, Defaults()); }

void BM_FinalPassEveryColourStage(benchmark::State& state) {
    FilterSettings s = Defaults();
    s.NegativeFlag = 1;
    s.NegativeImageFlag = 1;
    s.CartoonFlag = 1;
    s.GreyFlag = 1;
    s.RedPercent = 90;
    s.BrightPercent = 110;
    s.ContrastPercent = 120;
    s.GammaPercent = 80;
    RunFinal(state, s);
}

void BM_FinalPassColourStagesWithColourRange(benchmark::State& state) {
    FilterSettings s = Defaults();
    s.FilterInclude = 4;
    s.NegativeFlag = 1;
    s.NegativeImageFlag = 1;
    s.CartoonFlag = 1;
    s.GreyFlag = 1;
    s.RedPercent = 90;
    s.ContrastPercent = 120;
    s.GammaPercent = 80;
    RunFinal(state, s);
}

void RunEnhanceAndAntialias(benchmark::State& state, InstructionSet set) {
    FilterSettings s = Defaults();
    s.SharpenFlag = 1;
    s.SmoothFlag = 1;
    s.AntialiasVariance = 150;
    RunFinal(state, s, static_cast<int32_t>(state.range(0)), 1, set);
}

void BM_EnhanceAndAntialias(benchmark::State& state) {
    RunEnhanceAndAntialias(state, ProcessorInstructionSet());
}

// The same with SSE2 alone, as on the Windows module (and on processors
// without AVX2).
void BM_EnhanceAndAntialiasSse2(benchmark::State& state) {
    RunEnhanceAndAntialias(state, InstructionSet::Sse2);
}

void BM_FinalPassEveryRowStage(benchmark::State& state) {
    FilterSettings s = Defaults();
    s.NegativeFlag = 1;
    s.NoiseFlag = 1;
    s.NegativeImageFlag = 1;
    s.CartoonFlag = 1;
    s.GreyFlag = 1;
    s.FlipFrameFlag = 1;
    s.KeyPrepFlag = 1;
    s.RedPercent = 90;
    s.ContrastPercent = 120;
    s.GammaPercent = 80;
    s.BlackFlag = 1;
    s.WhiteFlag = 1;
    s.ReverseAlphaFlag = 1;
    s.RangeAlphaFlag = 1;
    s.FilterInclude = 0;  // objects only, so the key stages leave something to do
    RunFinal(state, s);
}

// Noise alone: its draws run from pixel to pixel through the whole frame,
// so it takes one thread whatever the count.
void BM_FinalPassNoise(benchmark::State& state) {
    FilterSettings s = Defaults();
    s.NoiseFlag = 1;
    s.FilterInclude = 0;
    RunFinal(state, s);
}

// The number of passes, then the threads.
void PassesAndThreads(benchmark::internal::Benchmark* b) {
    for (int passes : {1, 4}) {
        for (int threads : ThreadCounts()) b->Args({passes, threads});
    }
}

BENCHMARK(BM_EnhanceAndAntialias)->Apply(PassesAndThreads)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnhanceAndAntialiasSse2)->Apply(PassesAndThreads)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FinalPassEveryRowStage)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FinalPassWriteBackOnly)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FinalPassNoise)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FinalPassEveryColourStage)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FinalPassColourStagesWithColourRange)
    ->Apply(ThreadArguments)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumafex

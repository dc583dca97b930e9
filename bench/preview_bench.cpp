// The settings dialog's preview: keeping a reduced copy of a 1920x1080
// frame (paid on every processed frame), and one preview update over that
// 960x540 copy with the default settings, with blur and with depth-of-field
// blur, as the preview worker runs it.
#include <benchmark/benchmark.h>

#include <vector>

#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "pipeline/preview_frame.h"
#include "settings/filter_settings.h"

namespace lumafex {
namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

struct SourceFrame {
    std::vector<uint8_t> planes[5];
    std::vector<float> depth;

    SourceFrame() {
        const std::size_t n = static_cast<std::size_t>(kWidth) * kHeight;
        uint32_t s = 2024;
        for (auto& plane : planes) {
            plane.resize(n);
            for (auto& v : plane) {
                s = s * 1664525u + 1013904223u;
                v = static_cast<uint8_t>(s >> 24);
            }
        }
        depth.resize(n);
        for (std::size_t i = 0; i < n; ++i) depth[i] = static_cast<float>(50 + i % 400);
    }
    static const float* DepthRow(const void* context, int32_t y) {
        const auto* f = static_cast<const SourceFrame*>(context);
        return f->depth.data() + static_cast<std::size_t>(y) * kWidth;
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
        v.depthRow = DepthRow;
        v.depthContext = this;
        return v;
    }
};

void BM_KeepFrameForPreview(benchmark::State& state) {
    SourceFrame source;
    const FrameView view = source.View();
    PreviewFrame kept;
    for (auto _ : state) {
        if (!KeepFrame(view, 0.0, 0, kept)) state.SkipWithError("no memory for the kept frame");
        benchmark::DoNotOptimize(kept.red.data());
    }
}
BENCHMARK(BM_KeepFrameForPreview)->Unit(benchmark::kMillisecond);

// state.range(0): 0 default settings, 1 blur 100%, 2 depth-of-field blur.
void BM_PreviewUpdate(benchmark::State& state) {
    SourceFrame source;
    PreviewFrame kept;
    if (!KeepFrame(source.View(), 0.0, 0, kept)) state.SkipWithError("no memory for the kept frame");
    FilterSettings settings{};
    ResetToDefaults(settings);
    if (state.range(0) == 1) settings.BlurFlag = 1;
    if (state.range(0) == 2) settings.DOFBlurFlag = 1;
    FilterSettings working = settings;
    const FrameParameters params = ComputeFrameParameters(working);
    PreviewImage image;
    for (auto _ : state) {
        if (!RenderPreview(kept, working, params, RandomGenerator(), image))
            state.SkipWithError("no memory for the preview");
        benchmark::DoNotOptimize(image.red.data());
    }
}
BENCHMARK(BM_PreviewUpdate)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumafex

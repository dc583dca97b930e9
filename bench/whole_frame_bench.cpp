// A whole frame through the handler table, as the renderer drives it: every
// filter on (blur, depth of field, enhance and antialias at one pass, every
// row stage), at 1920x1080 and 3840x2160. The host here keeps its planes in
// memory, restores them before each frame, and stores every output pixel.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "bench_threads.h"
#include "host/handler.h"
#include "host/module.h"
#include "pipeline/frame/thread_pool.h"

namespace lumafex {
namespace {

struct BenchHost {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pristine[5];
    std::vector<uint8_t> planes[5];  // red, green, blue, alpha, shadow
    std::vector<float> depth;
    std::vector<uint8_t> out;  // RGBA as the host's output buffer
    SceneInfo scene{};
    ItemInfo items{};
    DisplayInfo display{};
    int objectInfo = 0;
};

BenchHost host;

void* Lookup(const char* name, int32_t) {
    if (std::strcmp(name, "LW Scene Info") == 0) return &host.scene;
    if (std::strcmp(name, "LW Item Info") == 0) return &host.items;
    if (std::strcmp(name, "LW Object Info") == 0) return &host.objectInfo;
    if (std::strcmp(name, "Host Display Info") == 0) return &host.display;
    return nullptr;
}
void* NoItem(int32_t, void*) { return nullptr; }

uint8_t* GetLine(int32_t type, int32_t y) {
    const int plane = type == 10 ? 4 : type - 32;
    if (plane < 0 || plane > 4) return nullptr;
    return host.planes[plane].data() + static_cast<std::size_t>(y) * host.width;
}
float* GetFloatLine(int32_t, int32_t y) {
    return host.depth.data() + static_cast<std::size_t>(y) * host.width;
}
void PutRGB(int32_t x, int32_t y, const uint8_t rgb[3]) {
    uint8_t* p = host.out.data() + 4 * (static_cast<std::size_t>(y) * host.width + x);
    p[0] = rgb[0];
    p[1] = rgb[1];
    p[2] = rgb[2];
}
void PutAlpha(int32_t x, int32_t y, uint8_t a) {
    host.out[4 * (static_cast<std::size_t>(y) * host.width + x) + 3] = a;
}

void SetUp(int32_t width, int32_t height) {
    host.width = width;
    host.height = height;
    const std::size_t n = static_cast<std::size_t>(width) * height;
    uint32_t s = 12345;
    for (int p = 0; p < 5; ++p) {
        host.pristine[p].resize(n);
        for (auto& v : host.pristine[p]) {
            s = s * 1664525u + 1013904223u;
            v = static_cast<uint8_t>(s >> 24);
        }
    }
    // Depth rising from left to right with a gentle wave; focus in the middle.
    host.depth.resize(n);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            host.depth[static_cast<std::size_t>(y) * width + x] =
                static_cast<float>(85.0 + 30.0 * x / width + 0.5 * std::sin(y / 40.0));
        }
    }
    host.out.assign(4 * n, 0);
    host.items.firstItem = NoItem;
}

void RunWholeFrame(benchmark::State& state, int32_t width, int32_t height) {
    SetThreadCount(static_cast<int32_t>(state.range(0)));
    SetUp(width, height);
    HandlerTable table{};
    if (ActivateHandler(TheModule(), 1, Lookup, &table) != 0) {
        state.SkipWithError("activation failed");
        return;
    }
    void* instance = table.create(nullptr);
    auto* s = static_cast<FilterSettings*>(instance);
    s->BlurFlag = 1;
    s->BlurPercent = 100;
    s->DOFBlurFlag = 1;
    s->DOFBlurPercent = 100;
    s->DOFBlurFocalPoint = 100;
    s->SharpenFlag = 1;
    s->SmoothFlag = 1;
    s->AntialiasVariance = 150;
    s->NegativeFlag = 1;
    s->NoiseFlag = 1;
    s->NegativeImageFlag = 1;
    s->CartoonFlag = 1;
    s->GreyFlag = 1;
    s->FlipFrameFlag = 1;
    s->KeyPrepFlag = 1;
    s->RedPercent = 90;
    s->ContrastPercent = 120;
    s->GammaPercent = 80;
    s->BlackFlag = 1;
    s->WhiteFlag = 1;
    s->ReverseAlphaFlag = 1;
    s->RangeAlphaFlag = 1;
    s->FilterInclude = 3;
    FrameAccess frame{};
    frame.width = width;
    frame.height = height;
    frame.getLine = GetLine;
    frame.getFloatLine = GetFloatLine;
    frame.putRGB = PutRGB;
    frame.putAlpha = PutAlpha;
    for (auto _ : state) {
        state.PauseTiming();
        for (int p = 0; p < 5; ++p) host.planes[p] = host.pristine[p];
        state.ResumeTiming();
        table.process(instance, &frame);
        benchmark::DoNotOptimize(host.out.data());
        benchmark::ClobberMemory();
    }
    table.destroy(instance);
    ShutdownThreadPool();
}

void BM_WholeFrameEverythingOn(benchmark::State& state) { RunWholeFrame(state, 1920, 1080); }
void BM_WholeFrameEverythingOn4K(benchmark::State& state) { RunWholeFrame(state, 3840, 2160); }

BENCHMARK(BM_WholeFrameEverythingOn)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeFrameEverythingOn4K)->Apply(ThreadArguments)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumafex

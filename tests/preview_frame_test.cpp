// The frame the dialog previews: how it is reduced and kept, and the job the
// preview runs on it.
#include <gtest/gtest.h>

#include <cstring>

#include "host/frame_adapter.h"
#include "host/scene_items.h"
#include "pipeline/preview_frame.h"
#include "support/fake_host.h"
#include "ui/preview_job.h"

namespace lumafex {
namespace {

using testing::FakeHost;

uint8_t Value(int32_t x, int32_t y, int plane) {
    return static_cast<uint8_t>(x * 7 + y * 13 + plane * 31);
}

void Fill(FakeHost& host, int32_t w, int32_t h) {
    host.SetFrameSize(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            host.red[i] = Value(x, y, 0);
            host.alpha[i] = Value(x, y, 3);
            host.shadow[i] = Value(x, y, 4);
            host.depth[i] = static_cast<float>(x + 10000 * y);
        }
    }
}

// Large frames keep every step-th pixel of every step-th row, within
// 960x540 and with a width that is a multiple of 8; small ones stay whole.
TEST(PreviewFrame, KeepsAReducedSampleOfLargeFrames) {
    struct Case {
        int32_t w, h, keptW, keptH, step;
    };
    for (const Case c : {Case{1920, 1080, 960, 540, 2}, Case{1000, 100, 496, 50, 2},
                         Case{64, 600, 32, 300, 2}, Case{40, 24, 40, 24, 1}}) {
        FakeHost host;
        Fill(host, c.w, c.h);
        PreviewFrame kept;
        const FrameAccess frame = host.Frame(1.5);
        ASSERT_TRUE(KeepHostFrame(frame, 8, kept)) << c.w;
        EXPECT_EQ(kept.width, c.keptW);
        EXPECT_EQ(kept.height, c.keptH);
        EXPECT_EQ(kept.step, c.step);
        EXPECT_EQ(kept.reduced(), c.step > 1 || c.keptW != c.w);
        EXPECT_EQ(kept.time, 1.5);
        EXPECT_EQ(kept.fieldRendering, 8);
        int wrong = 0;
        for (int32_t y = 0; y < kept.height; ++y) {
            for (int32_t x = 0; x < kept.width; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * kept.width + x;
                const int32_t sx = x * c.step, sy = y * c.step;
                wrong += kept.red[i] != Value(sx, sy, 0) || kept.alpha[i] != Value(sx, sy, 3) ||
                         kept.shadow[i] != Value(sx, sy, 4) ||
                         kept.depth[i] != static_cast<float>(sx + 10000 * sy);
            }
        }
        EXPECT_EQ(wrong, 0) << c.w << "x" << c.h;
    }
}

// A preview too slow to follow typing halves the kept frame once more.
TEST(PreviewFrame, HalvesAKeptFrame) {
    FakeHost host;
    Fill(host, 1920, 1080);
    PreviewFrame kept, half;
    ASSERT_TRUE(KeepHostFrame(host.Frame(), 0, kept));
    ASSERT_TRUE(HalveFrame(kept, half));
    EXPECT_EQ(half.width, 480);
    EXPECT_EQ(half.height, 270);
    EXPECT_EQ(half.step, 4);
    EXPECT_EQ(half.sourceWidth, 1920);
    const std::size_t i = 100 * 480 + 37;
    EXPECT_EQ(half.red[i], Value(37 * 4, 100 * 4, 0));
    EXPECT_EQ(half.depth[i], static_cast<float>(37 * 4 + 10000 * 400));
}

TEST(PreviewFrame, NothingToKeep) {
    FakeHost host;
    Fill(host, 7, 4);  // narrower than 8 pixels
    PreviewFrame kept;
    EXPECT_FALSE(KeepHostFrame(host.Frame(), 0, kept));
    EXPECT_TRUE(kept.empty());
    PreviewImage image;
    EXPECT_FALSE(RenderPreview(kept, FilterSettings{}, FrameParameters{}, RandomGenerator(), image));
}

// The job reads the null objects at the kept frame's time and the dialog's
// "Use Nulls"; the record it was made from stays as it was.
TEST(PreviewFrame, JobReadsTheNullObjectsAtTheFramesTime) {
    FakeHost host;
    host.items.push_back({0, "3Blur%", {0.0, 0.0, 60.0}, false});
    Fill(host, 16, 8);
    PreviewFrame kept;
    ASSERT_TRUE(KeepHostFrame(host.Frame(2.25), 0, kept));
    FilterSettings record{};
    ResetToDefaults(record);
    const FilterSettings before = record;
    int32_t useNulls = 8;
    ui::DialogModel model{};
    model.settings = &record;
    model.UseNulls = &useNulls;
    const HostSceneObjects objects(&host.Items());
    model.objects = &objects;
    ui::PreviewJob job = ui::MakePreviewJob(kept, record, model, RandomGenerator(99));
    EXPECT_EQ(job.settings.BlurFlag, 1);
    EXPECT_EQ(job.random.state(), 99u);
    EXPECT_EQ(host.vectorTimes.back(), 2.25);
    EXPECT_EQ(std::memcmp(&before, &record, sizeof record), 0);
    useNulls = 0;
    job = ui::MakePreviewJob(kept, record, model, RandomGenerator());
    EXPECT_EQ(job.settings.BlurFlag, before.BlurFlag);
}

}  // namespace
}  // namespace lumafex

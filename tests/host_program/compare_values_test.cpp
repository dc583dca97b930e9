// compare on files with half or float channels: their stored values are
// compared channel by channel, by name, against the failure thresholds;
// files that cannot be compared value for value say why.
#include <gtest/gtest.h>

#if defined(LUMAFEX_TEST_WITH_OIIO)
#include <OpenImageIO/imageio.h>
#endif

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "pictures/compare.h"
#include "support.h"

namespace lumafex::tool {
namespace {

using testing::RunProgram;
using testing::TempDir;

constexpr int kW = 16, kH = 8;

TEST(CompareValues, NanAndInfinityMatchOnlyThemselves) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const auto channel = [](std::vector<float> v) {
        return StoredChannel{"Z", 0, 0, static_cast<int32_t>(v.size()), 1, std::move(v)};
    };
    const ValueComparison same =
        CompareValues({channel({nan, inf, -0.0f})}, {channel({nan, inf, 0.0f})}, Thresholds{});
    EXPECT_EQ(same.differing, 0u);
    const ValueComparison apart =
        CompareValues({channel({nan, inf, 1.0f})}, {channel({1.0f, -inf, 1.0f})}, Thresholds{});
    EXPECT_EQ(apart.infinite, 2u);
    EXPECT_TRUE(apart.failed);
}

#if defined(LUMAFEX_TEST_WITH_OIIO)

// R, G, B, A half and Z float, with the given changes: {channel, pixel, value}.
struct Change {
    int channel;
    int pixel;
    float value;
};
void WriteRender(const std::string& path, const std::vector<Change>& changes,
                 const std::vector<std::string>& names = {"R", "G", "B", "A", "Z"}, int width = kW) {
    const int n = static_cast<int>(names.size());
    std::vector<float> values(static_cast<std::size_t>(width * kH * n));
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = 0.25f * static_cast<float>(i % 7);
    for (const Change& c : changes) values[static_cast<std::size_t>(c.pixel * n + c.channel)] = c.value;
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out);
    OIIO::ImageSpec layout(width, kH, n, OIIO::TypeDesc::HALF);
    layout.channelnames = names;
    layout.channelformats.assign(static_cast<std::size_t>(n), OIIO::TypeDesc::HALF);
    layout.channelformats.back() = OIIO::TypeDesc::FLOAT;
    ASSERT_TRUE(out->open(path, layout));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, values.data()));
    ASSERT_TRUE(out->close());
}

TEST(CompareValues, ThresholdsDecideTheExitStatusOnStoredHalfAndFloatValues) {
    TempDir dir;
    WriteRender(dir / "a.exr", {{4, 2 * kW + 3, 1.5f}, {0, 5, 1.0f}});
    WriteRender(dir / "same.exr", {{4, 2 * kW + 3, 1.5f}, {0, 5, 1.0f}});
    // Z 19.7 further at (3, 2), and R one half step above 1 at (5, 0): both
    // the same 8-bit bytes the module would see.
    WriteRender(dir / "b.exr", {{4, 2 * kW + 3, 21.2f}, {0, 5, 1.0f + 1.0f / 1024}});
    const std::string a = dir / "a.exr", b = dir / "b.exr";
    std::string out;
    EXPECT_EQ(RunProgram("compare " + a + " " + dir / "same.exr", &out, false), 0) << out;
    EXPECT_NE(out.find("identical: 5 channels of 16x8, every stored value the same"), std::string::npos) << out;

    EXPECT_EQ(RunProgram("compare " + a + " " + b, &out, false), 4) << out;
    EXPECT_NE(out.find("differ: 2 of 640 stored values"), std::string::npos) << out;
    EXPECT_NE(out.find("largest error 19.7"), std::string::npos) << out;
    EXPECT_NE(out.find("at (3, 2) in Z"), std::string::npos) << out;
    EXPECT_NE(out.find("PSNR"), std::string::npos) << out;
    EXPECT_NE(out.find("FAIL"), std::string::npos) << out;

    // Within --fail, or within the share --fail-percent allows: a warning, exit 0.
    for (const char* limits : {" --fail 20", " --fail-percent 1"}) {
        EXPECT_EQ(RunProgram("compare " + a + " " + b + limits, &out, false), 0) << limits << out;
        EXPECT_NE(out.find("WARNING"), std::string::npos) << out;
    }
    EXPECT_EQ(RunProgram("compare " + a + " " + b + " --fail 20 --warn 20", &out, false), 0) << out;
    EXPECT_NE(out.find("PASS"), std::string::npos) << out;
    // Only the half step is above --fail; --hard-fail still catches the 19.7.
    EXPECT_EQ(RunProgram("compare " + a + " " + b + " --fail 1 --fail-percent 1", &out, false), 0) << out;
    EXPECT_EQ(RunProgram("compare " + a + " " + b + " --fail-percent 1 --hard-fail 10", &out, false), 4) << out;
    EXPECT_NE(out.find("above the hard failure threshold 10"), std::string::npos) << out;
    EXPECT_EQ(RunProgram("compare " + a + " " + b + " --fail -1", &out, false), 2) << out;
    EXPECT_EQ(RunProgram("compare " + a + " " + b + " -o " + dir / "diff.png", &out, false), 4) << out;
    EXPECT_NE(out.find("difference image"), std::string::npos) << out;
}

TEST(CompareValues, OtherChannelsOrSizesAreNamedAsIncomparable) {
    TempDir dir;
    WriteRender(dir / "a.exr", {});
    WriteRender(dir / "depth.exr", {}, {"R", "G", "B", "A", "depth.Z"});
    WriteRender(dir / "wide.exr", {}, {"R", "G", "B", "A", "Z"}, kW * 2);
    std::string out;
    EXPECT_EQ(RunProgram("compare " + dir / "a.exr " + dir / "depth.exr", &out, false), 1) << out;
    EXPECT_NE(out.find("different channels: only in the first: Z; only in the second: depth.Z"),
              std::string::npos) << out;
    EXPECT_EQ(RunProgram("compare " + dir / "a.exr " + dir / "wide.exr", &out, false), 1) << out;
    EXPECT_NE(out.find("differ in size"), std::string::npos) << out;
}

#endif

}  // namespace
}  // namespace lumafex::tool

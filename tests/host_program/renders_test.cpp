// The host program on files as renderers write them: layers and parts by
// name, colour spaces, premultiplied alpha, outputs by extension, and
// settings given by name.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "image_files/channels.h"
#include "image_files/files.h"
#include "image_files/image_io.h"
#include "image_files/netpbm.h"
#include "scenes/scene.h"
#include "support.h"

#if defined(LUMAFEX_TEST_WITH_OIIO)
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imageio.h>
#endif

namespace lumafex::tool {
namespace {

using testing::RunProgram;
using testing::TempDir;
using testing::WriteText;

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

TEST(ChannelNames, DefaultsPickColourAndDepthOfTheRightLayer) {
    // A renderer's layers, AO first, with a denoising normal whose Z is no depth.
    const auto layers = ListChannels(
        {""}, {{"ViewLayer.AO.R", "ViewLayer.AO.G", "ViewLayer.AO.B", "ViewLayer.Combined.R",
                "ViewLayer.Combined.G", "ViewLayer.Combined.B", "ViewLayer.Combined.A",
                "ViewLayer.Denoising Normal.X", "ViewLayer.Denoising Normal.Y",
                "ViewLayer.Denoising Normal.Z", "ViewLayer.Depth.Z"}});
    const ColourChannels colour = PickColourChannels(layers, {}, "f.exr");
    EXPECT_EQ((std::vector<int>(colour.index, colour.index + 4)), (std::vector<int>{3, 4, 5, 6}));
    EXPECT_EQ(PickDepthChannel(layers, "", "f.exr").fullName, "ViewLayer.Depth.Z");
    EXPECT_EQ(PickColourChannels(layers, {"ViewLayer.AO"}, "f.exr").index[3], -1);
    EXPECT_EQ(PickDepthChannel(layers, "ViewLayer.Denoising Normal.Z", "f.exr").index, 9);

    // Unprefixed R, G, B win over layers; parts are found by their names.
    const auto parts =
        ListChannels({"rgba", "ViewLayer.Depth", "Other"},
                     {{"R", "G", "B", "A"}, {"Z"}, {"Other.R", "Other.G", "Other.B"}});
    EXPECT_EQ(PickColourChannels(parts, {}, "p.exr").description, "rgba.R, rgba.G, rgba.B, rgba.A");
    EXPECT_EQ(PickColourChannels(parts, {"Other"}, "p.exr").part, 2);
    const NamedChannel z = PickDepthChannel(parts, "", "p.exr");
    EXPECT_EQ(z.part, 1);
    EXPECT_EQ(z.fullName, "ViewLayer.Depth.Z");

    // Several candidates, or none, are errors that list them.
    const auto two =
        ListChannels({""}, {{"A.R", "A.G", "A.B", "B.R", "B.G", "B.B", "x.Depth.Z", "y.Depth.V"}});
    EXPECT_NE(ErrorOf([&] {
                  PickColourChannels(two, {}, "t.exr");
              }).find("more than one colour layer (A, B)"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { PickDepthChannel(two, "", "t.exr"); }).find("x.Depth.Z, y.Depth.V"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] {
                  PickColourChannels(two, {"A.R", "A.G", "C.B"}, "t.exr");
              }).find("no channel \"C.B\""),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] {
                  PickDepthChannel(ListChannels({""}, {{"N.Z", "N.X"}}), "", "n.exr");
              }).find("no depth channel"),
              std::string::npos);
    EXPECT_EQ(PickColourChannels(ListChannels({""}, {{"Y", "A"}}), {}, "g.png").index[3], 1);
}

class SettingsByName : public ::testing::Test {
protected:
    void SetUp() override {
        WritePam(dir / "c.pam", testing::TestColour(32, 16, 1));
        WritePfm(dir / "d.pfm", testing::TestDepth(32, 16, 1));
    }
    std::string Scene(const std::string& settings, const std::string& out) {
        const std::string path = dir / (out + ".json");
        WriteText(
            path,
            "{" + settings +
                R"(, "frames": [{"frame": 1, "color": "c.pam", "depth": "d.pfm", "output": ")" +
                out + R"(.pam"}]})");
        return path;
    }
    TempDir dir;
};

TEST_F(SettingsByName, GiveTheSameOutputAsTheStoredBlockAndRefuseMistakes) {
    const std::string named =
        Scene(R"("filters": {"DOFBlurFlag": 1, "DOFBlurPercent": 40, "DOFBlurFocalPoint": 30,
                                                  "ContrastPercent": 130, "NegativeImageFlag": 1})",
              "named");
    std::vector<std::string> lines = LoadScene(named).settings.value();
    std::string block;
    for (const std::string& l : lines) block += (block.empty() ? "\"" : ", \"") + l + "\"";
    const std::string stored = Scene("\"settings\": [" + block + "]", "stored");
    std::string out;
    ASSERT_EQ(RunProgram("-q render " + named, &out), 0) << out;
    ASSERT_EQ(RunProgram("-q render " + stored, &out), 0) << out;
    EXPECT_EQ(ReadWholeFile(dir / "named.pam"), ReadWholeFile(dir / "stored.pam"));
    EXPECT_NE(ReadWholeFile(dir / "named.pam"), ReadWholeFile(dir / "c.pam"));

    EXPECT_EQ(RunProgram("render " + Scene(R"("filters": {"DOFBlurPercnt": 40})", "typo"), &out),
              1);
    EXPECT_NE(out.find("did you mean \"DOFBlurPercent\"?"), std::string::npos) << out;
    EXPECT_EQ(
        RunProgram("render " + Scene(R"("filters": {"SofterExtraFlag": 1})", "extra"), &out), 1);
    EXPECT_NE(out.find("not stored in a scene"), std::string::npos) << out;
    EXPECT_EQ(
        RunProgram("render " + Scene(R"("filters": {}, "settings": ["Version 1"])", "both"), &out),
        1);
    EXPECT_NE(out.find("keep one"), std::string::npos) << out;
    // The documentation's lines without their Version line: every value would
    // land one setting further on.
    lines.erase(lines.begin());
    block.clear();
    for (const std::string& l : lines) block += (block.empty() ? "\"" : ", \"") + l + "\"";
    EXPECT_EQ(RunProgram("render " + Scene("\"settings\": [" + block + "]", "shifted"), &out), 1);
    EXPECT_NE(out.find("where the module expects \"Version 1\""), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir / "shifted.pam"));
    lines.insert(lines.begin(), "Version 1");
    std::swap(lines[5], lines[6]);
    block.clear();
    for (const std::string& l : lines) block += (block.empty() ? "\"" : ", \"") + l + "\"";
    EXPECT_EQ(RunProgram("render " + Scene("\"settings\": [" + block + "]", "swapped"), &out), 1);
    EXPECT_NE(out.find("the module reads that line into BrightPercent"), std::string::npos) << out;

    EXPECT_EQ(RunProgram("show " + named, &out), 0);
    EXPECT_NE(out.find("3DOFBlur%"), std::string::npos) << out;
}

TEST(Compare, ReportsTheLargestDifferenceHowManyAndWhere) {
    TempDir dir;
    ColourImage a = testing::TestColour(32, 16, 1), b = a;
    b.red[PixelCount(32, 3) + 5] = static_cast<uint8_t>(a.red[PixelCount(32, 3) + 5] ^ 0x20);
    b.alpha[PixelCount(32, 9) + 20] = static_cast<uint8_t>(a.alpha[PixelCount(32, 9) + 20] ^ 0x01);
    WritePam(dir / "a.pam", a);
    WritePam(dir / "b.pam", b);
    std::string out;
    EXPECT_EQ(RunProgram("compare " + dir / "a.pam" + " " + dir / "a.pam", &out, false), 0) << out;
    EXPECT_EQ(RunProgram("compare " + dir / "a.pam" + " " + dir / "b.pam" + " -o " + dir / "d.pam",
                         &out, false),
              4);
    EXPECT_NE(out.find("differ: 2 of 512 pixels, largest difference 32 of 255 at (5, 3), all "
                       "within x 5..20, y 3..9"),
              std::string::npos)
        << out;
    const ColourImage diff = ReadColour(dir / "d.pam");
    EXPECT_EQ(diff.red[PixelCount(32, 3) + 5], 255);
    EXPECT_EQ(diff.green[PixelCount(32, 3) + 5], 0);
    EXPECT_EQ(RunProgram("compare " + dir / "a.pam" + " " + dir / "missing.pam", &out, false), 1);
    EXPECT_NE(out.find("missing.pam: no such file"), std::string::npos) << out;
}

#if defined(LUMAFEX_TEST_WITH_OIIO)

constexpr int kW = 16;
constexpr int kH = 8;

struct Part {
    std::string name;  // "" for a one-part file
    std::vector<std::string> channels;
    OIIO::TypeDesc type = OIIO::TypeDesc::HALF;
    std::vector<float> values;  // interleaved
};

void WriteParts(const std::string& path, const std::vector<Part>& parts,
                const std::vector<std::pair<std::string, std::string>>& attributes = {}) {
    std::vector<OIIO::ImageSpec> layouts;
    for (const Part& p : parts) {
        OIIO::ImageSpec layout(kW, kH, static_cast<int>(p.channels.size()), p.type);
        layout.channelnames = p.channels;
        layout.alpha_channel = -1;
        if (!p.name.empty()) layout.attribute("oiio:subimagename", p.name);
        for (const auto& [k, v] : attributes) layout.attribute(k, v);
        layouts.push_back(layout);
    }
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->open(path, static_cast<int>(layouts.size()), layouts.data()));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            ASSERT_TRUE(out->open(path, layouts[i], OIIO::ImageOutput::AppendSubimage));
        }
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, parts[i].values.data()));
    }
    ASSERT_TRUE(out->close());
}

// Linear, premultiplied colour covering the whole range, a ramp of alpha.
std::vector<float> LinearRgba() {
    std::vector<float> v;
    for (int i = 0; i < kW * kH; ++i) {
        const float a = static_cast<float>((i % 5 + 1) / 5.0);
        const float r = static_cast<float>(i / double(kW * kH - 1)), g = static_cast<float>(0.14),
                    b = 1.0f;
        v.insert(v.end(), {r * a, g * a, b * a, a});
    }
    return v;
}

double SrgbEncode(double x) {
    return x <= 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1.0 / 2.4) - 0.055;
}

std::vector<float> Read(const std::string& path, OIIO::ImageSpec* layout = nullptr) {
    OIIO::ImageSpec config;  // colour as stored: PNG and TIFF alpha stay unassociated
    config.attribute("oiio:UnassociatedAlpha", 1);
    OIIO::ImageBuf buf(path, 0, 0, nullptr, &config);
    EXPECT_TRUE(buf.read(0, 0, true, OIIO::TypeDesc::FLOAT)) << buf.geterror();
    if (layout) {
        EXPECT_TRUE(OIIO::ImageInput::open(path)->seek_subimage(0, 0, *layout));
    }
    std::vector<float> v(static_cast<std::size_t>(buf.roi().npixels()) * buf.nchannels());
    buf.get_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, v.data());
    return v;
}

class Renders : public ::testing::Test {
protected:
    std::string Render(const std::string& sceneBody, int expected = 0) {
        WriteText(dir / "scene.json", sceneBody);
        std::string out;
        EXPECT_EQ(RunProgram("-v render " + dir / "scene.json", &out), expected) << out;
        return out;
    }
    TempDir dir;
};

TEST_F(Renders, MultilayerLinearPremultipliedExrBecomesItsSrgbEncoding) {
    const std::vector<float> rgba = LinearRgba();
    std::vector<float> values;  // AO first, then Combined, a denoising normal and depth
    for (int i = 0; i < kW * kH; ++i) {
        const float* p = &rgba[static_cast<std::size_t>(i) * 4];
        values.insert(values.end(),
                      {0.9f, 0.1f, 0.2f, p[0], p[1], p[2], p[3], 0.0f, 0.0f, 1.0f, 50.0f});
    }
    WriteParts(dir / "layers.exr",
               {{"",
                 {"ViewLayer.AO.R", "ViewLayer.AO.G", "ViewLayer.AO.B", "ViewLayer.Combined.R",
                  "ViewLayer.Combined.G", "ViewLayer.Combined.B", "ViewLayer.Combined.A",
                  "ViewLayer.Denoising Normal.X", "ViewLayer.Denoising Normal.Y",
                  "ViewLayer.Denoising Normal.Z", "ViewLayer.Depth.Z"},
                 OIIO::TypeDesc::HALF,
                 values}});
    // A PNG with a gamma tag, into a JPEG (no alpha).
    WriteParts(dir / "gamma.png", {{"", {"R", "G", "B", "A"}, OIIO::TypeDesc::UINT16, rgba}},
               {{"oiio:ColorSpace", "Gamma2.2"}});
    const std::string out =
        Render(R"({"frames": [{"frame": 1, "color": "layers.exr", "depth": "layers.exr",
                                                   "output": "out.png"}, {"frame": 2, "color": "layers.exr",
                                                   "output": "out.exr"}, {"frame": 3, "color": "gamma.png",
                                                   "output": "out.jpg"}]})");
    EXPECT_NE(out.find("out.jpg (colour from R, G, B, A (Gamma2.2))"), std::string::npos) << out;
    OIIO::ImageSpec jpeg;
    Read(dir / "out.jpg", &jpeg);
    EXPECT_EQ(jpeg.nchannels, 3);
    EXPECT_NE(
        out.find("colour from ViewLayer.Combined.R, ViewLayer.Combined.G, ViewLayer.Combined.B, "
                 "ViewLayer.Combined.A (linear, premultiplied), depth from ViewLayer.Depth.Z"),
        std::string::npos)
        << out;

    // PNG: the unpremultiplied sRGB encoding of the input, within one step.
    const std::vector<float> half = Read(dir / "layers.exr");
    const std::vector<float> png = Read(dir / "out.png");
    const std::vector<float> exr = Read(dir / "out.exr");
    ASSERT_EQ(png.size(), static_cast<std::size_t>(kW * kH * 4));
    ASSERT_EQ(exr.size(), half.size());  // every layer of the input, Combined among them
    for (std::size_t i = 0; i < static_cast<std::size_t>(kW * kH); ++i) {
        const double a = half[i * 11 + 6];
        EXPECT_NEAR(png[i * 4 + 3] * 255.0, a * 255.0, 1.0) << i;
        for (std::size_t c = 0; c < 3; ++c) {
            const double expected = SrgbEncode(half[i * 11 + 3 + c] / a) * 255.0;
            EXPECT_NEAR(png[i * 4 + c] * 255.0, expected, 1.0) << i << " " << c;
            // EXR back: the input again, within the working space's quantisation.
            EXPECT_NEAR(SrgbEncode(exr[i * 11 + 3 + c] / exr[i * 11 + 6]) * 255.0, expected, 1.0)
                << i << " " << c;
        }
        EXPECT_NEAR(exr[i * 11 + 6], a, 0.5 / 255.0 + 1e-3) << i;
    }
}

TEST_F(Renders, PartsSpacesBitsAndMetadata) {
    // Two parts, float: colour in one named part, depth in another.
    const std::vector<float> rgba = LinearRgba();
    std::vector<float> depth(kW * kH, 40.0f);
    WriteParts(dir / "parts.exr",
               {{"beauty", {"R", "G", "B", "A"}, OIIO::TypeDesc::FLOAT, rgba},
                {"ViewLayer.Depth", {"Z"}, OIIO::TypeDesc::FLOAT, depth}},
               {{"renderer:camera", "shot-12"}});
    // A 16-bit PNG whose metadata says linear; a half EXR the scene calls sRGB.
    std::vector<float> opaque;
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        opaque.insert(opaque.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
    WriteParts(dir / "lin16.png", {{"", {"R", "G", "B"}, OIIO::TypeDesc::UINT16, opaque}},
               {{"oiio:ColorSpace", "linear"}});
    WriteParts(dir / "tagged.exr", {{"", {"R", "G", "B"}, OIIO::TypeDesc::HALF, opaque}});
    const std::string out = Render(R"({"outputBits": 16, "frames": [
        {"frame": 1, "color": "parts.exr", "depth": "parts.exr", "output": "a.png"},
        {"frame": 2, "color": "lin16.png", "output": "b.tif"},
        {"frame": 3, "color": "tagged.exr", "colorSpace": "sRGB", "output": "c.exr"}]})");
    EXPECT_NE(
        out.find("colour from beauty.R, beauty.G, beauty.B, beauty.A (linear, premultiplied), "
                 "depth from ViewLayer.Depth.Z"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("b.tif (colour from R, G, B (linear))"), std::string::npos) << out;
    EXPECT_NE(out.find("c.exr (colour from R, G, B (sRGB))"), std::string::npos) << out;

    OIIO::ImageSpec a, b, c;
    const std::vector<float> fromParts = Read(dir / "a.png", &a);
    const std::vector<float> fromPng = Read(dir / "b.tif", &b);
    const std::vector<float> fromTagged = Read(dir / "c.exr", &c);
    EXPECT_EQ(a.format, OIIO::TypeDesc::UINT16);
    EXPECT_EQ(b.format, OIIO::TypeDesc::UINT16);
    EXPECT_EQ(c.format, OIIO::TypeDesc::HALF);
    EXPECT_EQ(c.nchannels, 3);  // the input's channels: no alpha is added
    EXPECT_EQ(a.get_string_attribute("renderer:camera"), "shot-12");
    EXPECT_NE(a.get_string_attribute("Software").find("lumafex"), std::string::npos);
    EXPECT_NE(a.get_string_attribute("lumafex:settings").find("Version 1\nPasses 1"),
              std::string::npos);
    for (std::size_t i = 0; i < static_cast<std::size_t>(kW * kH); ++i) {
        const double expected = SrgbEncode(opaque[i * 3]);
        EXPECT_NEAR(fromPng[i * 4], expected, 0.5 / 255.0 + 1e-4) << i;
        EXPECT_NEAR(fromParts[i * 4], SrgbEncode(rgba[i * 4] / rgba[i * 4 + 3]), 0.5 / 255.0 + 1e-4)
            << i;
        EXPECT_NEAR(fromTagged[i * 3], opaque[i * 3], 0.5 / 255.0 + 2e-3)
            << i;  // back in sRGB, as tagged
    }
}

// A float output keeps the input's values where the module did not change
// the bytes (headroom, negatives, emission under alpha 0, premultiplied
// values as stored), and a change is added to them without clamping.
TEST_F(Renders, FloatOutputsKeepTheInputWhereverTheModuleLeftItsBytes) {
    std::vector<float> rgba = LinearRgba();
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        if (i % 12 == 0) rgba[i] = 4.0f + static_cast<float>(i) / 7.0f;  // highlights
        if (i % 20 == 4) rgba[i + 1] = -0.0123f;
    }
    rgba[8] = 0.3f, rgba[9] = 0.2f, rgba[10] = 0.1f, rgba[11] = 0.0f;  // emission, alpha 0
    WriteParts(dir / "hdr.exr", {{"", {"R", "G", "B", "A"}, OIIO::TypeDesc::HALF, rgba}});
    Render(R"({"frames": [{"frame": 1, "color": "hdr.exr", "output": "same.exr"}]})");
    const std::vector<float> input = Read(dir / "hdr.exr");
    const std::vector<float> same = Read(dir / "same.exr");
    ASSERT_EQ(same.size(), input.size());
    EXPECT_EQ(std::memcmp(same.data(), input.data(), input.size() * sizeof(float)), 0);

    Render(R"({"filters": {"RedPercent": 150, "FilterInclude": 3},
               "frames": [{"frame": 1, "color": "hdr.exr", "output": "red.exr"}]})");
    const std::vector<float> red = Read(dir / "red.exr");
    ASSERT_EQ(red.size(), input.size());
    std::size_t changed = 0;
    for (std::size_t i = 0; i < input.size(); i += 4) {
        const bool kept = std::memcmp(&red[i], &input[i], 4 * sizeof(float)) == 0;
        changed += kept ? 0 : 1;
        // A highlight keeps its headroom; a change never lowers red.
        if (input[i + 3] > 0 && input[i] / input[i + 3] > 1.0f) {
            EXPECT_GT(red[i] / red[i + 3], 1.0f) << i;
        }
        if (!kept && input[i + 3] > 0) {
            EXPECT_GE(red[i], input[i]) << i;
        }
    }
    EXPECT_GT(changed, 0u);
}

TEST_F(Renders, UnknownNamesAndFormatsStopBeforeTheFirstFrame) {
    WriteParts(dir / "c.exr", {{"", {"R", "G", "B", "A"}, OIIO::TypeDesc::HALF, LinearRgba()}});
    const char* frames = R"("frames": [{"frame": 1, "color": "c.exr", "output": "first.png"},
                                       {"frame": 2, "color": "c.exr", "output": "second.)";
    std::string out =
        Render(std::string(R"({"workingSpace": "sRBG", )") + frames + R"(png"}]})", 1);
    EXPECT_NE(out.find("unknown colour space \"sRBG\""), std::string::npos) << out;
    EXPECT_NE(out.find("linear"), std::string::npos) << out;
    out = Render(std::string("{") + frames + R"(nosuchformat"}]})", 1);
    EXPECT_NE(out.find("cannot write \".nosuchformat\""), std::string::npos) << out;
    out = Render(std::string(R"({"outputBits": 32, )") + frames + R"(png"}]})", 1);
    EXPECT_NE(out.find("cannot store 32-bit float"), std::string::npos) << out;
    out = Render(
        R"({"frames": [{"frame": 1, "color": "c.exr", "depth": "c.exr", "output": "d.png"}]})", 1);
    EXPECT_NE(out.find("no depth channel"), std::string::npos) << out;
    out = Render(
        R"({"frames": [{"frame": 1, "color": "c.exr", "colorLayer": "Combined", "output": "d.png"}]})",
        1);
    EXPECT_NE(out.find("no colour layer \"Combined\""), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir / "first.png"));
    EXPECT_FALSE(std::filesystem::exists(dir / "d.png"));

    // With an OCIO configuration its names work, and only they.
    WriteText(dir / "config.ocio", R"(ocio_profile_version: 1
roles: {default: Linear Rec.709, scene_linear: Linear Rec.709}
displays: {sRGB: [!<View> {name: Raw, colorspace: Linear Rec.709}]}
colorspaces:
  - !<ColorSpace> {name: Linear Rec.709, bitdepth: 32f}
  - !<ColorSpace> {name: Display 2.2, bitdepth: 32f, from_reference: !<ExponentTransform> {value: [2.2, 2.2, 2.2, 1], direction: inverse}}
)");
    setenv("OCIO", (dir / "config.ocio").c_str(), 1);
    out = Render(std::string(R"({"workingSpace": "Display 2.2", )") + frames + R"(png"}]})");
    EXPECT_NE(out.find("(Linear Rec.709, premultiplied); working space Display 2.2"),
              std::string::npos)
        << out;
    out = Render(std::string("{") + frames + R"(png"}]})", 1);
    EXPECT_NE(out.find("workingSpace: unknown colour space \"sRGB\"; the colour configuration " +
                       dir / "config.ocio" + " (from $OCIO) knows Linear Rec.709"),
              std::string::npos)
        << out;
    unsetenv("OCIO");
}

TEST_F(Renders, ColourSpacesAndConfigurationsThatCannotWorkAreRefusedBeforeAnyFrame) {
    WriteParts(dir / "c.exr", {{"", {"R", "G", "B", "A"}, OIIO::TypeDesc::HALF, LinearRgba()}});
    const auto scene = [](const std::string& keys, const std::string& frameKeys = "") {
        return "{" + keys + R"("frames": [{"frame": 1, "color": "c.exr", "output": "out.exr")" + frameKeys +
               "}]}";
    };
    // Gammas OpenImageIO would take and turn into garbage or NaN, a typo, in
    // every key that names a space.
    const std::pair<std::string, std::string> refused[] = {
        {scene(R"("workingSpace": "Gamma0", )"), "plain decimal from 0.1 to 10"},
        {scene(R"("workingSpace": "Gamma22", )"), "did you mean \"Gamma2.2\""},
        {scene(R"("outputColorSpace": "Gamma1e400", )"), "plain decimal from 0.1 to 10"},
        {scene("", R"(, "colorSpace": "nosuchspace")"),
         "unknown colour space \"nosuchspace\"; the built-in colour configuration knows linear"},
    };
    for (const auto& [body, message] : refused) {
        const std::string out = Render(body, 1);
        EXPECT_NE(out.find(message), std::string::npos) << out;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.exr")) << out;
    }
    std::string out = Render(scene(R"("workingSpace": "gamma2.2", "outputBits": 32, )"));
    EXPECT_NE(out.find("working space Gamma2.2"), std::string::npos) << out;
    for (const float v : Read(dir / "out.exr")) ASSERT_TRUE(std::isfinite(v));
    std::filesystem::remove(dir / "out.exr");

    // A configuration that is named is used or is an error naming it; a
    // conversion giving what the output cannot hold fails its frame.
    WriteText(dir / "garbage.ocio", "not a colour configuration\n");
    WriteText(dir / "huge.ocio", R"(ocio_profile_version: 2
roles: {default: lin, scene_linear: lin}
colorspaces:
  - !<ColorSpace> {name: lin}
  - !<ColorSpace> {name: sRGB, from_scene_reference: !<ExponentTransform> {value: [2.2, 2.2, 2.2, 1], direction: inverse}}
  - !<ColorSpace> {name: huge, from_scene_reference: !<MatrixTransform> {matrix: [1e30, 0, 0, 0, 0, 1e30, 0, 0, 0, 0, 1e30, 0, 0, 0, 0, 1]}}
)");
    const std::pair<std::string, std::string> configurations[] = {
        {"/no/such.ocio", "colour configuration /no/such.ocio (from $OCIO) cannot be read: "},
        {dir / "garbage.ocio",
         "colour configuration " + dir / "garbage.ocio" + " (from $OCIO) cannot be read: "},
        {dir / "huge.ocio", "out.exr: converting sRGB to huge in the colour configuration " +
                                dir / "huge.ocio" + " (from $OCIO) gave "},
    };
    for (const auto& [file, message] : configurations) {
        setenv("OCIO", file.c_str(), 1);
        out = Render(scene(R"("outputColorSpace": "huge", )"), 1);
        EXPECT_NE(out.find(message), std::string::npos) << out;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.exr")) << out;
        // Commands that convert no colour do not need it.
        EXPECT_EQ(RunProgram("show " + dir / "scene.json", &out), 0) << out;
    }
    unsetenv("OCIO");
}

#endif

}  // namespace
}  // namespace lumafex::tool

// The built program run end to end over generated sequences.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>

#include "image_files/file_identity.h"
#include "image_files/files.h"
#include "image_files/frame_io.h"
#include "image_files/image_io.h"
#include "image_files/netpbm.h"
#include "rendering/host.h"
#include "rendering/module_loader.h"
#include "rendering/render.h"
#include "scenes/scene.h"
#include "support.h"

#if defined(LUMAFEX_TEST_WITH_OIIO)
#include <OpenImageIO/imageio.h>
#endif

namespace lumafex::tool {
namespace {

using testing::RunProgram;
using testing::TempDir;
using testing::WriteText;

constexpr int32_t kW = 64;
constexpr int32_t kH = 48;

// Depth-of-field blur pulled by a focal null, contrast, noise over frames,
// a flip and a key stage: most of the chain sees these frames.
const char* kSettings = R"(["Version 1", "Passes 1", "RedPercent 110", "GreenPercent 100",
  "BluePercent 95", "BrightPercent 100", "FilterInclude 3", "SharpenFlag 1", "SharpenPercent 60",
  "SmoothFlag 1", "AntialiasVariance 120", "AntialiasPercent 100", "BlurFlag 0",
  "SofterBlurFlag 0", "BlurPercent 100", "DOFBlurFlag 1", "DOFBlurPercent 10",
  "DOFBlurFocalPoint 100", "GammaPercent 110", "ContrastPercent 120", "NoisePercent 50",
  "FlipFrameFlag 1", "KeyPrepFlag 1", "BlackFlag 0", "WhiteFlag 0", "GreyFlag 0",
  "NoiseFlag 1", "NegativeFlag 1", "NegativeImageFlag 0", "CartoonFlag 0",
  "ReverseAlphaFlag 0", "RangeAlphaFlag 1", "r1 0", "g1 0", "b1 192", "r2 96", "g2 96", "b2 255"])";

std::string SceneJson(const std::string& colour, const std::string& shadow, const std::string& depth,
                      const std::string& output, int last = 3) {
    return std::string(R"({"fps": 24,
      "cameras": [{"name": "Camera", "keys": [{"time": 0, "position": [0, 0, 0]}]}],
      "objects": [{"name": "3FocalPoint", "keys": [{"time": 0, "position": [0, 0, 60]},
                                                  {"time": 0.2, "position": [0, 0, 200]}]}],
      "settings": )") + kSettings + R"(,
      "frames": {"first": 1, "last": )" + std::to_string(last) + R"(, "color": ")" + colour +
           R"(", "shadow": ")" + shadow + R"(", "depth": ")" + depth + R"(", "output": ")" + output +
           R"("}})";
}

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.path() / "in");
        for (int n = 1; n <= 3; ++n) {
            const std::string num = "000" + std::to_string(n);
            WritePam(dir / ("in/c." + num + ".pam"), testing::TestColour(kW, kH, n));
            WritePgm(dir / ("in/s." + num + ".pgm"), testing::TestShadow(kW, kH, n));
            WritePfm(dir / ("in/d." + num + ".pfm"), testing::TestDepth(kW, kH, n));
        }
        WriteText(dir / "scene.json",
                  SceneJson("in/c.#.pam", "in/s.#.pgm", "in/d.#.pfm", "out/o.#.pam"));
    }
    std::string Run(const std::string& args, int expected = 0) {
        std::string out;
        EXPECT_EQ(RunProgram(args, &out), expected) << out;
        return out;
    }
    TempDir dir;
};

TEST_F(Render, WritesWhatTheModuleGivesWhenDrivenDirectly) {
    Run("-q render " + dir / "scene.json");

    // The same frames through the module in this process.
    const Scene scene = LoadScene(dir / "scene.json");
    std::string error;
    auto module = LoadedModule::Open(LUMAFEX_MODULE_PATH, error);
    ASSERT_TRUE(module) << error;
    Host host(*module, scene);
    host.Load(*scene.settings);
    for (const SceneFrame& f : scene.frames) {
        ColourImage colour = ReadColour(f.colour);
        GreyImage shadow = ReadShadow(f.shadow);
        const DepthImage depth = ReadDepth(f.depth);
        ColourImage expected;
        ASSERT_TRUE(host.Process(colour, &shadow, &depth, f.time, expected));
        const ColourImage written = ReadColour(f.output);
        EXPECT_EQ(written.red, expected.red) << f.output;
        EXPECT_EQ(written.green, expected.green) << f.output;
        EXPECT_EQ(written.blue, expected.blue) << f.output;
        EXPECT_EQ(written.alpha, expected.alpha) << f.output;
        EXPECT_NE(written.red, ReadColour(f.colour).red);  // the filters did something
    }
}

// The next frame read and the last one written on other threads change no
// byte and no log line: the module still gets the frames in order (noise
// carries from frame to frame), a held frame is the one read before it, and
// a write that fails stops the run at that frame with nothing after it.
TEST_F(Render, ReadingAheadChangesNoOutputAndNoLogLine) {
    for (int n = 4; n <= 6; ++n) {
        const std::string num = "000" + std::to_string(n);
        WritePam(dir / ("in/c." + num + ".pam"), testing::TestColour(kW, kH, n));
        WritePgm(dir / ("in/s." + num + ".pgm"), testing::TestShadow(kW, kH, n));
        WritePfm(dir / ("in/d." + num + ".pfm"), testing::TestDepth(kW, kH, n));
    }
    std::filesystem::remove(dir / "in/c.0003.pam");
    WriteText(dir / "scene.json", SceneJson("in/c.#.pam", "in/s.#.pgm", "in/d.#.pfm", "o.#.pam", 6));
    const std::regex times(
        R"(\d+ ms \(read \d+, filter \d+, write \d+\), average (\d+ ms, [0-9.]+s left|n/a, time left n/a)|)"
        R"(in [0-9.]+ s \([^)]*\))");
    auto render = [&](const std::string& out, const std::string& how, int expected) {
        const std::string log = Run("render " + dir / "scene.json" + " --missing-frames hold --output-dir " +
                                        dir / out + how, expected);
        std::string same = std::regex_replace(log, times, "");
        for (std::size_t at; (at = same.find(dir / out)) != std::string::npos;)
            same.replace(at, (dir / out).size(), "OUT");
        return same;
    };
    // Three frames in flight (one read ahead, one filtered, one written)
    // stop at a failed write as one frame at a time does; with more, the
    // writes already started finish first.
    for (const char* out : {"a", "b"}) std::filesystem::create_directories(dir / out + "/o.0005.pam");
    const std::string log = render("a", " --frames-in-flight 3", 1);
    EXPECT_EQ(render("b", " --no-read-ahead", 1), log);
    EXPECT_NE(log.find("frame 3 (3/6): : wrote OUT/o.0003.pam (input missing: held)"), std::string::npos) << log;
    EXPECT_NE(log.find("frame 5: OUT/o.0005.pam: exists and is not a regular file"), std::string::npos) << log;
    auto sameOutputs = [&](int last) {
        for (int n = 1; n <= last; ++n) {
            const std::string name = "/o.000" + std::to_string(n) + ".pam";
            EXPECT_EQ(ReadWholeFile(dir / "a" + name), ReadWholeFile(dir / "b" + name)) << name;
        }
    };
    sameOutputs(4);
    for (const char* out : {"a", "b"}) {
        EXPECT_FALSE(std::filesystem::exists(dir / out + "/o.0006.pam"));
        std::filesystem::remove(dir / out + "/o.0005.pam");
    }
    // Many frames read and written at once, on more threads than the
    // machine may have, and the codecs' own threads: the same bytes and
    // the same log, in frame order.
    EXPECT_EQ(render("a", " --threads 3 --frames-in-flight 6", 4), render("b", " --threads 1 --no-read-ahead", 4));
    sameOutputs(6);
#if defined(LUMAFEX_TEST_WITH_OIIO)
    // The same through the image library's encoder and its threads.
    WriteText(dir / "scene.json", SceneJson("in/c.#.pam", "in/s.#.pgm", "in/d.#.pfm", "o.#.png", 6));
    EXPECT_EQ(render("a", " --threads 3 --frames-in-flight 5", 4), render("b", " --threads 1 --no-read-ahead", 4));
    for (int n = 1; n <= 6; ++n) {
        const std::string name = "/o.000" + std::to_string(n) + ".png";
        EXPECT_TRUE(ReadWholeFile(dir / "a" + name) == ReadWholeFile(dir / "b" + name)) << name;
    }
#endif
}

TEST_F(Render, FrameRangeAndOutputFolder) {
    Run("-q render " + dir / "scene.json" + " --frames 2-3 --output-dir " + dir / "elsewhere");
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere/o.0001.pam"));
    EXPECT_TRUE(std::filesystem::exists(dir / "elsewhere/o.0002.pam"));
    EXPECT_TRUE(std::filesystem::exists(dir / "elsewhere/o.0003.pam"));
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    EXPECT_NE(Run("-q render " + dir / "scene.json" + " --frames 7-9", 1).find("no frames"),
              std::string::npos);
}

// The outputs of every frame are checked against the inputs of every frame
// before anything is written, whichever frames are rendered (a farm task
// renders a few): colour, shadow and depth inputs, by any name of the file.
TEST_F(Render, NoFrameOfTheSceneMayWriteAnInputOrAnotherFramesOutput) {
    std::filesystem::create_hard_link(dir / "in/d.0002.pfm", dir / "in/depth-link.pfm");
    const std::string two = R"({"frame": 2, "color": "in/c.0002.pam", "shadow": "in/s.0002.pgm",
                                "depth": "in/d.0002.pfm", "output": "out/2.pam"})";
    struct Case {
        const char* output;  // frame 1's
        const char* error;
    };
    for (const Case& c : {Case{"in/c.0002.pam", "frame 1 would overwrite an input of frame 2"},
                          Case{"out/../in/s.0002.pgm", "frame 1 would overwrite an input of frame 2"},
                          Case{"in/depth-link.pfm", "frame 1 would overwrite an input of frame 2"},
                          Case{"out/2.pam", "frame 1 and frame 2 would write the same file"}}) {
        WriteText(dir / "list.json", std::string(R"({"frames": [{"frame": 1, "color": "in/c.0001.pam", "output": ")") +
                                         c.output + R"("}, )" + two + "]}");
        const std::string out = Run("-q render " + dir / "list.json" + " --frames 1", 1);
        EXPECT_NE(out.find(c.error), std::string::npos) << c.output << "\n" << out;
        EXPECT_NE(out.find("nothing was written"), std::string::npos) << out;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    EXPECT_EQ(ReadColour(dir / "in/c.0002.pam").red, testing::TestColour(kW, kH, 2).red);
    EXPECT_EQ(ReadShadow(dir / "in/s.0002.pgm").value, testing::TestShadow(kW, kH, 2).value);
    EXPECT_EQ(ReadDepth(dir / "in/d.0002.pfm").value, testing::TestDepth(kW, kH, 2).value);

    // Frames 2 and 3 write one file, though only frame 1 is rendered; and
    // distinct outputs that --output-dir gathers into one folder.
    WriteText(dir / "list.json", R"({"frames": [{"frame": 1, "color": "in/c.0001.pam", "output": "out/1.pam"},
        {"frame": 2, "color": "in/c.0002.pam", "output": "out/same.pam"},
        {"frame": 3, "color": "in/c.0003.pam", "output": "out/./same.pam"}]})");
    EXPECT_NE(Run("-q render " + dir / "list.json" + " --frames 1", 1).find("frame 2 and frame 3 would write the same file"),
              std::string::npos);
    WriteText(dir / "list.json", R"({"frames": [{"frame": 1, "color": "in/c.0001.pam", "output": "a/o.pam"},
        {"frame": 2, "color": "in/c.0002.pam", "output": "b/o.pam"}]})");
    EXPECT_NE(Run("-q render " + dir / "list.json" + " --frames 2 --output-dir " + dir / "out", 1)
                  .find("frame 1 and frame 2 would write the same file"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    // Checked as a whole where a farm submits the scene.
    EXPECT_THROW(CheckSceneOutputs(LoadScene(dir / "list.json"), dir / "out"), std::runtime_error);
    EXPECT_NO_THROW(CheckSceneOutputs(LoadScene(dir / "list.json"), ""));
    // The check's shortcut for files not yet written names them as FileIdentity does.
    FileIdentities identities;
    for (const std::string& path : {dir / "new/o.pam", dir / "in/../new/o.pam", std::string("o.pam"),
                                    std::string("/o.pam"), dir / "in/x/.."}) {
        EXPECT_EQ(identities.OfAbsent(path), FileIdentity(path)) << path;
    }
}

TEST_F(Render, SavesTheSceneOnlyWhereAsked) {
    const std::string before = ReadWholeFile(dir / "scene.json");
    Run("-q render " + dir / "scene.json" + " --save-scene " + dir / "saved.json");
    EXPECT_EQ(ReadWholeFile(dir / "scene.json"), before);
    const Scene saved = LoadScene(dir / "saved.json");
    ASSERT_TRUE(saved.settings.has_value());
    EXPECT_EQ(saved.settings->size(), 38u);
    EXPECT_EQ(saved.frames.size(), 3u);
    EXPECT_NE(Run("-q render " + dir / "scene.json" + " --save-scene " + dir / "scene.json", 1)
                  .find("would overwrite the input scene"),
              std::string::npos);
}

// A frame of any width renders at its width: the module filters it padded
// with its last column repeated, and the output is the padded frame's
// result cut back to the frame's own columns (the last ones when flipped
// horizontally). A frame too large is refused from its header.
TEST_F(Render, FramesOfAnyWidthRenderAtTheirWidthAndTooLargeOnesAreRefusedFromTheHeader) {
    constexpr int32_t kOdd = 37, kPadded = 40, kRows = 20;
    WritePam(dir / "in/odd.0001.pam", testing::TestColour(kOdd, kRows, 1));
    WritePgm(dir / "in/odd.0001.pgm", testing::TestShadow(kOdd, kRows, 1));
    WritePfm(dir / "in/odd.0001.pfm", testing::TestDepth(kOdd, kRows, 1));
    const auto pad = [&](auto plane) {
        decltype(plane) out;
        for (int32_t y = 0; y < kRows; ++y) {
            const auto row = plane.begin() + y * kOdd;
            out.insert(out.end(), row, row + kOdd);
            out.insert(out.end(), kPadded - kOdd, row[kOdd - 1]);
        }
        return out;
    };
    for (const int flip : {0, 1}) {
        std::string json = SceneJson("in/odd.#.pam", "in/odd.#.pgm", "in/odd.#.pfm", "out/odd.#.pam", 1);
        json.replace(json.find("FlipFrameFlag 1"), 15, "FlipFrameFlag " + std::to_string(flip));
        WriteText(dir / "odd.json", json);
        Run("-q render " + dir / "odd.json");
        const ColourImage written = ReadColour(dir / "out/odd.0001.pam");
        ASSERT_EQ(written.width, kOdd);
        ASSERT_EQ(written.height, kRows);

        // The padded frame through the module in this process (a module of
        // its own, so its noise starts where the program's did).
        const Scene scene = LoadScene(dir / "odd.json");
        std::string error;
        auto module = LoadedModule::Open(LUMAFEX_MODULE_PATH, error);
        ASSERT_TRUE(module) << error;
        Host host(*module, scene);
        host.Load(*scene.settings);
        ColourImage colour = ReadColour(dir / "in/odd.0001.pam");
        colour = ColourImage{kPadded, kRows, pad(colour.red), pad(colour.green), pad(colour.blue), pad(colour.alpha)};
        GreyImage shadow{kPadded, kRows, pad(ReadShadow(dir / "in/odd.0001.pgm").value)};
        const DepthImage depth{kPadded, kRows, pad(ReadDepth(dir / "in/odd.0001.pfm").value), ""};
        ColourImage padded;
        ASSERT_TRUE(host.Process(colour, &shadow, &depth, scene.frames[0].time, padded));
        const int32_t first = flip == 1 ? kPadded - kOdd : 0;
        for (int32_t y = 0; y < kRows; ++y) {
            for (int32_t x = 0; x < kOdd; ++x) {
                const std::size_t i = PixelCount(kOdd, y) + x, j = PixelCount(kPadded, y) + first + x;
                ASSERT_EQ(std::vector<int>({written.red[i], written.green[i], written.blue[i], written.alpha[i]}),
                          std::vector<int>({padded.red[j], padded.green[j], padded.blue[j], padded.alpha[j]}))
                    << "flip " << flip << " at " << x << "," << y;
            }
        }
    }

    // A header declaring a frame too large, with no pixels after it: the
    // error comes from the header, not from a read of the missing pixels.
    WriteText(dir / "in/huge.pam", "P7\nWIDTH 40001\nHEIGHT 8\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n");
    WriteText(dir / "huge.json", R"({"frames": [{"frame": 1, "color": "in/huge.pam", "output": "out/huge.pam"}]})");
    const std::string out = Run("-q render " + dir / "huge.json", 1);
    EXPECT_NE(out.find("40001x8 is larger than this program accepts"), std::string::npos) << out;
    EXPECT_EQ(out.find("truncated"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir / "out/huge.pam"));
}

TEST_F(Render, BadInputsNameTheFileAndWhatIsWrong) {
    WriteText(dir / "missing.json", R"({"frames": [{"frame": 1, "color": "in/none.pam", "output": "o.pam"}]})");
    EXPECT_NE(Run("-q render " + dir / "missing.json", 4).find("none.pam is missing"), std::string::npos);

    WritePgm(dir / "in/small.pgm", GreyImage{8, 8, std::vector<uint8_t>(64, 0)});
    WriteText(dir / "sizes.json", R"({"frames": [{"frame": 1, "color": "in/c.0001.pam",
                                       "shadow": "in/small.pgm", "output": "o.pam"}]})");
    EXPECT_NE(Run("-q render " + dir / "sizes.json", 1).find("does not match the colour image"),
              std::string::npos);

    WriteText(dir / "broken.json", "{\n \"frames\": [\n");
    const std::string broken = Run("-q render " + dir / "broken.json", 1);
    EXPECT_NE(broken.find("broken.json: line"), std::string::npos) << broken;

    EXPECT_NE(Run("-q render " + dir / "scene.json" + " --frames x", 2).find("bad frame list"),
              std::string::npos);
    std::string out;
    EXPECT_EQ(RunProgram("-q --module " + dir / "scene.json" + " render " + dir / "scene.json", &out,
                         false),
              1);
    EXPECT_NE(out.find("cannot load module"), std::string::npos) << out;
}

TEST_F(Render, ShowAndSetWorkOnTheStoredLines) {
    Run("set " + dir / "scene.json" + " ContrastPercent=130 b2=200");
    const std::string shown = Run("show " + dir / "scene.json");
    EXPECT_NE(shown.find("ContrastPercent            130"), std::string::npos) << shown;
    EXPECT_NE(shown.find("b2                         200"), std::string::npos) << shown;
    const std::string before = ReadWholeFile(dir / "scene.json");
    EXPECT_NE(Run("set " + dir / "scene.json" + " Contrast=5", 2).find("unknown setting"), std::string::npos);
    EXPECT_NE(Run("set " + dir / "scene.json" + " ContrastPercent=high", 2).find("whole number"),
              std::string::npos);
    EXPECT_EQ(ReadWholeFile(dir / "scene.json"), before);
    EXPECT_EQ(LoadScene(dir / "scene.json").frames.size(), 3u);
}

#if defined(LUMAFEX_TEST_WITH_OIIO)

void WriteWithOiio(const std::string& path, int channels, const std::vector<std::string>& names,
                   OIIO::TypeDesc type, const void* data, int32_t w = kW, int32_t h = kH) {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out);
    OIIO::ImageSpec layout(w, h, channels, type);
    layout.channelnames = names;
    layout.alpha_channel = channels == 4 ? 3 : -1;
    layout.attribute("oiio:UnassociatedAlpha", 1);
    ASSERT_TRUE(out->open(path, layout));
    ASSERT_TRUE(out->write_image(type, data));
    ASSERT_TRUE(out->close());
}

std::vector<uint8_t> Interleaved(const ColourImage& c) {
    std::vector<uint8_t> rgba;
    for (std::size_t i = 0; i < c.red.size(); ++i) {
        rgba.insert(rgba.end(), {c.red[i], c.green[i], c.blue[i], c.alpha[i]});
    }
    return rgba;
}

TEST_F(Render, PngAndExrGiveTheSameBytesAsTheNetpbmFiles) {
    for (int n = 1; n <= 3; ++n) {
        const std::string num = "000" + std::to_string(n);
        const std::vector<uint8_t> rgba = Interleaved(testing::TestColour(kW, kH, n));
        WriteWithOiio(dir / ("in/c." + num + ".png"), 4, {"R", "G", "B", "A"}, OIIO::TypeDesc::UINT8,
                      rgba.data());
        WriteWithOiio(dir / ("in/s." + num + ".png"), 1, {"Y"}, OIIO::TypeDesc::UINT8,
                      testing::TestShadow(kW, kH, n).value.data());
        // Depth in a named "Z" channel beside another one.
        const DepthImage d = testing::TestDepth(kW, kH, n);
        std::vector<float> yz;
        for (float v : d.value) yz.insert(yz.end(), {0.5f, v});
        WriteWithOiio(dir / ("in/d." + num + ".exr"), 2, {"Y", "Z"}, OIIO::TypeDesc::FLOAT, yz.data());
    }
    WriteText(dir / "png.json", SceneJson("in/c.#.png", "in/s.#.png", "in/d.#.exr", "png/o.#.png"));
    Run("-q render " + dir / "scene.json");
    Run("-q render " + dir / "png.json");
    for (int n = 1; n <= 3; ++n) {
        const std::string num = "000" + std::to_string(n);
        const ColourImage a = ReadColour(dir / ("out/o." + num + ".pam"));
        const ColourImage b = ReadColour(dir / ("png/o." + num + ".png"));
        EXPECT_EQ(a.red, b.red);
        EXPECT_EQ(a.green, b.green);
        EXPECT_EQ(a.blue, b.blue);
        EXPECT_EQ(a.alpha, b.alpha);
    }
}

// The zlib level of PNG outputs comes from --png-compression, else the
// scene's pngCompression (which set and show know), else the default; it
// changes the file's size, never its pixels, and a level outside 0 to 9 is
// refused.
TEST_F(Render, PngCompressionChangesTheSizeAndNotThePixels) {
    WriteText(dir / "png.json", SceneJson("in/c.#.pam", "in/s.#.pgm", "in/d.#.pfm", "o.#.png", 1));
    EXPECT_NE(Run("show " + dir / "png.json").find("pngCompression 4: "), std::string::npos);
    EXPECT_NE(Run("set " + dir / "png.json" + " pngCompression=0").find("pngCompression: 4 -> 0"), std::string::npos);
    EXPECT_NE(Run("show " + dir / "png.json").find("pngCompression 0: "), std::string::npos);
    EXPECT_NE(Run("set " + dir / "png.json" + " pngCompression=10", 2).find("from 0 (none, fastest) to 9"),
              std::string::npos);
    Run("-q render " + dir / "png.json" + " --output-dir " + dir / "none");
    Run("-q render " + dir / "png.json" + " --output-dir " + dir / "most --png-compression 9");
    // Level 0 stores the pixels as they are.
    EXPECT_GE(std::filesystem::file_size(dir / "none/o.0001.png"), std::size_t{kW} * kH * 4);
    EXPECT_GT(std::filesystem::file_size(dir / "none/o.0001.png"), std::filesystem::file_size(dir / "most/o.0001.png"));
    const ColourImage a = ReadColour(dir / "none/o.0001.png");
    const ColourImage b = ReadColour(dir / "most/o.0001.png");
    EXPECT_TRUE(a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha);
    WriteText(dir / "bad.json", SceneJson("in/c.#.pam", "in/s.#.pgm", "in/d.#.pfm", "o.#.png", 1)
                                    .replace(1, 0, R"("pngCompression": -1, )"));
    EXPECT_NE(Run("-q render " + dir / "bad.json", 1).find("pngCompression: must be a whole number"), std::string::npos);
}

// Frames taller than the band of rows decoded at a time, as bytes and as
// 16-bit values (read through floats), come back whole and in place.
TEST_F(Render, TallFramesAreReadWholeBandByBand) {
    constexpr int32_t kTall = 8300;  // over one band of either
    const ColourImage c = testing::TestColour(kW, kTall, 7);
    const std::vector<uint8_t> bytes = Interleaved(c);
    std::vector<uint16_t> shorts(bytes.begin(), bytes.end());
    for (uint16_t& v : shorts) v = static_cast<uint16_t>(v * 257);
    WriteWithOiio(dir / "in/b.png", 4, {"R", "G", "B", "A"}, OIIO::TypeDesc::UINT8, bytes.data(), kW, kTall);
    WriteWithOiio(dir / "in/s.png", 4, {"R", "G", "B", "A"}, OIIO::TypeDesc::UINT16, shorts.data(), kW, kTall);
    for (const char* name : {"in/b.png", "in/s.png"}) {
        const ColourImage read = ReadFrameColour(dir / name, ColourRequest{}).image;
        EXPECT_TRUE(read.red == c.red && read.green == c.green && read.blue == c.blue && read.alpha == c.alpha)
            << name;
    }
}

TEST_F(Render, PartlyTransparentPngColourReachesTheModuleAsStored) {
    ColourImage c = testing::TestColour(kW, kH, 4);
    c.alpha[0] = 1;  // nearly transparent, with a bright stored colour
    c.red[0] = 250;
    const std::vector<uint8_t> rgba = Interleaved(c);
    WriteWithOiio(dir / "in/t.png", 4, {"R", "G", "B", "A"}, OIIO::TypeDesc::UINT8, rgba.data());
    const ColourImage read = ReadColour(dir / "in/t.png");
    EXPECT_EQ(read.red, c.red);
    EXPECT_EQ(read.alpha, c.alpha);
    // Default settings hand every byte back unchanged, and the PNG written
    // holds exactly those bytes.
    WriteText(dir / "t.json", R"({"frames": [{"frame": 1, "color": "in/t.png", "output": "out/t.png"}]})");
    Run("-q render " + dir / "t.json");
    const ColourImage written = ReadColour(dir / "out/t.png");
    EXPECT_EQ(written.red, c.red);
    EXPECT_EQ(written.green, c.green);
    EXPECT_EQ(written.alpha, c.alpha);
}

#endif

TEST(Demo, WritesFramesAndAContactSheet) {
    TempDir dir;
    std::string out;
    ASSERT_EQ(RunProgram("-q demo " + dir / "demo", &out), 0) << out;
    const std::string ext = HaveImageLibrary() ? "png" : "pam";
    EXPECT_TRUE(std::filesystem::exists(dir / ("demo/output/graded.0001." + ext)));
    EXPECT_TRUE(std::filesystem::exists(dir / ("demo/output/graded.0024." + ext)));
    EXPECT_TRUE(std::filesystem::exists(dir / ("demo/contact-sheet." + ext)));
}

}  // namespace
}  // namespace lumafex::tool

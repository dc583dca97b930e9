#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>

#include "image_files/image_io.h"
#include "image_files/netpbm.h"
#include "rendering/render.h"
#include "scenes/frame_list.h"
#include "scenes/scene.h"
#include "scenes/sequence.h"
#include "scenes/settings_block.h"
#include "support.h"

namespace lumafex::tool {
namespace {

using testing::TempDir;
using testing::WriteText;

TEST(SequencePatterns, ExpandLikeVfxTools) {
    EXPECT_EQ(ExpandFramePattern("beauty.#.exr", 7), "beauty.0007.exr");
    EXPECT_EQ(ExpandFramePattern("beauty.####.exr", 7), "beauty.0007.exr");
    EXPECT_EQ(ExpandFramePattern("beauty.@.exr", 7), "beauty.7.exr");
    EXPECT_EQ(ExpandFramePattern("beauty.@@@.exr", 7), "beauty.007.exr");
    EXPECT_EQ(ExpandFramePattern("beauty.%04d.exr", 7), "beauty.0007.exr");
    EXPECT_EQ(ExpandFramePattern("beauty.%d.exr", 12345), "beauty.12345.exr");
    EXPECT_EQ(ExpandFramePattern("beauty.#.exr", 12345), "beauty.12345.exr");
    EXPECT_EQ(ExpandFramePattern("beauty.#.exr", -7), "beauty.-007.exr");
    EXPECT_EQ(ExpandFramePattern("100%.png", 3), "100%.png");
    EXPECT_TRUE(HasFrameNumber("a.%03d.png"));
    EXPECT_FALSE(HasFrameNumber("still.png"));
}

TEST(SequencePatterns, WideNumbersAreWrittenWholeOrRefused) {
    // Up to the widest the program writes, numbers pad in full, so every
    // frame still gets a path of its own; wider ones are refused, never cut.
    EXPECT_EQ(ExpandFramePattern("f.%032d", 7), "f." + std::string(31, '0') + "7");
    EXPECT_EQ(ExpandFramePattern(std::string(32, '@'), -12), "-" + std::string(29, '0') + "12");
    EXPECT_THROW(ExpandFramePattern(std::string(33, '@'), 1), std::length_error);
    EXPECT_EQ(ExpandFramePattern("#", std::numeric_limits<int64_t>::min()), "-9223372036854775808");
}

TEST(FrameLists, TakeWhatPipelineToolsWrite) {
    using Frames = std::vector<int64_t>;
    EXPECT_EQ(ParseFrameList("5"), (Frames{5}));
    EXPECT_EQ(ParseFrameList("3-6"), (Frames{3, 4, 5, 6}));
    EXPECT_EQ(ParseFrameList("1-10x3"), (Frames{1, 4, 7, 10}));
    EXPECT_EQ(ParseFrameList("1-10y3"), (Frames{2, 3, 5, 6, 8, 9}));
    EXPECT_EQ(ParseFrameList("4-1"), (Frames{4, 3, 2, 1}));
    EXPECT_EQ(ParseFrameList("1,5-6,3,5"), (Frames{1, 5, 6, 3}));
    EXPECT_EQ(ParseFrameList("-5--3"), (Frames{-5, -4, -3}));
    EXPECT_TRUE(ParseFrameList("1-1000000000y1").empty());
    for (const char* bad : {"", "a", "3-", "1-2-3", "2x", "1-5x0", "1,,2", "1-5x", "0-2000000", "1-9z2"}) {
        EXPECT_THROW(ParseFrameList(bad), std::invalid_argument) << bad;
    }
}

class SceneFiles : public ::testing::Test {
protected:
    std::string Write(const std::string& text) {
        const std::string path = dir / "scene.json";
        WriteText(path, text);
        return path;
    }
    std::string ErrorOf(const std::string& text) {
        try {
            LoadScene(Write(text));
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }
    TempDir dir;
};

TEST_F(SceneFiles, ReadsItemsSettingsAndAFrameRange) {
    const Scene s = LoadScene(Write(R"({
      "renderFields": true, "fps": 25,
      "cameras": [{"name": "Cam", "keys": [{"time": 1, "position": [1, 2, 3]}]}],
      "objects": [{"name": "3Blur%", "keys": [{"time": 2, "position": [0, 0, 40]},
                                             {"time": 0, "position": [0, 0, 0]}]}],
      "settings": ["Version 1", "Passes 1"],
      "frames": {"first": 10, "last": 12, "color": "in/c.#.pam", "depth": "in/d.@@.pfm",
                 "output": "/out/o.%03d.png"}})"));
    EXPECT_TRUE(s.renderFields);
    ASSERT_EQ(s.frames.size(), 3u);
    EXPECT_EQ(s.frames[0].number, 10);
    EXPECT_DOUBLE_EQ(s.frames[1].time, 11.0 / 25.0);
    EXPECT_EQ(s.frames[0].colour, (dir.path() / "in/c.0010.pam").string());
    EXPECT_EQ(s.frames[2].depth, (dir.path() / "in/d.12.pfm").string());
    EXPECT_EQ(s.frames[0].output, "/out/o.010.png");
    EXPECT_TRUE(s.frames[0].shadow.empty());
    ASSERT_TRUE(s.settings.has_value());
    EXPECT_EQ(s.settings->size(), 2u);

    // Keys are sorted by time; positions are linear between them and held
    // before the first and after the last.
    double p[3];
    s.objects[0].PositionAt(1.0, p);
    EXPECT_DOUBLE_EQ(p[2], 20.0);
    s.objects[0].PositionAt(-5.0, p);
    EXPECT_DOUBLE_EQ(p[2], 0.0);
    s.objects[0].PositionAt(9.0, p);
    EXPECT_DOUBLE_EQ(p[2], 40.0);
    s.cameras[0].PositionAt(0.0, p);
    EXPECT_DOUBLE_EQ(p[0], 1.0);
}

TEST_F(SceneFiles, ReadsAListOfFrames) {
    const Scene s = LoadScene(Write(R"({"frames": [
      {"frame": 3, "color": "a.pam", "output": "b.pam"},
      {"frame": 4, "time": 9.5, "color": "c.pam", "output": "d.pam", "shadow": "s.pgm"}]})"));
    ASSERT_EQ(s.frames.size(), 2u);
    EXPECT_DOUBLE_EQ(s.frames[0].time, 3.0 / 24.0);
    EXPECT_DOUBLE_EQ(s.frames[1].time, 9.5);
    EXPECT_FALSE(s.settings.has_value());
}

TEST_F(SceneFiles, ErrorsNameTheFileAndWhatIsWrong) {
    const std::string bad = ErrorOf("{\n  \"frames\": [,]\n}");
    EXPECT_NE(bad.find("scene.json"), std::string::npos) << bad;
    EXPECT_NE(bad.find("line 2"), std::string::npos) << bad;
    EXPECT_NE(ErrorOf(R"({"frmaes": []})").find("unknown key \"frmaes\""), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"renderFields": false})").find("missing \"frames\""), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"frames": [{"frame": 1, "color": "a.pam"}]})").find("missing \"output\""),
              std::string::npos);
    EXPECT_NE(ErrorOf(R"({"frames": {"first": 1, "last": 3, "color": "a.#.pam", "output": "same.pam"}})")
                  .find("needs a frame number"),
              std::string::npos);
    EXPECT_NE(ErrorOf(R"({"frames": {"first": 5, "last": 3, "color": "a", "output": "b.#"}})")
                  .find("last comes before first"),
              std::string::npos);
    EXPECT_NE(ErrorOf(R"({"objects": [{"name": "x", "keys": [{"time": 0, "position": [1, 2]}]}], "frames": []})")
                  .find("[x, y, z]"),
              std::string::npos);
    EXPECT_NE(ErrorOf("").find("not valid JSON"), std::string::npos);
    // A range's output that is not a text is refused like any other key.
    EXPECT_NE(ErrorOf(R"({"frames": {"first": 1, "last": 2, "color": "a.#", "output": 5}})")
                  .find("scene.json: frames.output: must be a text"),
              std::string::npos);
    // Frame numbers that a following ".." drops, or that come after a NUL
    // the system stops the name at, would give every frame the same file;
    // an empty name gives none.
    EXPECT_NE(ErrorOf(R"({"frames": {"first": 1, "last": 2, "color": "a.#", "output": "o/#/.."}})")
                  .find("frames.output: its frame number is in a folder that \"..\" leaves"),
              std::string::npos);
    EXPECT_NE(ErrorOf(R"({"frames": [{"frame": 1, "color": "a", "output": "o\u0000.#"}]})")
                  .find("frames[0].output: a file name cannot contain a NUL"),
              std::string::npos);
    EXPECT_NE(ErrorOf(R"({"frames": [{"frame": 1, "color": "", "output": "o"}]})")
                  .find("frames[0].color: must name a file"),
              std::string::npos);
}

TEST(NetpbmFiles, RoundTripAndRefuseBadFiles) {
    TempDir dir;
    ColourImage c = testing::TestColour(16, 4, 1);
    WritePam(dir / "c.pam", c);
    const ColourImage back = ReadNetpbmColour(dir / "c.pam");
    EXPECT_EQ(back.red, c.red);
    EXPECT_EQ(back.alpha, c.alpha);

    const DepthImage d = testing::TestDepth(16, 4, 2);
    WritePfm(dir / "d.pfm", d);
    EXPECT_EQ(ReadPfm(dir / "d.pfm").value, d.value);

    // A big-endian PFM (positive scale) stored bottom row first.
    std::string pfm = "Pf\n2 2\n1.0\n";
    for (float v : {3.0f, 4.0f, 1.0f, 2.0f}) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        for (int shift = 24; shift >= 0; shift -= 8) pfm += static_cast<char>(bits >> shift & 0xFF);
    }
    WriteText(dir / "be.pfm", pfm);
    EXPECT_EQ(ReadPfm(dir / "be.pfm").value, (std::vector<float>{1.0f, 2.0f, 3.0f, 4.0f}));

    // A 16-bit PGM scales to bytes.
    WriteText(dir / "g16.pgm", std::string("P5 2 1 65535\n\xff\xff\x80\x00", 17));
    EXPECT_EQ(ReadNetpbmGrey(dir / "g16.pgm").value, (std::vector<uint8_t>{255, 128}));

    auto errorOf = [](const std::string& path) {
        try {
            ReadColour(path);
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    // A tiny file declaring a huge image is refused before any allocation.
    WriteText(dir / "bomb.pam", "P7\nWIDTH 100000\nHEIGHT 100000\nDEPTH 4\nMAXVAL 255\nENDHDR\n");
    EXPECT_NE(errorOf(dir / "bomb.pam").find("larger than this program accepts"), std::string::npos);
    WriteText(dir / "short.pam", "P7\nWIDTH 4\nHEIGHT 4\nDEPTH 4\nMAXVAL 255\nENDHDR\nabc");
    EXPECT_NE(errorOf(dir / "short.pam").find("truncated"), std::string::npos);
    WriteText(dir / "text.pam", "hello");
    EXPECT_NE(errorOf(dir / "text.pam").find("not a binary PAM"), std::string::npos);
    EXPECT_NE(errorOf(dir / "missing.pam").find("missing.pam: no such file"), std::string::npos);
    // A PFM scale that is not a finite number says nothing about byte order.
    for (const char* scale : {"nan", "inf", "-inf", "0"}) {
        const std::string text = std::string("Pf\n1 1\n") + scale + "\n" + std::string(4, '\0');
        EXPECT_THROW(ParsePfm(text, "s.pfm"), ImageError) << scale;
    }
}

TEST(SettingsBlocks, EditByKeyAndRefuseUnknownKeysAndNonNumbers) {
    const auto edits = ParseEdits({"ContrastPercent=120", "r1=-4"});
    const std::vector<std::string> lines = EditLines(nullptr, edits);
    ASSERT_EQ(lines.size(), 38u);
    EXPECT_EQ(lines[0], "Version 1");
    const FilterSettings s = SettingsFromLines(lines);
    EXPECT_EQ(s.ContrastPercent, 120);
    EXPECT_EQ(s.r1, -4);
    EXPECT_EQ(s.RedPercent, 100);
    for (const char* bad : {"Contrast=1", "ContrastPercent=1.5", "ContrastPercent=", "ContrastPercent",
                            "ContrastPercent=99999999999", "SofterExtraFlag=1", "Version=2"}) {
        EXPECT_THROW(ParseEdits({bad}), std::invalid_argument) << bad;
    }
    EXPECT_NE(SettingsTable(s).find("ContrastPercent"), std::string::npos);
}

}  // namespace
}  // namespace lumafex::tool

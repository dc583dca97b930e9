// Hostile and mistaken input: every case gets a clear error naming what is
// wrong, and nothing reads without bound, overflows or crashes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "image_files/files.h"
#include "image_files/images.h"
#include "image_files/netpbm.h"
#include "rendering/render.h"
#include "scenes/frame_list.h"
#include "scenes/scene.h"
#include "scenes/sequence.h"
#include "support.h"

namespace lumafex::tool {
namespace {

using testing::RunProgram;
using testing::TempDir;
using testing::WriteText;

std::string SceneErrorOf(const std::string& text) {
    try {
        ParseScene(text, "/scenes/s.json");
    } catch (const SceneError& e) {
        return e.what();
    }
    return "(no error)";
}

std::string Range(const std::string& first, const std::string& last) {
    return R"({"frames": {"first": )" + first + R"(, "last": )" + last +
           R"(, "color": "c.#.pam", "output": "o.#.pam"}})";
}

TEST(FrameNumberLimits, RefuseNumbersNearTheEndsOfIntegersAndHugeCounts) {
    for (const char* n : {"9223372036854775807", "9223372036854775808", "18446744073709551615",
                          "-9223372036854775808", "1000000001"}) {
        EXPECT_NE(SceneErrorOf(Range(n, n)).find("frame numbers go from -1000000000 to 1000000000"),
                  std::string::npos)
            << n;
    }
    EXPECT_NE(SceneErrorOf(Range("-1000000000", "1000000000")).find("more than 1000000 frames"),
              std::string::npos);
    EXPECT_NE(SceneErrorOf(R"({"frames": [{"frame": 9223372036854775808, "color": "c", "output": "o"}]})")
                  .find("frames[0].frame: frame numbers go from"),
              std::string::npos);
    EXPECT_EQ(ParseScene(Range("999999999", "1000000000"), "s.json").frames.back().number, 1000000000);
    for (const char* bad : {"9223372036854775807", "1000000001", "-9223372036854775808-0", "0-99999999999999999999"}) {
        EXPECT_THROW(ParseFrameList(bad), std::invalid_argument) << bad;
    }
    // Frame-number widths that cannot be a file name are refused, not cut.
    EXPECT_THROW(ExpandFramePattern("o.%040d.png", 1), std::length_error);
    EXPECT_EQ(ExpandFramePattern("o.%012d.png", -1000000000), "o.-01000000000.png");
    EXPECT_NE(SceneErrorOf(R"({"frames": {"first": 1, "last": 2, "color": "c", "output": "o.)" +
                           std::string(40, '#') + R"("}})")
                  .find("frames.output: a frame number of 40 digits is wider than 32"),
              std::string::npos);
}

TEST(SceneLimits, DeepNestingBadNumbersAndOddFpsGetClearErrors) {
    TempDir dir;
    // Far deeper than any scene, with another key after it.
    WriteText(dir / "deep.json", R"({"frames": )" + std::string(100000, '[') + std::string(100000, ']') +
                                     R"(, "fps": 24})");
    std::string out;
    EXPECT_EQ(RunProgram("show " + dir / "deep.json", &out), 1) << out;
    EXPECT_NE(out.find("deep.json: line 1, column 75: not valid here: lists and objects nested more than 64 deep"),
              std::string::npos)
        << out;
    // The JSON library's reason, with the file, line and column.
    EXPECT_EQ(SceneErrorOf("{\"frames\": [],\n \"fps\": 1e400}"),
              "/scenes/s.json: line 2, column 13: not valid JSON: number overflow parsing '1e400'");
    EXPECT_NE(SceneErrorOf("{\"frames\": [}").find("line 1, column 13: not valid JSON: syntax error"),
              std::string::npos);
    EXPECT_NE(SceneErrorOf(R"({"frames": {"first": 1, "last": 2, "color": "c", "output": 5}})")
                  .find("frames.output: must be a text"),
              std::string::npos);
    for (const char* fps : {"1e-320", "0.0005", "20000", "-24"}) {
        EXPECT_NE(SceneErrorOf(std::string(R"({"frames": [], "fps": )") + fps + "}").find("fps: must be from"),
                  std::string::npos)
            << fps;
    }
}

TEST(FileKinds, FoldersAndDevicesAreRefusedAsScenesAndImages) {
    TempDir dir;
    std::string out;
    EXPECT_EQ(RunProgram("show /dev/zero", &out), 1);
    EXPECT_NE(out.find("/dev/zero: is not a regular file"), std::string::npos) << out;
    std::filesystem::create_directories(dir / "folder.pam");
    WriteText(dir / "s.json", R"({"frames": [{"frame": 1, "color": "folder.pam", "output": "o.pam"},
                                              {"frame": 2, "color": "/dev/zero", "output": "p.pam"}]})");
    EXPECT_EQ(RunProgram("-q render " + dir / "s.json", &out), 1);
    EXPECT_NE(out.find("folder.pam: is a folder, not a file"), std::string::npos) << out;
    EXPECT_EQ(RunProgram("-q render " + dir / "s.json --frames 2", &out), 1);
    EXPECT_NE(out.find("/dev/zero: is not a regular file"), std::string::npos) << out;
}

TEST(CommandLine, UsageErrorsExit2AndAModuleNameIsAFile) {
    TempDir dir;
    WritePam(dir / "c.pam", testing::TestColour(16, 8, 1));
    WriteText(dir / "s.json", R"({"frames": [{"frame": 1, "color": "c.pam", "output": "o.pam"}]})");
    std::string out;
    for (const std::string& args : {std::string("--bogus show x"), std::string("render"),
                                    std::string("show a b"), "render " + dir / "s.json --frames",
                                    std::string("--memory-limit 0 show x"), std::string("frobnicate")}) {
        EXPECT_EQ(RunProgram(args, &out), 2) << args << "\n" << out;
    }
    EXPECT_EQ(RunProgram("--help", &out), 0);
    EXPECT_NE(out.find("--memory-limit"), std::string::npos);
    // A bare name is a file in the current folder, not a search on the
    // library path (which would find the system's C library).
    EXPECT_EQ(RunProgram("--module libc.so.6 -q render " + dir / "s.json", &out, false), 1);
    EXPECT_NE(out.find("cannot load module libc.so.6"), std::string::npos) << out;
}

#if defined(LUMAFEX_TEST_WITH_OIIO)

// A tiny one-channel tiled TIFF: a 16x8 image that declares square tiles of
// the given side, with 16 bytes of data.
std::string TiledTiff(uint32_t tileSide, uint16_t bitsPerSample, uint16_t sampleFormat) {
    std::string t = std::string("II*\0", 4);
    auto u16 = [&](uint32_t v) { t.push_back(static_cast<char>(v & 0xFF)); t.push_back(static_cast<char>(v >> 8 & 0xFF)); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    u32(8);
    const uint16_t kShort = 3, kLong = 4;
    const std::vector<std::vector<uint32_t>> entries = {
        {256, kShort, 16}, {257, kShort, 8}, {258, kShort, bitsPerSample}, {259, kShort, 1},
        {262, kShort, 1}, {277, kShort, 1}, {284, kShort, 1}, {322, kLong, tileSide},
        {323, kLong, tileSide}, {324, kLong, 8 + 2 + 12 * 12 + 4}, {325, kLong, 16}, {339, kShort, sampleFormat}};
    u16(static_cast<uint32_t>(entries.size()));
    for (const auto& e : entries) {
        u16(e[0]);
        u16(e[1]);
        u32(1);
        if (e[1] == kShort) {
            u16(e[2]);
            u16(0);
        } else {
            u32(e[2]);
        }
    }
    u32(0);
    t.append(16, '\x55');
    return t;
}

TEST(TileBombs, HugeDeclaredTilesAreRefusedBeforeAPixelIsRead) {
    TempDir dir;
    WriteText(dir / "float.tif", TiledTiff(32768, 32, 3));  // a 4 GB tile
    WriteText(dir / "bytes.tif", TiledTiff(4096, 8, 1));    // a 16 MB tile
    WriteText(dir / "s.json", R"({"frames": [{"frame": 1, "color": "float.tif", "output": "o.pam"},
                                              {"frame": 2, "color": "bytes.tif", "output": "p.pam"}]})");
    std::string out;
    EXPECT_EQ(RunProgram("-q render " + dir / "s.json --frames 1", &out), 1);
    EXPECT_NE(out.find("float.tif: a tile of 32768x32768 would need more memory than the limit of 1024 MB"),
              std::string::npos)
        << out;
    // The budget is the user's to set, by option or environment.
    EXPECT_EQ(RunProgram("--memory-limit 8 -q render " + dir / "s.json --frames 2", &out), 1);
    EXPECT_NE(out.find("bytes.tif: a tile of 4096x4096 would need more memory than the limit of 8 MB"),
              std::string::npos)
        << out;
    EXPECT_EQ(RunProgram("-q render " + dir / "s.json --frames 2", &out), 1);
    EXPECT_EQ(out.find("memory"), std::string::npos) << out;
    const std::string env = "LUMAFEX_MEMORY_LIMIT_MB=8 ";
    EXPECT_EQ(std::system((env + LUMAFEX_PROGRAM + " -q --module " + LUMAFEX_MODULE_PATH + " render " +
                           dir / "s.json --frames 2 2>" + dir / "err.txt").c_str()) >> 8, 1);
    EXPECT_NE(ReadWholeFile(dir / "err.txt").find("limit of 8 MB"), std::string::npos);
}

#endif

}  // namespace
}  // namespace lumafex::tool

// The posterize strength, which the module's scene lines leave out, is kept
// by name in the scene: set, show and render --save-scene keep it, and
// render hands it to the module.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "image_files/files.h"
#include "image_files/netpbm.h"
#include "scenes/scene.h"
#include "support.h"

namespace lumafex::tool {
namespace {

using testing::RunProgram;
using testing::TempDir;
using testing::WriteText;

std::string Scene(const std::string& settings, const std::string& output) {
    return R"({"fps": 24, )" + settings + R"(,
      "frames": {"first": 1, "last": 1, "color": "c.#.pam", "output": ")" + output + R"("}})";
}

TEST(PosterizePercent, SetShowSaveSceneAndRenderKeepIt) {
    TempDir dir;
    WritePam(dir / "c.0001.pam", testing::TestColour(64, 32, 3));
    const std::string lines = R"("settings": ["Version 1", "Passes 1"])";
    WriteText(dir / "lines.json", Scene(lines, "lines.#.pam"));
    WriteText(dir / "default.json", Scene(R"("filters": {"CartoonFlag": 1})", "default.#.pam"));
    WriteText(dir / "named.json",
              Scene(R"("filters": {"CartoonFlag": 1, "PosterizePercent": 120})", "named.#.pam"));
    std::string out;
    // A scene of stored lines gets it by name beside them; the lines never carry it.
    ASSERT_EQ(RunProgram("set " + dir / "lines.json CartoonFlag=1 PosterizePercent=120", &out), 0) << out;
    EXPECT_NE(out.find("PosterizePercent: 100 -> 120"), std::string::npos) << out;
    const tool::Scene edited = LoadScene(dir / "lines.json");
    EXPECT_EQ(edited.posterizePercent, 120);
    for (const std::string& line : *edited.settings) EXPECT_EQ(line.find("Posterize"), std::string::npos);
    ASSERT_EQ(RunProgram("show " + dir / "lines.json", &out), 0) << out;
    EXPECT_NE(out.find("PosterizePercent           120"), std::string::npos) << out;

    for (const char* scene : {"lines.json", "default.json", "named.json"})
        ASSERT_EQ(RunProgram("-q render " + dir / scene + " --save-scene " + dir / ("saved-" + std::string(scene)), &out), 0) << out;
    EXPECT_EQ(ReadWholeFile(dir / "lines.0001.pam"), ReadWholeFile(dir / "named.0001.pam"));
    EXPECT_NE(ReadWholeFile(dir / "lines.0001.pam"), ReadWholeFile(dir / "default.0001.pam"));
    EXPECT_EQ(LoadScene(dir / "saved-lines.json").posterizePercent, 120);
    EXPECT_EQ(LoadScene(dir / "saved-named.json").posterizePercent, 120);

    // Beside stored lines "filters" holds nothing else.
    WriteText(dir / "both.json", Scene(lines + R"(, "filters": {"CartoonFlag": 1})", "both.#.pam"));
    EXPECT_EQ(RunProgram("render " + dir / "both.json", &out), 1) << out;
    EXPECT_NE(out.find("keep one"), std::string::npos) << out;
}

}  // namespace
}  // namespace lumafex::tool

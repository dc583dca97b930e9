// What a render prints where nobody watches a terminal (farm logs): a line
// per frame, a summary, the same as JSON lines, and nothing but errors with -q.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <filesystem>
#include <sstream>

#include "netpbm.h"
#include "support.h"

namespace lumafex::tool {
namespace {

using testing::RunProgram;
using testing::TempDir;
using testing::WriteText;

class Logs : public ::testing::Test {
protected:
    void SetUp() override {
        for (int n = 1; n <= 3; ++n)
            WritePam(dir / ("c." + std::to_string(n) + ".pam"), testing::TestColour(16, 4, n));
        WriteText(dir / "scene.json",
                  R"({"frames": {"first": 1, "last": 3, "color": "c.@.pam", "output": "o.@.pam"}})");
    }
    std::string Run(const std::string& args, int expected = 0) {
        std::string out;
        EXPECT_EQ(RunProgram(args, &out), expected) << out;
        return out;
    }
    TempDir dir;
};

TEST_F(Logs, OneLinePerFrameAndASummaryOutsideATerminal) {
    // Global options may follow the command.
    const std::string text = Run("render " + dir / "scene.json");
    EXPECT_NE(text.find("frame 2 (2/3): "), std::string::npos) << text;
    EXPECT_NE(text.find(" ms, average "), std::string::npos) << text;
    EXPECT_NE(text.find("lumafex: 3 frames: 3 written, 0 skipped, 0 refused, 0 missing"),
              std::string::npos)
        << text;
    EXPECT_EQ(Run("render " + dir / "scene.json" + " -q"), "");

    std::istringstream json(Run("render " + dir / "scene.json" + " --log-format json"));
    std::vector<nlohmann::json> records;
    for (std::string line; std::getline(json, line);) records.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1]["frame"], 2);
    EXPECT_EQ(records[1]["outcome"], "written");
    EXPECT_EQ(records[3]["event"], "summary");
    EXPECT_EQ(records[3]["written"], 3);
}

// Exit status 4 and the summary's counts for frames skipped or missing; the
// other frames still render, in the order --frames gives.
TEST_F(Logs, MissingFramesAndNoClobber) {
    const std::string scene = dir / "scene.json";
    std::filesystem::remove(dir / "c.2.pam");
    std::string text = Run("-q render " + scene, 4);
    EXPECT_NE(text.find("frame 2: " + dir / "c.2.pam" + " is missing"), std::string::npos) << text;
    EXPECT_TRUE(std::filesystem::exists(dir / "o.3.pam"));
    EXPECT_FALSE(std::filesystem::exists(dir / "o.2.pam"));
    Run("-q render " + scene + " --missing-frames skip", 4);
    EXPECT_FALSE(std::filesystem::exists(dir / "o.2.pam"));
    for (const char* policy : {"hold", "black"}) {
        std::filesystem::remove(dir / "o.2.pam");
        Run(std::string("-q render ") + scene + " --missing-frames " + policy, 4);
        EXPECT_TRUE(std::filesystem::exists(dir / "o.2.pam")) << policy;
    }
    text = Run("render " + scene + " --no-clobber --frames 3-1", 4);
    EXPECT_NE(text.find("0 written, 3 skipped, 0 refused, 0 missing"), std::string::npos) << text;
    EXPECT_LT(text.find("frame 3 (1/3)"), text.find("frame 1 (3/3)")) << text;

    // Bad usage exits 2 and suggests the nearest command or option.
    EXPECT_NE(Run("rendr " + scene, 2).find("did you mean \"render\""), std::string::npos);
    EXPECT_NE(Run("render " + scene + " --no-clober", 2).find("did you mean \"--no-clobber\""),
              std::string::npos);
}

}  // namespace
}  // namespace lumafex::tool

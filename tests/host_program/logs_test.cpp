// What a render prints where nobody watches a terminal (farm logs): a line
// per frame, a summary, the same as JSON lines, and nothing but errors with -q.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
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
    std::string Run(const std::string& args) {
        std::string out;
        EXPECT_EQ(RunProgram(args, &out), 0) << out;
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

}  // namespace
}  // namespace lumafex::tool

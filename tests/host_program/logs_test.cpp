// What a render prints where nobody watches a terminal (farm logs): a line
// per frame, a summary, the same as JSON lines, and nothing but errors with -q.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <utility>
#include <vector>

#include "image_files/files.h"
#include "image_files/image_io.h"
#include "image_files/netpbm.h"
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
    EXPECT_NE(text.find(" ms (read "), std::string::npos) << text;
    EXPECT_NE(text.find("), average "), std::string::npos) << text;
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
    // A requeued farm task: frames already written count as done, and a
    // frame it still cannot render still fails the run.
    Run("-q render " + scene + " --no-clobber --existing-done", 0);
    std::filesystem::remove(dir / "o.2.pam");
    Run("-q render " + scene + " --no-clobber --existing-done", 4);

    // Bad usage exits 2 and suggests the nearest command or option.
    EXPECT_NE(Run("rendr " + scene, 2).find("did you mean \"render\""), std::string::npos);
    EXPECT_NE(Run("render " + scene + " --no-clober", 2).find("did you mean \"--no-clobber\""),
              std::string::npos);
}

// Each frame's read, filter and write times are its own (one after the
// other without read-ahead, they fit in the frame's time), and only frames
// the module filtered make the average and the time left: a frame skipped
// takes no time and must not make the others look faster.
TEST_F(Logs, StepTimesAndAnAverageOverTheFramesFiltered) {
    for (int n = 1; n <= 3; ++n)  // large enough for every step to take measurable time
        WritePam(dir / ("c." + std::to_string(n) + ".pam"), testing::TestColour(512, 512, n));
    WriteText(dir / "o.2.pam", "already there");
    auto records = [&](const std::string& args) {
        std::istringstream json(Run("render " + dir / "scene.json" + " --log-format json --no-clobber " + args, 4));
        std::vector<nlohmann::json> out;
        for (std::string line; std::getline(json, line);) out.push_back(nlohmann::json::parse(line));
        return out;
    };
    std::vector<nlohmann::json> r = records("--frames 2,1,3 --no-read-ahead");
    ASSERT_EQ(r.size(), 4u);
    // Nothing filtered yet: no average, no time left, no step taken.
    EXPECT_EQ(r[0]["outcome"], "skipped");
    EXPECT_TRUE(r[0]["average_ms"].is_null() && r[0]["left_s"].is_null()) << r[0];
    EXPECT_EQ(r[0]["read_ms"].get<double>() + r[0]["filter_ms"].get<double>() + r[0]["write_ms"].get<double>(), 0.0);
    for (const nlohmann::json& f : {r[1], r[2]}) {
        EXPECT_GT(f["read_ms"].get<double>(), 0.0) << f;
        EXPECT_GT(f["write_ms"].get<double>(), 0.0) << f;
        EXPECT_LE(f["read_ms"].get<double>() + f["filter_ms"].get<double>() + f["write_ms"].get<double>(),
                  f["ms"].get<double>() + 0.2)
            << f;
    }
    // Rounded to tenths, as the records give them.
    EXPECT_EQ(r[1]["average_ms"], r[1]["ms"]);
    EXPECT_NEAR(r[1]["left_s"].get<double>(), r[1]["ms"].get<double>() / 1000.0, 0.05);
    const double both = (r[1]["ms"].get<double>() + r[2]["ms"].get<double>()) / 2.0;
    EXPECT_NEAR(r[2]["average_ms"].get<double>(), both, 0.1) << r[2];
    EXPECT_EQ(r[3]["filtered"], 2);
    EXPECT_NEAR(r[3]["average_ms"].get<double>(), both, 0.1) << r[3];

    // All skipped: the summary has no average to give.
    r = records("--frames 1-3");
    EXPECT_TRUE(r[3]["average_ms"].is_null()) << r[3];
    const std::string text = Run("render " + dir / "scene.json" + " --no-clobber", 4);
    EXPECT_NE(text.find(" ms (read 0, filter 0, write 0), average n/a, time left n/a: "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("(no frame filtered)"), std::string::npos) << text;
}

// Lines with the times taken out, which differ from run to run.
std::string WithoutTimes(const std::string& log) {
    static const std::regex times(
        R"(\d+ ms \(read \d+, filter \d+, write \d+\), average (\d+ ms, [0-9.]+s left|n/a, time left n/a)|)"
        R"(in [0-9.]+ s \([^)]*\))");
    return std::regex_replace(log, times, "");
}

// An input that is there but cannot be read (truncated, not an image at
// all) fails its frame alone: the others render, the summary counts it and
// the exit status is 1; --unreadable-frames skips it or stands a frame in.
TEST_F(Logs, UnreadableFramesFailAloneOrAreStoodInFor) {
    const std::string scene = dir / "scene.json";
    const std::string whole = ReadWholeFile(dir / "c.2.pam");
    std::vector<std::pair<std::string, std::string>> bad = {{"pam", whole.substr(0, whole.size() / 2)},
                                                            {"pam", "not an image at all\n"}};
#if defined(LUMAFEX_TEST_WITH_OIIO)
    for (int n = 1; n <= 3; ++n)
        WriteOutput(dir / ("c." + std::to_string(n) + ".png"), testing::TestColour(16, 4, n));
    const std::string png = ReadWholeFile(dir / "c.2.png");
    bad.emplace_back("png", png.substr(0, png.size() - 20));
#endif
    for (const auto& [ext, bytes] : bad) {
        WriteText(dir / "s.json", R"({"frames": {"first": 1, "last": 3, "color": "c.@.)" + ext +
                                      R"(", "output": "o.@.pam"}})");
        WriteText(dir / ("c.2." + ext), bytes);
        std::string logs[2];
        for (int k = 0; k < 2; ++k) {
            for (int n = 1; n <= 3; ++n) std::filesystem::remove(dir / ("o." + std::to_string(n) + ".pam"));
            logs[k] = WithoutTimes(Run("render " + dir / "s.json" + (k == 1 ? " --no-read-ahead" : ""), 1));
            EXPECT_TRUE(std::filesystem::exists(dir / "o.1.pam")) << ext;
            EXPECT_FALSE(std::filesystem::exists(dir / "o.2.pam")) << ext;
            EXPECT_TRUE(std::filesystem::exists(dir / "o.3.pam")) << ext;
        }
        EXPECT_EQ(logs[0], logs[1]);
        EXPECT_NE(logs[0].find("lumafex: frame 2: " + dir / ("c.2." + ext)), std::string::npos) << logs[0];
        EXPECT_NE(logs[0].find("2 written, 0 skipped, 0 refused, 0 missing, 1 failed"), std::string::npos) << logs[0];
        EXPECT_NE(logs[0].find("1 of 3 frames failed"), std::string::npos) << logs[0];
    }

    // Skipped: no output, counted as missing. Held: frame 1's colour again
    // (no settings: the module hands the bytes back). Black: all zero.
    WriteText(dir / "c.2.pam", "P7\nWIDTH 16\n");
    std::filesystem::remove(dir / "o.2.pam");
    EXPECT_NE(Run("render " + scene + " --unreadable-frames skip", 4).find("2 written, 0 skipped, 0 refused, 1 missing, 0 failed"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "o.2.pam"));
    Run("-q render " + scene + " --unreadable-frames hold", 4);
    EXPECT_EQ(ReadColour(dir / "o.2.pam").red, testing::TestColour(16, 4, 1).red);
    // The frame before fails too: the next one that can be read stands in.
    WriteText(dir / "c.1.pam", "garbage");
    Run("-q render " + scene + " --unreadable-frames hold --frames 1-2 --no-clobber", 4);
    const std::string black = Run("render " + scene + " --unreadable-frames black --frames 2-3", 4);
    EXPECT_NE(black.find("(input unreadable: black)"), std::string::npos) << black;
    const ColourImage blackFrame = ReadColour(dir / "o.2.pam");
    EXPECT_EQ(blackFrame.alpha, std::vector<uint8_t>(blackFrame.alpha.size(), 0));
}

// --log-format json: every line on standard error is one JSON record, the
// errors included. Text: control bytes in file names and messages are
// escaped, never sent to the terminal.
TEST_F(Logs, EveryLineIsJsonOrTextWithoutControlBytes) {
    WriteText(dir / "c.3.pam", "garbage");
    WritePam(dir / "narrow.pam", testing::TestColour(12, 4, 1));  // goes to the module padded: it renders
    WriteText(dir / "odd.json", R"({"frames": [
        {"frame": 1, "color": "c.1.pam", "output": "o.1.pam"},
        {"frame": 2, "color": "bad\u001b[31m\nname.\u009b2J.pam", "output": "o.2.pam"},
        {"frame": 3, "color": "c.3.pam", "output": "o.3.pam"},
        {"frame": 4, "color": "narrow.pam", "output": "o.4.pam"}]})");
    WriteText(dir / "clash.json", R"({"frames": [{"frame": 1, "color": "c.1.pam", "output": "c.1.pam"}]})");
    const std::string scene = dir / "odd.json";
    const std::string json = Run("render " + scene + " --log-format json", 1) +
                             Run("render " + dir / "clash.json" + " --log-format json", 1) +
                             Run("render " + dir / "none.json" + " --log-format json -q", 1);
    std::istringstream lines(json);
    std::map<std::string, int> events;
    for (std::string line; std::getline(lines, line);) {
        nlohmann::json record;
        ASSERT_NO_THROW(record = nlohmann::json::parse(line)) << line;
        ++events[record["event"].get<std::string>()];
        if (record["event"] == "error" && record.contains("frame") && record["frame"] == 2) {
            EXPECT_NE(record["message"].get<std::string>().find("bad\x1b[31m\nname."), std::string::npos);
        }
    }
    EXPECT_EQ(events["frame"], 4);
    EXPECT_EQ(events["summary"], 1);
    EXPECT_EQ(events["message"], 0) << json;  // the module has nothing to say
    EXPECT_EQ(events["error"], 5) << json;  // 2 frames, their count, the clash, the missing scene

    std::string text = Run("render " + scene, 1) + Run("render " + scene + " -q", 1);
    EXPECT_NE(text.find("bad\\x1b[31m\\nname.\\xc2\\x9b2J.pam is missing"), std::string::npos) << text;
    EXPECT_EQ(text.find("\xc2\x9b"), std::string::npos) << text;
    EXPECT_EQ(std::count_if(text.begin(), text.end(),
                            [](char c) { return c != '\n' && (static_cast<unsigned char>(c) < 0x20 || c == 0x7f); }),
              0)
        << text;
}

}  // namespace
}  // namespace lumafex::tool

#include "settings/scene_lines.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "settings/filter_settings.h"
#include "settings/settings_fields.h"

namespace lumafex {
namespace {

// A scene block as the host hands it out line by line. An honest host stores
// at most size - 1 characters and a terminator; a careless one fills the
// whole buffer with a long line and leaves no terminator.
struct SceneBlock final : LineSource {
    explicit SceneBlock(std::vector<std::string> from) : lines(std::move(from)) {}
    std::vector<std::string> lines;
    std::size_t next = 0;
    bool fillWholeBuffer = false;
    bool junkAfterTerminator = false;
    int calls = 0;

    static int32_t Read(void* context, char* buffer, int32_t size) {
        auto& block = *static_cast<SceneBlock*>(context);
        ++block.calls;
        if (block.next >= block.lines.size()) return -1;
        const std::string& line = block.lines[block.next++];
        const std::size_t room = static_cast<std::size_t>(size);
        if (block.fillWholeBuffer && line.size() >= room) {
            std::memcpy(buffer, line.data(), room);
            return size;
        }
        const std::size_t n = line.size() < room ? line.size() : room - 1;
        std::memcpy(buffer, line.data(), n);
        if (block.junkAfterTerminator) std::memset(buffer + n, '1', room - n);
        buffer[n] = '\0';
        return static_cast<int32_t>(n);
    }

    int32_t ReadLine(char* buffer, int32_t size) override { return Read(this, buffer, size); }
    LineSource& State() { return *this; }
};

struct WrittenLines final : LineSink {
    std::vector<std::string> texts;
    std::vector<int32_t> lengths;

    static void Write(void* context, const char* text, int32_t length) {
        auto& out = *static_cast<WrittenLines*>(context);
        out.texts.emplace_back(text);
        out.lengths.push_back(length);
    }

    void WriteLine(const char* text, int32_t length) override { Write(this, text, length); }
    LineSink& State() { return *this; }
};

FilterSettings Defaults() {
    FilterSettings s{};
    ResetToDefaults(s);
    return s;
}

std::vector<std::string> Save(const FilterSettings& s) {
    WrittenLines out;
    SaveSceneLines(s, out.State());
    return out.texts;
}

FilterSettings Load(std::vector<std::string> lines, FilterSettings start = Defaults()) {
    SceneBlock block{std::move(lines)};
    LoadSceneLines(start, block.State());
    return start;
}

// "Version 1" followed by the saved block of the defaults with line `index`
// (0 = the version line) replaced.
std::vector<std::string> DefaultsWithLine(std::size_t index, std::string text) {
    std::vector<std::string> lines = Save(Defaults());
    lines.at(index) = std::move(text);
    return lines;
}

bool SameRecord(const FilterSettings& a, const FilterSettings& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(SceneLinesSave, DefaultsGiveTheThirtyEightLines) {
    const std::vector<std::string> expected = {
        "Version 1",           "Passes 1",           "RedPercent 100",     "GreenPercent 100",
        "BluePercent 100",     "BrightPercent 100",  "FilterInclude 3",    "SharpenFlag 0",
        "SharpenPercent 100",  "SmoothFlag 0",       "AntialiasVariance 100",
        "AntialiasPercent 100", "BlurFlag 0",        "SofterBlurFlag 0",   "BlurPercent 100",
        "DOFBlurFlag 0",       "DOFBlurPercent 100", "DOFBlurFocalPoint 100",
        "GammaPercent 100",    "ContrastPercent 100", "NoisePercent 100",  "FlipFrameFlag 0",
        "KeyPrepFlag 0",       "BlackFlag 0",        "WhiteFlag 0",        "GreyFlag 0",
        "NoiseFlag 0",         "NegativeFlag 0",     "NegativeImageFlag 0", "CartoonFlag 0",
        "ReverseAlphaFlag 0",  "RangeAlphaFlag 0",   "r1 0",               "g1 0",
        "b1 192",              "r2 96",              "g2 96",              "b2 255",
    };
    WrittenLines out;
    SaveSceneLines(Defaults(), out.State());
    EXPECT_EQ(out.texts, expected);
    // The length handed over is the buffer size, never the text length.
    EXPECT_EQ(out.lengths, std::vector<int32_t>(38, 80));
}

TEST(SceneLinesSave, ExtremeValuesAreWrittenInFullAndReadBack) {
    FilterSettings s = Defaults();
    s.RedPercent = std::numeric_limits<int32_t>::min();
    s.DOFBlurFocalPoint = std::numeric_limits<int32_t>::max();
    s.b2 = -7;
    const std::vector<std::string> lines = Save(s);
    EXPECT_EQ(lines[2], "RedPercent -2147483648");
    EXPECT_EQ(lines[17], "DOFBlurFocalPoint 2147483647");
    EXPECT_EQ(lines[37], "b2 -7");
    EXPECT_TRUE(SameRecord(Load(lines), s));
}

TEST(SceneLinesSave, RoundTripRestoresEveryStoredField) {
    FilterSettings s{};
    int32_t value = -20;
    for (const SettingsField& field : kSettingsFields) s.*field.member = value++ * 37;
    FilterSettings start = Defaults();
    start.PosterizePercent = 321;
    start.SofterExtraFlag = 1;  // SofterBlurFlag of s is not 2: cleared on load
    const FilterSettings loaded = Load(Save(s), start);
    for (const SettingsField& field : kSettingsFields) {
        if (field.inScene) {
            EXPECT_EQ(loaded.*field.member, s.*field.member) << field.name;
        }
    }
    EXPECT_EQ(loaded.PosterizePercent, 321);
    EXPECT_EQ(loaded.SofterExtraFlag, 0);
}

TEST(SceneLinesVersion, VersionLineIsFollowedByPasses) {
    const FilterSettings s = Load({"Version 1", "Passes 3", "RedPercent 50"});
    EXPECT_EQ(s.Passes, 3);
    EXPECT_EQ(s.RedPercent, 50);
    // Any first line beginning with V is taken as the version line.
    EXPECT_EQ(Load({"V", "Passes 3"}).Passes, 3);
}

TEST(SceneLinesVersion, NinthCharacterOneMarksTheVersionLine) {
    EXPECT_EQ(Load({"version 1", "Passes 3"}).Passes, 3);
    EXPECT_EQ(Load({"xxxxxxxx1", "Passes 3"}).Passes, 3);
}

TEST(SceneLinesVersion, BytesAfterAShortFirstLineDoNotCount) {
    SceneBlock block{{"X", "Passes 9", "Passes 3", "RedPercent 5 1111111111111"}};
    block.junkAfterTerminator = true;
    FilterSettings s = Defaults();
    LoadSceneLines(s, block.State());
    EXPECT_EQ(s.Passes, 3);
    EXPECT_EQ(s.RedPercent, 5);
}

TEST(SceneLinesVersion, OtherFirstLineDiscardsTheSecond) {
    const FilterSettings s = Load({"X", "Passes 9", "Passes 3", "RedPercent 50"});
    EXPECT_EQ(s.Passes, 3);
    EXPECT_EQ(s.RedPercent, 50);
    // "version 2" has neither a V first nor a 1 ninth.
    EXPECT_EQ(Load({"version 2", "Passes 9", "Passes 4"}).Passes, 4);
}

TEST(SceneLinesValues, FieldsAreTakenByPositionWhateverTheKey) {
    EXPECT_EQ(Load(DefaultsWithLine(2, "Colour 7")).RedPercent, 7);
    EXPECT_EQ(Load(DefaultsWithLine(2, "GreenPercent 7")).GreenPercent, 100);
}

TEST(SceneLinesValues, LineWithoutANumberKeepsTheField) {
    FilterSettings start = Defaults();
    start.RedPercent = 42;
    for (const char* line : {"RedPercent abc", "RedPercent", "", "   ", "RedPercent -",
                             "RedPercent +", "RedPercent - 5", "12"}) {
        EXPECT_EQ(Load(DefaultsWithLine(2, line), start).RedPercent, 42) << '"' << line << '"';
    }
}

TEST(SceneLinesValues, NumberAfterTheFirstWordIsRead) {
    struct Case {
        const char* line;
        int32_t value;
    };
    for (const Case& c : std::vector<Case>{
             {"RedPercent 12abc", 12},       // text after the number is ignored
             {"  RedPercent \t -5", -5},     // white space around both
             {"RedPercent +9", 9},
             {"RedPercent 007", 7},
             {"R 1 2", 1},
             {"RedPercent 2147483647", 2147483647},
             {"RedPercent -2147483648", std::numeric_limits<int32_t>::min()},
         }) {
        EXPECT_EQ(Load(DefaultsWithLine(2, c.line)).RedPercent, c.value) << c.line;
    }
}

TEST(SceneLinesValues, NumbersBeyondTheRangeSaturate) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(Load(DefaultsWithLine(2, "RedPercent 2147483648")).RedPercent, kMax);
    EXPECT_EQ(Load(DefaultsWithLine(2, "RedPercent -2147483649")).RedPercent, kMin);
    EXPECT_EQ(Load(DefaultsWithLine(2, "RedPercent 99999999999999999999999999")).RedPercent,
              kMax);
    EXPECT_EQ(Load(DefaultsWithLine(2, "RedPercent -99999999999999999999999999")).RedPercent,
              kMin);
}

TEST(SceneLinesBlock, ShortBlockLeavesTheRestUnchanged) {
    FilterSettings start = Defaults();
    start.GreenPercent = 55;
    start.b2 = 11;
    SceneBlock block{{"Version 1", "Passes 2", "RedPercent 50"}};
    LoadSceneLines(start, block.State());
    EXPECT_EQ(start.Passes, 2);
    EXPECT_EQ(start.RedPercent, 50);
    EXPECT_EQ(start.GreenPercent, 55);
    EXPECT_EQ(start.b2, 11);
    // Reading stops at the first end-of-block answer.
    EXPECT_EQ(block.calls, 4);
}

TEST(SceneLinesBlock, EmptyBlockChangesNothing) {
    const FilterSettings start = Defaults();
    EXPECT_TRUE(SameRecord(Load({}, start), start));
    EXPECT_TRUE(SameRecord(Load({"X"}, start), start));
}

TEST(SceneLinesBlock, LongLineIsCutToTheBuffer) {
    // The number starts at position 75: only "1234" fits before the
    // terminator at position 79.
    const std::string line = "RedPercent" + std::string(65, ' ') + "123456789";
    ASSERT_EQ(line.find('1'), 75u);
    for (bool wholeBuffer : {false, true}) {
        SceneBlock block{DefaultsWithLine(2, line)};
        block.fillWholeBuffer = wholeBuffer;
        FilterSettings s = Defaults();
        LoadSceneLines(s, block.State());
        EXPECT_EQ(s.RedPercent, 1234) << wholeBuffer;
        EXPECT_EQ(s.GreenPercent, 100) << wholeBuffer;
    }
}

TEST(SceneLinesBlock, UnterminatedFirstLineIsCutBeforeTheVersionTest) {
    SceneBlock block{{std::string(200, 'x'), "Passes 9", "Passes 3"}};
    block.fillWholeBuffer = true;
    FilterSettings s = Defaults();
    LoadSceneLines(s, block.State());
    EXPECT_EQ(s.Passes, 3);
}

TEST(SceneLinesSofter, ThirdStateSetsTheExtraFlag) {
    FilterSettings s = Load(DefaultsWithLine(13, "SofterBlurFlag 2"));
    EXPECT_EQ(s.SofterBlurFlag, 2);
    EXPECT_EQ(s.SofterExtraFlag, 1);
}

TEST(SceneLinesSofter, OtherStatesClearTheExtraFlag) {
    // Without the clearing, softer blur would stay skipped for the life of
    // the module once the third state had been loaded.
    FilterSettings start = Defaults();
    start.SofterExtraFlag = 1;
    for (const char* line : {"SofterBlurFlag 1", "SofterBlurFlag 0", "SofterBlurFlag 3"}) {
        EXPECT_EQ(Load(DefaultsWithLine(13, line), start).SofterExtraFlag, 0) << line;
    }
}

TEST(SceneLinesSofter, LineWithoutNumberFollowsTheKeptField) {
    FilterSettings start = Defaults();
    start.SofterBlurFlag = 2;
    EXPECT_EQ(Load(DefaultsWithLine(13, "SofterBlurFlag x"), start).SofterExtraFlag, 1);
}

TEST(SceneLinesSofter, BlockEndingBeforeTheLineKeepsTheExtraFlag) {
    FilterSettings start = Defaults();
    start.SofterExtraFlag = 1;
    std::vector<std::string> lines = Save(Defaults());
    lines.resize(13);  // up to BlurFlag
    EXPECT_EQ(Load(lines, start).SofterExtraFlag, 1);
}

TEST(SceneLinesSofter, PosterizePercentIsNeverTouched) {
    FilterSettings start = Defaults();
    start.PosterizePercent = -77;
    EXPECT_EQ(Load(Save(Defaults()), start).PosterizePercent, -77);
}

}  // namespace
}  // namespace lumafex

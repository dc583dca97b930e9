// set and edit change only the text of the values they change, so that a
// scene kept in version control shows a one-line diff for one value; they
// say what changed, and leave a file whose values do not change untouched.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "image_files/files.h"
#include "scenes/json_text_edit.h"
#include "scenes/scene.h"
#include "scenes/settings_block.h"
#include "settings/settings_fields.h"
#include "support.h"

namespace lumafex::tool {
namespace {

using Json = nlohmann::ordered_json;
using testing::RunProgram;
using testing::TempDir;
using testing::WriteText;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::size_t LinesDiffering(const std::string& a, const std::string& b) {
    const std::vector<std::string> x = Lines(a), y = Lines(b);
    if (x.size() != y.size()) return std::max(x.size(), y.size());
    std::size_t n = 0;
    for (std::size_t i = 0; i < x.size(); ++i) n += x[i] != y[i] ? 1 : 0;
    return n;
}

TEST(SceneEdit, SetRewritesOnlyTheChangedValuesSaysWhatAndLeavesAnUnchangedFileAlone) {
    TempDir dir;
    const std::string scene = dir / "scene.json";
    // One line a setting, as version-controlled scenes are laid out; the
    // escapes elsewhere and the line the module reads with extra spaces stay.
    std::string text = "{\n  \"workingSpace\": \"s\\u0052GB\",\n  \"settings\": [\n";
    for (const std::string& line : EditLines(nullptr, {{"ContrastPercent", 115}}))
        text += "    \"" + (line == "GammaPercent 100" ? std::string("GammaPercent   100") : line) + "\",\n";
    text.replace(text.size() - 2, 2, "\n  ],\n  \"frames\": {\"first\": 1, \"last\": 2, \"color\": \"in\\/c.#.pam\", "
                                     "\"output\": \"o.#.pam\"}\n}\n");
    WriteText(scene, text);
    std::string out;
    ASSERT_EQ(RunProgram("set " + scene + " ContrastPercent=120 b2=9", &out), 0) << out;
    EXPECT_EQ(out, "ContrastPercent: 115 -> 120\nb2: 255 -> 9\n");
    std::string expected = text;
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"\"ContrastPercent 115\"", "\"ContrastPercent 120\""},
                                   {"\"b2 255\"", "\"b2 9\""}})
        expected.replace(expected.find(from), from.size(), to);
    EXPECT_EQ(ReadWholeFile(scene), expected);

    // Nothing changes: said, and the file keeps its bytes and its time.
    const auto old = std::filesystem::last_write_time(scene) - std::chrono::hours(1);
    std::filesystem::last_write_time(scene, old);
    ASSERT_EQ(RunProgram("set " + scene + " ContrastPercent=120", &out), 0) << out;
    EXPECT_NE(out.find("no setting changed"), std::string::npos) << out;
    EXPECT_EQ(std::filesystem::last_write_time(scene), old);
    EXPECT_EQ(ReadWholeFile(scene), expected);

    // By name: a value set back to its default keeps its line; a new one
    // follows the others at the file's indentation (tabs here).
    WriteText(scene, "{\n\t\"filters\": {\n\t\t\"ContrastPercent\": 120\n\t},\n\t\"frames\": []\n}\n");
    ASSERT_EQ(RunProgram("-q set " + scene + " ContrastPercent=100 r1=4", &out), 0) << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(ReadWholeFile(scene),
              "{\n\t\"filters\": {\n\t\t\"ContrastPercent\": 100,\n\t\t\"r1\": 4\n\t},\n\t\"frames\": []\n}\n");
    // No settings yet: the block goes before the frames, one line each.
    WriteText(scene, "{\n    \"fps\": 25,\n    \"frames\": []\n}\n");
    ASSERT_EQ(RunProgram("set " + scene + " r1=4", &out), 0) << out;
    const std::string added = ReadWholeFile(scene);
    EXPECT_EQ(added.rfind("{\n    \"fps\": 25,\n    \"settings\": [\n        \"Version 1\",\n", 0), 0u) << added;
    EXPECT_NE(added.find("\n        \"r1 4\",\n"), std::string::npos) << added;
    EXPECT_NE(added.find("\n    ],\n    \"frames\": []\n}\n"), std::string::npos) << added;
}

// A scene text with random layout: whitespace, key order, escapes and
// number forms, with stored lines, settings by name or neither.
class RandomScene {
public:
    explicit RandomScene(unsigned seed) : random_(seed) {}

    std::string Make() {
        std::vector<std::string> members;
        if (Chance(2)) members.push_back(Key("fps") + Number(24));
        if (Chance(2)) members.push_back(Key("workingSpace") + String("sRGB \"/\\ \xC3\xA9"));
        if (Chance(2)) members.push_back(Key("cameras") + Open('[') + Close(']'));
        switch (Pick(3)) {
            case 0: {
                // Stored lines, maybe a short block, some with extra spaces.
                std::vector<std::string> lines = LinesFromSettings(RandomSettings());
                lines.resize(Chance(4) ? 2 + Pick(static_cast<unsigned>(lines.size()) - 2) : lines.size());
                std::string block = Key("settings") + Open('[');
                for (std::size_t i = 0; i < lines.size(); ++i) {
                    std::string line = lines[i];
                    if (Chance(6)) line.insert(line.find(' '), "  ");
                    block += (i > 0 ? "," + Space() : "") + String(line);
                }
                members.push_back(block + Close(']'));
                break;
            }
            case 1: {
                std::string named = Key("filters") + Open('{');
                bool first = true;
                for (const SettingsField& f : kSettingsFields) {
                    if (!f.inScene || !Chance(4)) continue;
                    named += (first ? "" : "," + Space()) + Key(f.name) + std::to_string(Pick(300));
                    first = false;
                }
                members.push_back(named + Close('}'));
                break;
            }
            default: break;
        }
        members.push_back(Key("frames") + (Chance(2) ? Open('[') + Close(']')
                                                     : Open('{') + Key("first") + "1" + "," + Space() + Key("last") +
                                                           "3" + "," + Space() + Key("color") + String("c.#.pam") +
                                                           "," + Space() + Key("output") + String("o.#.pam") + Close('}')));
        std::shuffle(members.begin(), members.end(), random_);
        std::string text = (Chance(8) ? "\xEF\xBB\xBF" : "") + Space() + Open('{');
        for (std::size_t i = 0; i < members.size(); ++i) text += (i > 0 ? "," + Space() : "") + members[i];
        return text + Close('}') + Space();
    }

    FilterSettings RandomSettings() {
        FilterSettings s{};
        ResetToDefaults(s);
        for (const SettingsField& f : kSettingsFields)
            if (f.inScene && Chance(3)) s.*f.member = static_cast<int32_t>(Pick(300));
        return s;
    }
    bool Chance(unsigned oneIn) { return Pick(oneIn) == 0; }
    unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

private:
    std::string Space() {
        static const char* const spaces[] = {"", " ", "\n", "\n  ", "\n\t\t", "\r\n    ", "  \n\n      "};
        return spaces[Pick(7)];
    }
    std::string Open(char c) { return std::string(1, c) + Space(); }
    std::string Close(char c) { return Space() + std::string(1, c); }
    std::string Key(const std::string& name) { return String(name) + (Chance(2) ? ": " : Space() + ":" + Space()); }
    // Characters escaped at random, as a hand or another tool may have written them.
    std::string String(const std::string& text) {
        std::string out = "\"";
        for (const char c : text) {
            if (c == '"' || c == '\\') {
                out += Chance(2) ? std::string("\\") + c : (c == '"' ? "\\u0022" : "\\u005C");
            } else if (c == '/' && Chance(2)) {
                out += "\\/";
            } else if (c >= 'a' && c <= 'z' && Chance(10)) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
        return out + "\"";
    }
    std::string Number(unsigned n) { return std::to_string(n) + (Chance(2) ? ".0" : "e0"); }
    std::mt19937 random_;
};

// Whatever the layout, the edited text reads as the document the full
// writer would write (and so as the scene with the new settings), and only
// lines holding a changed value differ.
TEST(SceneEdit, RandomLayoutsEditToTheFullWritersDocumentTouchingOnlyChangedLines) {
    for (unsigned seed = 1; seed <= 400; ++seed) {
        RandomScene random(seed);
        const std::string text = random.Make();
        Scene scene;
        ASSERT_NO_THROW(scene = ParseScene(text, "/random/scene.json")) << seed << "\n" << text;
        const std::vector<std::string> lines = LinesFromSettings(random.RandomSettings());
        const Json full = SceneDocumentWithSettings(scene, lines);
        const std::optional<std::string> edited = EditJsonText(text, scene.document, full);
        ASSERT_TRUE(edited) << seed << "\n" << text;
        ASSERT_EQ(Json::parse(*edited), full) << seed << "\n" << text << "\n" << *edited;
        EXPECT_EQ(LinesFromSettings(SettingsFromLines(*ParseScene(*edited, "/random/scene.json").settings)), lines);
        const bool extended = scene.settings && scene.settings->size() < lines.size();  // a short block
        if (!extended && Lines(*edited).size() == Lines(text).size()) {
            EXPECT_LE(LinesDiffering(text, *edited), ChangedSettings(scene, lines).size())
                << seed << "\n" << text << "\n" << *edited;
        }
        // The same values again: the text is the text.
        EXPECT_EQ(SceneTextWithSettings(ParseScene(*edited, "/random/scene.json"), lines), *edited) << seed;
    }
}

// A layout the minimal edit cannot follow (a key given twice) is written
// out whole, and still reads as the new settings.
TEST(SceneEdit, AKeyGivenTwiceFallsBackToTheFullWriter) {
    const std::string text = R"({"filters": {"r1": 1, "r1": 2}, "frames": []})";
    const Scene scene = ParseScene(text, "/twice/scene.json");
    const std::vector<std::string> lines = EditLines(&*scene.settings, {{"r1", 7}});
    EXPECT_FALSE(EditJsonText(text, scene.document, SceneDocumentWithSettings(scene, lines)));
    const std::string written = SceneTextWithSettings(scene, lines);
    EXPECT_EQ(SettingsFromLines(*ParseScene(written, "/twice/scene.json").settings).r1, 7) << written;
}

}  // namespace
}  // namespace lumafex::tool

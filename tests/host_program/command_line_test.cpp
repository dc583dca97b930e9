// The command line as people type it: missing and misspelt commands and
// settings, the dry run of a render, and the bash completion kept level
// with the program's options.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "image_files/files.h"
#include "image_files/netpbm.h"
#include "support.h"

namespace lumafex::tool {
namespace {

using testing::RunProgram;
using testing::TempDir;
using testing::WriteText;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CommandLine, AMissingOrUnknownCommandIsNamedWithTheCommands) {
    std::string out;
    EXPECT_EQ(RunProgram("", &out, false), 2);
    EXPECT_NE(out.find("montage"), std::string::npos) << out;
    EXPECT_NE(out.find("--log-format"), std::string::npos) << out;

    EXPECT_EQ(RunProgram("frobnicate", &out, false), 2);
    EXPECT_NE(out.find("\"frobnicate\" is not a command; the commands are: render, show"),
              std::string::npos) << out;
    EXPECT_EQ(out.find("A subcommand is required"), std::string::npos) << out;
    EXPECT_EQ(RunProgram("-q rendr x.json", &out, false), 2);
    EXPECT_NE(out.find("did you mean \"render\""), std::string::npos) << out;
    EXPECT_EQ(RunProgram("farm", &out, false), 2);
    EXPECT_NE(out.find("a command is needed: submit"), std::string::npos) << out;
}

TEST(CommandLine, SetRefusesMisspeltNamesAndValuesOutsideTheDialogsRangeAndReadingWarns) {
    TempDir dir;
    const std::string scene = dir / "s.json";
    // A stored value the dialog would refuse still loads and stays as it is.
    const std::string text =
        R"({"filters": {"RedPercent": -5}, "frames": [{"frame": 1, "color": "c.pam", "output": "o.pam"}]})";
    WriteText(scene, text);
    std::string out;
    EXPECT_EQ(RunProgram("set " + scene + " Contrast=120", &out), 2);
    EXPECT_NE(out.find("did you mean \"ContrastPercent\"?"), std::string::npos) << out;
    EXPECT_EQ(RunProgram("set " + scene + " BluePercent=-1", &out), 2);
    EXPECT_NE(out.find("from 0 to 2147483647 (blue gain, percent)"), std::string::npos) << out;
    EXPECT_EQ(RunProgram("set " + scene + " Passes=5", &out), 2);
    EXPECT_NE(out.find("to 4"), std::string::npos) << out;
    EXPECT_EQ(ReadText(scene), text);
    EXPECT_EQ(RunProgram("show " + scene, &out), 0) << out;
    EXPECT_NE(out.find(" -5 "), std::string::npos) << out;
    // Beyond where its filter stops changing the image, a value is stored
    // with a warning that names the end it acts as.
    EXPECT_EQ(RunProgram("set " + scene + " GammaPercent=30000", &out), 0) << out;
    EXPECT_NE(out.find("GammaPercent 30000 acts as 25500"), std::string::npos) << out;
    EXPECT_EQ(RunProgram("render --dry-run " + scene, &out), 4) << out;
    EXPECT_NE(out.find("RedPercent -5 is outside 0 to 2147483647 (kept"), std::string::npos) << out;
}

TEST(CommandLine, DryRunReportsEachFrameWritesNothingAndExitsAsTheRenderWould) {
    TempDir dir;
    WritePam(dir / "c1.pam", testing::TestColour(8, 4, 1));
    WritePam(dir / "c3.pam", testing::TestColour(8, 4, 3));
    WritePam(dir / "o3.pam", testing::TestColour(8, 4, 3));
    const std::string frames = R"({"frame": 1, "color": "c1.pam", "output": "o1.pam"},
        {"frame": 2, "color": "c2.pam", "output": "o2.pam"},
        {"frame": 3, "color": "c3.pam", "output": "o3.pam"})";
    WriteText(dir / "s.json", R"({"frames": [)" + frames + "]}");
    const std::string before = ReadText(dir / "o3.pam");
    std::string out;
    EXPECT_EQ(RunProgram("render --dry-run " + dir / "s.json", &out), 4) << out;
    EXPECT_NE(out.find("c2.pam (MISSING)"), std::string::npos) << out;
    EXPECT_NE(out.find("o1.pam (new)"), std::string::npos) << out;
    EXPECT_NE(out.find("o3.pam (exists: replaced)"), std::string::npos) << out;
    EXPECT_NE(out.find("working space sRGB"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir / "o1.pam"));
    EXPECT_EQ(ReadText(dir / "o3.pam"), before);
    EXPECT_EQ(RunProgram("render --dry-run --frames 1 " + dir / "s.json", &out), 0) << out;
    EXPECT_EQ(RunProgram("render --dry-run --frames 3 --no-clobber " + dir / "s.json", &out), 4) << out;
    EXPECT_EQ(RunProgram("render --dry-run --frames 1,3 --no-clobber --existing-done " + dir / "s.json", &out), 0)
        << out;

    // The checks of a render: an output onto an input stops it.
    WriteText(dir / "onto.json",
              R"({"frames": [{"frame": 1, "color": "c1.pam", "output": "c3.pam"},
                             {"frame": 3, "color": "c3.pam", "output": "o3.pam"}]})");
    EXPECT_EQ(RunProgram("render --dry-run " + dir / "onto.json", &out), 1) << out;
    EXPECT_NE(out.find("nothing was written"), std::string::npos) << out;
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 5u);  // the three frames and the two scenes
}

// The commands of a command, and its options, as its --help lists them.
void ReadHelp(const std::string& command, std::set<std::string>& subcommands,
              std::set<std::string>& options) {
    std::string out;
    ASSERT_EQ(RunProgram(command + " --help", &out, false), 0) << out;
    std::istringstream lines(out);
    std::string line, section;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] != ' ') section = line;
        if (line.rfind("  ", 0) != 0 || line.size() < 3 || line[2] == ' ') continue;
        const std::string first = line.substr(2, line.find(' ', 2) - 2);
        if (section.rfind("Subcommands", 0) == 0) subcommands.insert(first);
        if (section.rfind("Options", 0) != 0 || first[0] != '-') continue;
        std::istringstream names(first);
        for (std::string name; std::getline(names, name, ',');) options.insert(name);
    }
}

// A table of the completion script: local -A name=( [key]="words" ... ).
std::map<std::string, std::set<std::string>> CompletionTable(const std::string& script,
                                                             const std::string& name) {
    std::map<std::string, std::set<std::string>> table;
    std::istringstream lines(script.substr(script.find("local -A " + name + "=(")));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line) && line.find(')') != line.find_first_not_of(' ')) {
        const std::size_t open = line.find('['), close = line.find("]=\"");
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream words(line.substr(close + 3, line.rfind('"') - close - 3));
        std::set<std::string>& entry = table[line.substr(open + 1, close - open - 1)];
        for (std::string w; words >> w;) entry.insert(w);
    }
    return table;
}

TEST(CommandLine, BashCompletionListsEveryCommandAndOption) {
    const std::string script = ReadText(
        (std::filesystem::path(__FILE__).parent_path() / "../../packaging/lumafex.bash-completion")
            .string());
    ASSERT_NE(script.find("local -A options=("), std::string::npos);
    auto commands = CompletionTable(script, "commands");
    auto options = CompletionTable(script, "options");
    // Every command and command of a command, from the program's help.
    std::vector<std::string> pending{""};
    std::size_t checked = 0;
    while (!pending.empty()) {
        const std::string command = pending.back();
        pending.pop_back();
        std::set<std::string> subcommands, helpOptions;
        ReadHelp(command, subcommands, helpOptions);
        const std::string key = command.empty() ? "lumafex" : command;
        EXPECT_TRUE(options.count(key)) << "the completion has no options for \"" << key << "\"";
        for (const std::string& o : helpOptions)
            EXPECT_TRUE(options[key].count(o)) << "the completion of \"" << key << "\" lacks " << o;
        if (!subcommands.empty()) {
            EXPECT_EQ(commands[key], subcommands) << "the commands of " << key;
        }
        for (const std::string& sub : subcommands) pending.push_back(command.empty() ? sub : command + " " + sub);
        ++checked;
    }
    EXPECT_GE(checked, 10u);
}

}  // namespace
}  // namespace lumafex::tool

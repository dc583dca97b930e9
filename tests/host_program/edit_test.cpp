// "lumafex edit" where no display can be opened: the program says why and
// fails, instead of Qt ending it, and the scene stays as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support.h"

namespace lumafex::tool {
namespace {

#if defined(LUMAFEX_TEST_WITH_QT)

using testing::RunProgram;
using testing::TempDir;
using testing::WriteText;

// Sets an environment variable, or unsets it when value is null, until the
// end of the scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            saved_ = old;
            hadValue_ = true;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (hadValue_) {
            setenv(name_.c_str(), saved_.c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string name_;
    std::string saved_;
    bool hadValue_ = false;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(EditWithoutDisplay, SaysWhyAndFailsInsteadOfAborting) {
    TempDir dir;
    const std::string scene = dir / "scene.json";
    const std::string text = R"({"settings": ["Version 1", "Passes 1"], "frames": []})";
    WriteText(scene, text);
    // A display number no X server serves here.
    int number = 4000;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) ++number;
    const std::string unserved = ":" + std::to_string(number);

    struct Case {
        const char* platform;  // QT_QPA_PLATFORM, null for unset
        const char* display;   // DISPLAY, null for unset
        std::string says;
    };
    for (const Case& c : {Case{nullptr, unserved.c_str(), "\"" + unserved + "\""},
                          Case{"bogus", unserved.c_str(), "\"bogus\""},
                          Case{nullptr, nullptr, "DISPLAY is not set"}}) {
        const ScopedVariable platform("QT_QPA_PLATFORM", c.platform);
        const ScopedVariable display("DISPLAY", c.display);
        const ScopedVariable wayland("WAYLAND_DISPLAY", nullptr);
        const ScopedVariable session("XDG_SESSION_TYPE", nullptr);
        std::string output;
        EXPECT_EQ(RunProgram("edit " + scene, &output), 1) << output;
        EXPECT_NE(output.find("needs a display"), std::string::npos) << output;
        // And what to use instead, for this scene.
        for (const std::string& instead : {"lumafex show '" + scene + "'", "lumafex set '" + scene + "'"})
            EXPECT_NE(output.find(instead), std::string::npos) << output;
        EXPECT_NE(output.find(c.says), std::string::npos) << output;
        EXPECT_EQ(ReadText(scene), text);
    }
}

#endif

}  // namespace
}  // namespace lumafex::tool

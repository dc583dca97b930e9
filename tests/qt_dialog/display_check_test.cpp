// The check that Qt can open a display, before an application exists.
#include "ui/qt/display_check.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lumafex::ui {
namespace {

// The variables that choose Qt's platform, set for one case and put back.
class PlatformEnvironment {
public:
    PlatformEnvironment(const char* platform, const char* display) {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            saved_.push_back({name, value != nullptr, value != nullptr ? value : ""});
            unsetenv(name);
        }
        if (platform != nullptr) setenv("QT_QPA_PLATFORM", platform, 1);
        if (display != nullptr) setenv("DISPLAY", display, 1);
    }
    ~PlatformEnvironment() {
        for (const Saved& s : saved_) {
            if (s.set) {
                setenv(s.name, s.value.c_str(), 1);
            } else {
                unsetenv(s.name);
            }
        }
    }
    PlatformEnvironment(const PlatformEnvironment&) = delete;
    PlatformEnvironment& operator=(const PlatformEnvironment&) = delete;

private:
    static constexpr const char* kNames[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY",
                                             "XDG_SESSION_TYPE"};
    struct Saved {
        const char* name;
        bool set;
        std::string value;
    };
    std::vector<Saved> saved_;
};

std::string SocketOf(int number) {
    std::string path = "/tmp/.X11-unix/X";
    path += std::to_string(number);
    return path;
}

std::string DisplayOf(int number) {
    std::string name = ":";
    name += std::to_string(number);
    return name;
}

// A display number no X server serves here.
// From first up. The two tests below run in parallel processes and search
// from different numbers, so the display one takes for "nobody serves this"
// is never the one the other starts a server on.
int FreeDisplayNumber(int first) {
    int number = first;
    while (std::filesystem::exists(SocketOf(number))) ++number;
    return number;
}

TEST(QtDisplayCheck, NamesThePlatformsThatCannotStart) {
    const std::string unserved = DisplayOf(FreeDisplayNumber(4600));
    struct Case {
        const char* platform;
        const char* display;
        const char* says;  // null: the platform can start
    };
    for (const Case& c : {Case{"offscreen", nullptr, nullptr},
                          Case{"bogus;offscreen:fontengine=freetype", nullptr, nullptr},
                          Case{"bogus", nullptr, "platform \"bogus\": Qt has no plug-in for it"},
                          Case{";", nullptr, "QT_QPA_PLATFORM names no platform"},
                          Case{nullptr, unserved.c_str(), "no X server accepts a connection"},
                          Case{"xcb", "not a display", "is not a display name"},
                          Case{nullptr, nullptr, "platform \"xcb\": DISPLAY is not set"}}) {
        const PlatformEnvironment environment(c.platform, c.display);
        const std::string problem = QtDisplayProblem();
        if (c.says == nullptr) {
            EXPECT_EQ(problem, "") << c.platform;
        } else {
            EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
        }
    }
}

// A display that a real X server serves passes, when Xvfb is installed.
TEST(QtDisplayCheck, AcceptsARunningXServer) {
    const int number = FreeDisplayNumber(4100);
    const std::string display = DisplayOf(number);
    std::vector<std::string> args = {"Xvfb", display, "-nolisten", "tcp", "-screen", "0",
                                     "64x64x24"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t server = 0;
    const int spawned = posix_spawnp(&server, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) GTEST_SKIP() << "Xvfb is not installed";

    const std::string socket = SocketOf(number);
    for (int i = 0; i < 100 && !std::filesystem::exists(socket); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    {
        const PlatformEnvironment environment("xcb", display.c_str());
        EXPECT_EQ(QtDisplayProblem(), "");
    }
    kill(server, SIGTERM);
    int status = 0;
    waitpid(server, &status, 0);
}

}  // namespace
}  // namespace lumafex::ui

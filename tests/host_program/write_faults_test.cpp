// Faults while writing: a full disk, outputs that would overwrite inputs or
// each other, interruption, and scenes behind links or without write
// permission. A file is written whole or not at all; nothing is left behind.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "image_files/files.h"
#include "image_files/image_io.h"
#include "image_files/netpbm.h"
#include "support.h"

extern char** environ;

namespace lumafex::tool {
namespace {

namespace fs = std::filesystem;
using testing::RunProgram;
using testing::TempDir;
using testing::WriteText;

// Names of the hidden temporary files left in a folder.
std::vector<std::string> Leftovers(const fs::path& dir) {
    std::vector<std::string> hidden;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name[0] == '.') hidden.push_back(name);
    }
    return hidden;
}

// A small tmpfs, unmounted however the test ends.
class SmallDisk {
public:
    explicit SmallDisk(const fs::path& at) : at_(at) {
        fs::create_directories(at_);
        mounted_ = mount("tmpfs", at_.c_str(), "tmpfs", 0, "size=200k") == 0;
    }
    ~SmallDisk() {
        if (mounted_) umount2(at_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    fs::path at_;
    bool mounted_ = false;
};

#if defined(LUMAFEX_TEST_WITH_OIIO)
TEST(FullDisk, PngOutputsAreVerifiedAndAFailedFrameChangesNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root; the full-disk case is not run";
    TempDir dir;
    SmallDisk disk(dir.path() / "disk");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here; the full-disk case is not run";
    // Noise does not compress: each 128x128 PNG takes about 64 KB.
    ColourImage noise;
    noise.Resize(128, 128);
    std::mt19937 random(7);
    for (auto* plane : {&noise.red, &noise.green, &noise.blue, &noise.alpha})
        for (uint8_t& v : *plane) v = static_cast<uint8_t>(random());
    WritePam(dir / "c.pam", noise);
    WriteText(dir / "s.json", R"({"frames": {"first": 1, "last": 6, "color": "c.pam",
                                             "output": "disk/o.#.png"}})");
    for (int n = 1; n <= 6; ++n) WriteText(dir / ("disk/o.000" + std::to_string(n) + ".png"), "a good frame");
    std::string out;
    // One write at a time: with more frames in flight, the writes already
    // started when one fails are finished (and logged) first.
    EXPECT_EQ(RunProgram("-q render " + dir / "s.json --frames-in-flight 3", &out), 1) << out;
    // The disk fills up at some frame; that frame is reported, the frames
    // before it are whole, and it and the frames after it are untouched.
    const std::size_t at = out.find("lumafex: frame ");
    ASSERT_NE(at, std::string::npos) << out;
    const int failed = std::stoi(out.substr(at + 15));
    EXPECT_NE(out.find(": cannot write: No space left on device (nothing was changed)"), std::string::npos) << out;
    EXPECT_GE(failed, 2);
    for (int n = 1; n <= 6; ++n) {
        const std::string path = dir / ("disk/o.000" + std::to_string(n) + ".png");
        if (n < failed) {
            EXPECT_EQ(ReadColour(path).red, noise.red) << path;
        } else {
            EXPECT_EQ(ReadWholeFile(path), "a good frame") << path;
        }
    }
    EXPECT_TRUE(Leftovers(dir.path() / "disk").empty());
}
#endif

TEST(OutputClashes, OutputsThatReplaceInputsOrEachOtherAreRefusedFirst) {
    TempDir dir;
    fs::create_directories(dir.path() / "in");
    for (const char* n : {"1", "2"}) WritePam(dir / ("in/c." + std::string(n) + ".pam"), testing::TestColour(16, 8, 1));
    const std::string before = ReadWholeFile(dir / "in/c.2.pam");
    fs::create_symlink(dir.path() / "in", dir.path() / "link");
    // Frame 1's output is frame 2's colour input, spelt through a link.
    WriteText(dir / "s.json", R"({"frames": {"first": 1, "last": 2, "color": "in/c.@.pam",
                                             "output": "link/../link/c.@.pam"}})");
    std::string out;
    EXPECT_EQ(RunProgram("-q render " + dir / "s.json --frames 2", &out), 1);
    // Every frame is checked, whichever are rendered: frame 1's output is its own input.
    EXPECT_NE(out.find("frame 1 would overwrite an input of frame 1"), std::string::npos) << out;
    EXPECT_EQ(RunProgram("-q render " + dir / "s.json", &out), 1);
    EXPECT_EQ(ReadWholeFile(dir / "in/c.2.pam"), before);
    // Two frames writing one name into --output-dir.
    WriteText(dir / "l.json", R"({"frames": [{"frame": 1, "color": "in/c.1.pam", "output": "a/o.pam"},
                                             {"frame": 2, "color": "in/c.2.pam", "output": "b/o.pam"}]})");
    EXPECT_EQ(RunProgram("-q render " + dir / "l.json --output-dir " + dir / "out", &out), 1);
    EXPECT_NE(out.find("frame 1 and frame 2 would write the same file"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir / "out"));
    EXPECT_EQ(RunProgram("-q render " + dir / "l.json --save-scene " + dir / "in/c.1.pam", &out), 1);
    EXPECT_NE(out.find("--save-scene would overwrite an input of frame 1"), std::string::npos) << out;
}

// Starts the program on a long render, signals it once its first output is
// there, and returns its exit status.
int InterruptedRender(const TempDir& dir, int signal, const std::string& first = "out/o.0001.pam") {
    const std::string program = LUMAFEX_PROGRAM, module = LUMAFEX_MODULE_PATH, scene = dir / "s.json";
    std::vector<const char*> argv = {program.c_str(), "-q", "--module", module.c_str(), "render", scene.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv.data()), environ) != 0) return -1;
    for (int i = 0; i < 3000 && !fs::exists(dir / first); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Interruption, RemovesTheUnfinishedFileAndExits130Or143) {
    TempDir dir;
    WritePam(dir / "c.pam", testing::TestColour(1024, 512, 1));
    WriteText(dir / "s.json", R"({"frames": {"first": 1, "last": 400, "color": "c.pam", "output": "out/o.#.pam"}})");
    EXPECT_EQ(InterruptedRender(dir, SIGINT), 130);
    EXPECT_TRUE(Leftovers(dir.path() / "out").empty());
    fs::rename(dir.path() / "out", dir.path() / "first");
    EXPECT_EQ(InterruptedRender(dir, SIGTERM), 143);
    EXPECT_TRUE(Leftovers(dir.path() / "out").empty());
    for (const auto& entry : fs::directory_iterator(dir.path() / "out"))  // whole files only
        EXPECT_EQ(fs::file_size(entry.path()), fs::file_size(dir / "out/o.0001.pam")) << entry.path();
}

#if defined(LUMAFEX_TEST_WITH_OIIO)
TEST(Interruption, AHangUpDuringAnExrRenderRemovesItsFileAndExits129) {
    TempDir dir;
    WritePam(dir / "c.pam", testing::TestColour(2048, 1024, 1));
    WriteText(dir / "s.json", R"({"frames": {"first": 1, "last": 400, "color": "c.pam", "output": "out/o.#.exr"}})");
    EXPECT_EQ(InterruptedRender(dir, SIGHUP, "out/o.0001.exr"), 129);
    EXPECT_TRUE(Leftovers(dir.path() / "out").empty());
    for (const auto& entry : fs::directory_iterator(dir.path() / "out"))  // whole files only
        EXPECT_EQ(ReadColour(entry.path().string()).width, 2048) << entry.path();
}

// Images are encoded straight into the temporary file beside the target:
// nothing goes through the temporary folder, where a planted link at a name
// the program would use could make it overwrite another file.
TEST(ScratchFiles, ImagesAreEncodedBesideTheTargetNeverInTheTemporaryFolder) {
    TempDir dir;
    fs::create_directories(dir.path() / "tmp");
    WritePam(dir / "c.pam", testing::TestColour(64, 32, 1));
    WriteText(dir / "victim", "precious");
    for (const char* ext : {"exr", "tif", "png"}) {
        WriteText(dir / "s.json", std::string(R"({"frames": {"first": 1, "last": 1, "color": "c.pam", "output": "o.#.)") + ext + R"("}})");
        // The shell's process number is the program's after exec: links at
        // the names it once encoded into, in the folder TMPDIR names.
        const std::string link = std::string("$TMPDIR/lumafex-$$-o.0001.") + ext;
        const std::string command = "cd " + dir.path().string() + " && TMPDIR=" + (dir / "tmp") +
                                    " sh -c 'ln -s " + (dir / "victim") + " " + link + " && exec " +
                                    LUMAFEX_PROGRAM + " -q --module " + LUMAFEX_MODULE_PATH + " render s.json'";
        EXPECT_EQ(std::system(command.c_str()), 0) << ext;
        EXPECT_EQ(ReadColour(dir / ("o.0001." + std::string(ext))).width, 64) << ext;
    }
    EXPECT_EQ(ReadWholeFile(dir / "victim"), "precious");
    for (const auto& entry : fs::directory_iterator(dir.path() / "tmp"))  // the links alone
        EXPECT_TRUE(fs::is_symlink(entry.symlink_status())) << entry.path();
    EXPECT_TRUE(Leftovers(dir.path()).empty());
}
#endif

// A file-size limit (ulimit -f) is a failed write like a full disk: the
// frame is named with the reason, its temporary file removed, the target
// untouched, and the run ends with 1 instead of being killed by SIGXFSZ.
TEST(FileSizeLimit, AWritePastItFailsCleanly) {
    TempDir dir;
    WritePam(dir / "c.pam", testing::TestColour(512, 256, 1));
    fs::create_directories(dir.path() / "out");
    std::vector<std::string> outputs = {"o.0001.pam"};
#if defined(LUMAFEX_TEST_WITH_OIIO)
    outputs.push_back("o.0001.exr");
#endif
    for (const std::string& output : outputs) {
        WriteText(dir / "s.json", R"({"frames": {"first": 1, "last": 1, "color": "c.pam", "output": "out/)" +
                                      output.substr(0, 2) + "#" + output.substr(6) + R"("}})");
        WriteText(dir / ("out/" + output), "a good frame");
        // 64 blocks of 512 bytes: the frame takes far more.
        const std::string command = "ulimit -f 64 && exec " + std::string(LUMAFEX_PROGRAM) + " -q --module " +
                                    LUMAFEX_MODULE_PATH + " render " + (dir / "s.json") + " 2>" + (dir / "err");
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << output << ": " << status;
        const std::string err = ReadWholeFile(dir / "err");
        EXPECT_NE(err.find("frame 1"), std::string::npos) << err;
        EXPECT_NE(err.find("File too large"), std::string::npos) << err;
        EXPECT_EQ(ReadWholeFile(dir / ("out/" + output)), "a good frame");
        EXPECT_TRUE(Leftovers(dir.path() / "out").empty()) << output;
    }
}

TEST(SetCommand, WritesThroughLinksKeepsTheModeAndRefusesReadOnlyScenes) {
    TempDir dir;
    WriteText(dir / "real.json", R"({"frames": []})");
    fs::permissions(dir / "real.json", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("real.json", dir.path() / "link.json");
    std::string out;
    EXPECT_EQ(RunProgram("set " + dir / "link.json ContrastPercent=130", &out), 0) << out;
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.json"));
    EXPECT_NE(ReadWholeFile(dir / "real.json").find("ContrastPercent 130"), std::string::npos);
    EXPECT_EQ(fs::status(dir / "real.json").permissions(), fs::perms::owner_read | fs::perms::owner_write);

    fs::permissions(dir / "real.json", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::string before = ReadWholeFile(dir / "real.json");
    EXPECT_EQ(RunProgram("set " + dir / "link.json ContrastPercent=140", &out), 1);
    EXPECT_NE(out.find("link.json: is read-only; not changed"), std::string::npos) << out;
    EXPECT_EQ(ReadWholeFile(dir / "real.json"), before);
    EXPECT_TRUE(Leftovers(dir.path()).empty());
}

}  // namespace
}  // namespace lumafex::tool

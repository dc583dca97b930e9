// Whole-or-nothing file writes: what a replaced file keeps, what is refused,
// and that the temporary file is reported and never left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_write.h"

namespace lumafex::platform {
namespace {

namespace fs = std::filesystem;

class FileWrite : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("lumafex-file-write-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir / "file", fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir;
};

// Records what a write reports, and checks each report comes under a hold.
class Recorder final : public TemporaryFileWatcher {
public:
    void Hold() override { ++holds; }
    void Release() override { --holds; }
    bool Created(const std::string& temporary) override {
        EXPECT_EQ(holds, 1);
        created.push_back(temporary);
        return accept;
    }
    void Gone() override {
        EXPECT_EQ(holds, 1);
        ++gone;
    }
    int holds = 0;
    int gone = 0;
    bool accept = true;
    std::vector<std::string> created;
};

TEST_F(FileWrite, ReplacesWholeAndReportsItsHiddenTemporaryFile) {
    const std::string path = (dir / "file").string();
    Recorder watcher;
    ASSERT_TRUE(WriteFileWhole(path.c_str(), "first", &watcher));
    ASSERT_TRUE(WriteFileWhole(path.c_str(), "second, longer", &watcher));
    EXPECT_EQ(Read(path), "second, longer");
    EXPECT_EQ(Names(), std::vector<std::string>{"file"});
    ASSERT_EQ(watcher.created.size(), 2u);
    EXPECT_EQ(fs::path(watcher.created[0]).parent_path(), dir);
    EXPECT_EQ(fs::path(watcher.created[0]).filename().string().rfind(".file.tmp", 0), 0u);
    EXPECT_EQ(watcher.gone, 2);
    EXPECT_EQ(watcher.holds, 0);

    // A temporary file the watcher cannot keep track of is removed at once.
    watcher.accept = false;
    const WriteResult refused = WriteFileWhole(path.c_str(), "third", &watcher);
    EXPECT_EQ(refused.failure, WriteFailure::Untracked);
    EXPECT_EQ(Read(path), "second, longer");
    EXPECT_EQ(Names(), std::vector<std::string>{"file"});
}

TEST_F(FileWrite, RefusesFoldersAndReadOnlyFilesAndSaysWhy) {
    fs::create_directory(dir / "folder");
    const WriteResult folder = WriteFileWhole((dir / "folder").string().c_str(), "x");
    EXPECT_EQ(DescribeWriteFailure(folder), "exists and is not a regular file; not replaced");

    const std::string path = (dir / "file").string();
    ASSERT_TRUE(WriteFileWhole(path.c_str(), "kept"));
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const WriteResult readOnly = WriteFileWhole(path.c_str(), "lost");
    EXPECT_EQ(DescribeWriteFailure(readOnly), "is read-only; not changed");
    EXPECT_EQ(Read(path), "kept");

    const WriteResult noFolder = WriteFileWhole((dir / "none" / "file").string().c_str(), "x");
    EXPECT_EQ(noFolder.failure, WriteFailure::Create);
    EXPECT_EQ(DescribeWriteFailure(noFolder).rfind("cannot create a temporary file beside it: ", 0), 0u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"file", "folder"}));
}

#if !defined(_WIN32)
TEST_F(FileWrite, WritesThroughLinksAndKeepsTheMode) {
    const fs::path real = dir / "file";
    ASSERT_TRUE(WriteFileWhole(real.string().c_str(), "old"));
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(real, mode);
    fs::create_symlink("file", dir / "link");
    ASSERT_TRUE(WriteFileWhole((dir / "link").string().c_str(), "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(Read(real), "new");
    EXPECT_EQ(fs::status(real).permissions(), mode);
}
#endif

}  // namespace
}  // namespace lumafex::platform

// compare and montage: they never write over their own inputs, read every
// file name as the user means it, and refuse a picture too large to make
// before making it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "image_files/files.h"
#include "image_files/netpbm.h"
#include "support.h"

namespace lumafex::tool {
namespace {

namespace fs = std::filesystem;
using testing::RunProgram;
using testing::TempDir;

TEST(CompareAndMontage, AnOutputOntoAnInputIsRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    WritePam(dir / "a.pam", testing::TestColour(32, 16, 1));
    WritePam(dir / "b.pam", testing::TestColour(32, 16, 2));
    fs::create_symlink(dir.path() / "a.pam", dir.path() / "link.pam");
    fs::create_hard_link(dir.path() / "a.pam", dir.path() / "hard.pam");
    const std::string before = ReadWholeFile(dir / "a.pam");
    const std::string a = dir / "a.pam", b = dir / "b.pam";
    const std::string dotted = (dir.path() / "." / "a.pam").string();
    for (const std::string& command :
         {"compare " + a + " " + b + " -o " + dotted, "compare " + b + " " + a + " -o " + dir / "link.pam",
          "montage -o " + dir / "hard.pam " + b + " " + a + "=Before",
          "montage -o " + dir / "link.pam --label A " + a}) {
        std::string out;
        EXPECT_EQ(RunProgram(command, &out), 1) << command;
        EXPECT_NE(out.find("would overwrite the input"), std::string::npos) << command << "\n" << out;
        EXPECT_EQ(ReadWholeFile(dir / "a.pam"), before) << command;
    }
}

TEST(Montage, ReadsNamesWithEqualsSignsAndRefusesPicturesTooLargeFirst) {
    TempDir dir;
    WritePam(dir / "v=2.pam", testing::TestColour(256, 128, 1));
    WritePam(dir / "a.pam", testing::TestColour(256, 128, 2));
    std::string out;
    // A file whose name has "=" is a file; a label follows the last "=",
    // or comes from --label.
    EXPECT_EQ(RunProgram("montage -o " + dir / "v.pam " + dir / "v=2.pam", &out), 0) << out;
    EXPECT_EQ(RunProgram("montage -o " + dir / "plain.pam " + dir / "a.pam", &out), 0) << out;
    EXPECT_EQ(RunProgram("montage -o " + dir / "eq.pam " + dir / "a.pam=Before", &out), 0) << out;
    EXPECT_EQ(RunProgram("montage -o " + dir / "opt.pam --label Before " + dir / "a.pam", &out), 0) << out;
    EXPECT_EQ(ReadWholeFile(dir / "eq.pam"), ReadWholeFile(dir / "opt.pam"));
    EXPECT_NE(ReadWholeFile(dir / "eq.pam"), ReadWholeFile(dir / "plain.pam"));
    EXPECT_EQ(RunProgram("montage -o " + dir / "x.pam --label A --label B " + dir / "a.pam", &out), 2);

    // One tile taller than any image the program writes, cheap to read.
    WritePgm(dir / "tall.pgm", GreyImage{1, 32768, std::vector<uint8_t>(32768, 9)});
    EXPECT_EQ(RunProgram("montage -o " + dir / "t.pam " + dir / "tall.pgm", &out), 1);
    EXPECT_NE(out.find("t.pam: the montage would be at least 17x32800 pixels, larger than this program writes "
                       "(32768 pixels a side, 64 megapixels); use fewer --columns, a smaller --width"),
              std::string::npos) << out;
    // Eight tiles in a row: over a 1 MB limit from the seventh on (1856x160
    // pixels, 1.2 MB); at half the width they fit.
    std::string eight;
    for (int n = 0; n < 8; ++n) eight.append(" ").append(dir / "a.pam");
    EXPECT_EQ(RunProgram("--memory-limit 1 montage --columns 8 -o " + dir / "m.pam" + eight, &out), 1);
    EXPECT_NE(out.find("m.pam: the montage of at least 1856x160 pixels would need more memory than the limit "
                       "of 1 MB (see --memory-limit)"),
              std::string::npos) << out;
    EXPECT_EQ(RunProgram("--memory-limit 1 montage --columns 8 --width 128 -o " + dir / "m.pam" + eight, &out), 0) << out;
    EXPECT_FALSE(fs::exists(dir / "t.pam"));
}

}  // namespace
}  // namespace lumafex::tool

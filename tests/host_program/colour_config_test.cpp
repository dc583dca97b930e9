// The colour configuration a run uses: --colorconfig, else the scene's
// colorConfig (relative to the scene's folder), else $OCIO. The one in use
// is logged with -v, recorded in every output and passed to farm tasks; a
// named one that cannot be read stops the run, naming it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "image_files/netpbm.h"
#include "support.h"

#if defined(LUMAFEX_TEST_WITH_OIIO)
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagecache.h>

namespace lumafex::tool {
namespace {

using testing::RunProgram;
using testing::TempDir;
using testing::WriteText;

constexpr const char* kConfig = R"(ocio_profile_version: 2
roles: {default: lin, scene_linear: lin}
colorspaces:
  - !<ColorSpace> {name: lin}
  - !<ColorSpace> {name: sRGB, from_scene_reference: !<ExponentTransform> {value: [2.2, 2.2, 2.2, 1], direction: inverse}}
)";

std::string Recorded(const std::string& path) {
    // Each render rewrites the same file: what the shared image cache holds
    // of it is stale.
    OIIO::ImageCache::create(true)->invalidate(OIIO::ustring(path));
    OIIO::ImageBuf file(path);
    return file.init_spec(path, 0, 0) ? file.nativespec().get_string_attribute("lumafex:colorConfig")
                                      : "(unreadable)";
}

TEST(ColourConfiguration, OptionWinsOverSceneKeyWhichWinsOverOcio) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "cfg");
    for (const char* name : {"env.ocio", "cfg/scene.ocio", "option.ocio"}) WriteText(dir / name, kConfig);
    WritePam(dir / "c.pam", testing::TestColour(16, 8, 1));
    const std::string frames = R"("frames": [{"frame": 1, "color": "c.pam", "output": "out.exr"}]})";
    WriteText(dir / "plain.json", "{" + frames);
    WriteText(dir / "keyed.json", R"({"colorConfig": "cfg/scene.ocio", )" + frames);
    setenv("OCIO", (dir / "env.ocio").c_str(), 1);
    const std::string option = " --colorconfig " + dir / "option.ocio";
    const std::pair<std::string, std::string> runs[] = {
        {"render " + dir / "plain.json", dir / "env.ocio (from $OCIO)"},
        {"render " + dir / "keyed.json", dir / "cfg/scene.ocio (from the scene's colorConfig)"},
        {"-v render " + dir / "keyed.json" + option, dir / "option.ocio (from --colorconfig)"},
    };
    std::string out;
    for (const auto& [command, expected] : runs) {
        ASSERT_EQ(RunProgram(command, &out), 0) << command << "\n" << out;
        EXPECT_EQ(Recorded(dir / "out.exr"), expected) << command;
    }
    EXPECT_NE(out.find("colour configuration " + dir / "option.ocio (from --colorconfig)"), std::string::npos)
        << out;

    // Farm tasks get it on their command line, as an absolute path.
    ASSERT_EQ(RunProgram("farm submit --dry-run " + dir / "keyed.json", &out), 0) << out;
    EXPECT_NE(out.find("'--colorconfig=" + dir / "cfg/scene.ocio'"), std::string::npos) << out;
    ASSERT_EQ(RunProgram("farm submit --dry-run " + dir / "plain.json" + option, &out), 0) << out;
    EXPECT_NE(out.find("'--colorconfig=" + dir / "option.ocio'"), std::string::npos) << out;

    // A named configuration that cannot be read stops the run, naming it.
    std::filesystem::remove(dir / "out.exr");
    EXPECT_EQ(RunProgram("render " + dir / "plain.json --colorconfig " + dir / "none.ocio", &out), 1);
    EXPECT_NE(out.find("colour configuration " + dir / "none.ocio (from --colorconfig) cannot be read"),
              std::string::npos) << out;
    std::filesystem::remove(dir / "cfg/scene.ocio");
    EXPECT_EQ(RunProgram("render " + dir / "keyed.json", &out), 1);
    EXPECT_NE(out.find(dir / "cfg/scene.ocio (from the scene's colorConfig) cannot be read"),
              std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.exr"));
    unsetenv("OCIO");
}

}  // namespace
}  // namespace lumafex::tool

#endif

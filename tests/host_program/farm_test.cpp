// The farm job's parts; tests/farm/farm_test.sh runs whole jobs on Slurm.
#include <gtest/gtest.h>

#include "farm.h"

namespace lumafex::tool {
namespace {

TEST(Farm, ChunksHoldExactlyTheirFramesAndScriptsQuoteEveryPath) {
    auto lists = [](const std::vector<Chunk>& chunks) {
        std::vector<std::string> out;
        for (const Chunk& c : chunks) out.push_back(c.list);
        return out;
    };
    using Lists = std::vector<std::string>;
    EXPECT_EQ(lists(SplitIntoChunks({5, 1, 2, 3, 4, 3, 9, 10}, 3)), (Lists{"1-3", "4-5,9", "10"}));
    EXPECT_EQ(lists(SplitIntoChunks({-2, -1, 0, 7, 9}, 6)), (Lists{"-2-0,7,9"}));
    EXPECT_THROW(SplitIntoChunks({1}, 0), std::invalid_argument);

    FarmJob job{"/opt/bin/lumafex", "/opt/lib/lumafex3.p", "/shots/it's here.json", "",
                "/shots/farm", "it's here", SplitIntoChunks({1, 2, 3, 4, 5, 6, 7, 8}, 6)};
    const std::string script = JobScript(job);
    EXPECT_NE(script.find("'/shots/it'\\''s here.json'"), std::string::npos) << script;
    EXPECT_NE(script.find("chunks=( 1-6 7-8 )"), std::string::npos) << script;
    const std::string sbatch = SbatchCommand(job, "render", {"--time=30"});
    EXPECT_NE(sbatch.find("--array=0-1 "), std::string::npos) << sbatch;
    EXPECT_NE(sbatch.find("--partition='render' '--time=30' '/shots/farm/it'\\''s here.sbatch'"),
              std::string::npos)
        << sbatch;
}

}  // namespace
}  // namespace lumafex::tool

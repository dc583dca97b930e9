#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "pipeline/frame/selection.h"
#include "settings/filter_settings.h"
#include "settings/settings_fields.h"

namespace lumafex {
namespace {

FilterSettings Defaults() {
    FilterSettings s;
    std::memset(&s, 0x5A, sizeof s);  // garbage that a reset must overwrite
    ResetToDefaults(s);
    return s;
}

TEST(SettingsDefaults, MatchTheCreateValues) {
    const FilterSettings s = Defaults();
    EXPECT_EQ(s.Passes, 1);
    for (int32_t v : {s.RedPercent, s.GreenPercent, s.BluePercent, s.BrightPercent,
                      s.GammaPercent, s.ContrastPercent, s.SharpenPercent, s.AntialiasPercent,
                      s.PosterizePercent, s.BlurPercent, s.DOFBlurPercent, s.NoisePercent}) {
        EXPECT_EQ(v, 100);
    }
    EXPECT_EQ(s.FilterInclude, 3);
    EXPECT_EQ(s.AntialiasVariance, 100);
    EXPECT_EQ(s.DOFBlurFocalPoint, 100);
    for (int32_t flag : {s.SharpenFlag, s.SmoothFlag, s.BlurFlag, s.SofterBlurFlag,
                         s.DOFBlurFlag, s.FlipFrameFlag, s.KeyPrepFlag, s.BlackFlag,
                         s.WhiteFlag, s.GreyFlag, s.NoiseFlag, s.NegativeFlag,
                         s.NegativeImageFlag, s.CartoonFlag, s.RangeAlphaFlag}) {
        EXPECT_EQ(flag, 0);
    }
    // A new instance never inherits the softer latch or negative alpha.
    EXPECT_EQ(s.SofterExtraFlag, 0);
    EXPECT_EQ(s.ReverseAlphaFlag, 0);
    EXPECT_EQ(s.r1, 0);
    EXPECT_EQ(s.g1, 0);
    EXPECT_EQ(s.b1, 192);
    EXPECT_EQ(s.r2, 96);
    EXPECT_EQ(s.g2, 96);
    EXPECT_EQ(s.b2, 255);
}

TEST(SettingsFields, DescribeEveryFieldOnceInRecordOrder) {
    std::set<std::string> names;
    std::size_t inScene = 0;
    for (std::size_t i = 0; i < kSettingsFields.size(); ++i) {
        const SettingsField& f = kSettingsFields[i];
        EXPECT_TRUE(names.insert(f.name).second) << f.name;
        // Field i sits at byte offset 4 * i of the record.
        FilterSettings s{};
        s.*f.member = 7;
        int32_t words[kFilterSettingsFieldCount];
        std::memcpy(words, &s, sizeof s);
        EXPECT_EQ(words[i], 7) << f.name;
        inScene += f.inScene;
        EXPECT_EQ(FindSettingsField(f.name), &f);
    }
    // Two fields have no scene key.
    EXPECT_EQ(inScene, 37u);
    EXPECT_FALSE(FindSettingsField("PosterizePercent")->inScene);
    EXPECT_FALSE(FindSettingsField("SofterExtraFlag")->inScene);
    EXPECT_EQ(FindSettingsField("Colour"), nullptr);
}

TEST(PixelSelection, FollowsTheFiltersShouldAffectMode) {
    FilterSettings s = Defaults();
    s.FilterInclude = 3;
    EXPECT_TRUE(PixelSelected(s, 0, 0, 1, 2, 3));
    s.FilterInclude = 0;
    EXPECT_TRUE(PixelSelected(s, 1, 0, 0, 0, 0));
    EXPECT_FALSE(PixelSelected(s, 0, 255, 0, 0, 0));
    s.FilterInclude = 1;
    EXPECT_FALSE(PixelSelected(s, 1, 0, 0, 0, 0));
    EXPECT_TRUE(PixelSelected(s, 0, 0, 0, 0, 0));
    s.FilterInclude = 2;
    EXPECT_TRUE(PixelSelected(s, 0, 1, 0, 0, 0));
    EXPECT_FALSE(PixelSelected(s, 255, 0, 0, 0, 0));
    for (int32_t mode : {5, -1, 1000}) {
        s.FilterInclude = mode;
        EXPECT_FALSE(PixelSelected(s, 255, 255, 0, 0, 200)) << mode;
    }
}

TEST(PixelSelection, ColourRangeIsInclusiveOnEveryBound) {
    FilterSettings s = Defaults();
    s.FilterInclude = 4;
    EXPECT_TRUE(PixelSelected(s, 0, 0, 0, 0, 192));
    EXPECT_TRUE(PixelSelected(s, 0, 0, 96, 96, 255));
    EXPECT_TRUE(PixelSelected(s, 0, 0, 50, 20, 200));
    EXPECT_FALSE(PixelSelected(s, 255, 255, 97, 0, 200));
    EXPECT_FALSE(PixelSelected(s, 255, 255, 0, 0, 191));
    EXPECT_FALSE(PixelSelected(s, 255, 255, 0, 97, 200));
    s.r1 = 50;
    s.r2 = 40;  // an empty range selects nothing
    EXPECT_FALSE(PixelSelected(s, 0, 0, 45, 0, 200));
    // Bounds outside 0..255 compare as plain integers.
    s.r1 = -10;
    s.r2 = 300;
    EXPECT_TRUE(InColorRange(s, 255, 0, 200));
}

}  // namespace
}  // namespace lumafex

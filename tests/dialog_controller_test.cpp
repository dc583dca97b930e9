#include "ui/dialog_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "host/dialog_session.h"
#include "host/scene_items.h"
#include "pipeline/null_channel_table.h"
#include "pipeline/preview_frame.h"
#include "settings/filter_settings.h"
#include "support/fake_host.h"
#include "support/memory_surface.h"

namespace lumafex {
namespace {

using namespace ui;
using testing::FakeHost;
using testing::FakeItem;
using testing::MemorySurface;

constexpr ControlId kFilterRadios[] = {kObjectsOnlyRadio, kBackgroundOnlyRadio,
                                       kShadowsOnlyRadio, kFullFrameRadio, kColourRangeRadio};

class Dialog : public ::testing::Test {
protected:
    void SetUp() override { ResetToDefaults(settings); }

    DialogModel Model() {
        DialogModel model{};
        model.settings = &settings;
        model.UseNulls = &useNulls;
        model.CustomColours = &colours;
        model.FrameEndTime = frameEndTime;
        model.objects = &objects;
        return model;
    }
    DialogController& Start() {
        controller.emplace(surface, Model());
        controller->Start();
        return *controller;
    }
    void Ok() { ASSERT_EQ(controller->Command(kOkButton), CommandResult::CloseOk); }
    void AddObject(const std::string& name, double v) {
        host.items.push_back(FakeItem{0, name, {0.0, 0.0, v}, false});
    }
    std::string Text(ControlId id) const { return surface.text.at(id); }

    FakeHost host;
    FilterSettings settings{};
    int32_t useNulls = 0;
    CustomColourTable colours{};
    double frameEndTime = 0.0;
    HostSceneObjects objects{&host.Items()};
    MemorySurface surface;
    std::optional<DialogController> controller;
};

bool SameRecord(const FilterSettings& a, const FilterSettings& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(DialogText, StandardDecimalRuleWithSaturation) {
    EXPECT_EQ(TextToInt32("42"), 42);
    EXPECT_EQ(TextToInt32("  \t-17xyz"), -17);
    EXPECT_EQ(TextToInt32("+8"), 8);
    EXPECT_EQ(TextToInt32("abc"), 0);
    EXPECT_EQ(TextToInt32(""), 0);
    EXPECT_EQ(TextToInt32("-"), 0);
    EXPECT_EQ(TextToInt32("1 2"), 1);
    EXPECT_EQ(TextToInt32("2147483647"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(TextToInt32("2147483648"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(TextToInt32("-2147483648"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(TextToInt32("-99999999999999999999999"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(TextToInt32("99999999999999999999999"), std::numeric_limits<int32_t>::max());
}

TEST_F(Dialog, StartShowsEveryFieldOfTheRecord) {
    settings.Passes = 3;
    settings.RedPercent = -5;
    settings.GreenPercent = 101;
    settings.BluePercent = 102;
    settings.BrightPercent = 103;
    settings.SharpenPercent = 104;
    settings.AntialiasVariance = 105;
    settings.AntialiasPercent = 106;
    settings.PosterizePercent = 107;
    settings.BlurPercent = 108;
    settings.DOFBlurPercent = 109;
    settings.DOFBlurFocalPoint = 2147483647;
    settings.GammaPercent = 111;
    settings.ContrastPercent = 112;
    settings.NoisePercent = 113;
    settings.SofterBlurFlag = 2;
    settings.FlipFrameFlag = 2;
    settings.KeyPrepFlag = 1;
    settings.BlackFlag = 2;  // a two-state box cannot show the third state
    settings.NoiseFlag = 1;
    settings.FilterInclude = 2;
    Start();

    const std::pair<ControlId, const char*> texts[] = {
        {kPassesEdit, "3"},          {kRedPercentEdit, "-5"},       {kGreenPercentEdit, "101"},
        {kBluePercentEdit, "102"},    {kBrightPercentEdit, "103"},   {kEnhancePercentEdit, "104"},
        {kAntialiasThresholdEdit, "105"}, {kAntialiasPercentEdit, "106"},
        {kPosterizePercentEdit, "107"}, {kBlurPercentEdit, "108"},  {kDOFBlurPercentEdit, "109"},
        {kFocalPointEdit, "2147483647"}, {kGammaPercentEdit, "111"}, {kContrastPercentEdit, "112"},
        {kNoisePercentEdit, "113"},
    };
    for (const auto& [id, expected] : texts) EXPECT_EQ(Text(id), expected) << id;

    EXPECT_EQ(surface.check[kSofterCheck], kIndeterminate);
    EXPECT_EQ(surface.check[kFlipFrameCheck], kIndeterminate);
    EXPECT_EQ(surface.check[kKeyPrepCheck], kChecked);
    EXPECT_EQ(surface.check[kBlackCheck], kChecked);
    EXPECT_EQ(surface.check[kNoiseCheck], kChecked);
    EXPECT_EQ(surface.check[kWhiteCheck], kUnchecked);
    EXPECT_FALSE(surface.radio[kFlipHorzRadio]);
    EXPECT_TRUE(surface.radio[kFlipVertRadio]);
    EXPECT_TRUE(surface.radio[kKeyPrepBlackRadio]);
    EXPECT_FALSE(surface.radio[kKeyPrepWhiteRadio]);
    for (ControlId id : kFilterRadios) EXPECT_EQ(surface.radio[id], id == kShadowsOnlyRadio);
    EXPECT_FALSE(surface.IsVisible(kPassesEdit));
    EXPECT_FALSE(surface.IsVisible(kPassesLabel));
    EXPECT_FALSE(surface.menu[kMenuUseNulls]);
}

TEST_F(Dialog, OkWithoutChangesKeepsTheRecord) {
    settings.RedPercent = 250;
    settings.FilterInclude = 4;
    settings.FlipFrameFlag = 1;
    settings.KeyPrepFlag = 2;
    settings.SofterBlurFlag = 1;
    settings.BlurFlag = 1;
    settings.RangeAlphaFlag = 1;
    const FilterSettings before = settings;
    Start();
    Ok();
    EXPECT_TRUE(SameRecord(settings, before));
}

TEST_F(Dialog, OkReadsEveryControlBack) {
    Start();
    const std::pair<ControlId, int32_t FilterSettings::*> edits[] = {
        {kRedPercentEdit, &FilterSettings::RedPercent},
        {kGreenPercentEdit, &FilterSettings::GreenPercent},
        {kBluePercentEdit, &FilterSettings::BluePercent},
        {kBrightPercentEdit, &FilterSettings::BrightPercent},
        {kEnhancePercentEdit, &FilterSettings::SharpenPercent},
        {kAntialiasThresholdEdit, &FilterSettings::AntialiasVariance},
        {kAntialiasPercentEdit, &FilterSettings::AntialiasPercent},
        {kPosterizePercentEdit, &FilterSettings::PosterizePercent},
        {kBlurPercentEdit, &FilterSettings::BlurPercent},
        {kDOFBlurPercentEdit, &FilterSettings::DOFBlurPercent},
        {kFocalPointEdit, &FilterSettings::DOFBlurFocalPoint},
        {kGammaPercentEdit, &FilterSettings::GammaPercent},
        {kContrastPercentEdit, &FilterSettings::ContrastPercent},
        {kNoisePercentEdit, &FilterSettings::NoisePercent},
    };
    int32_t value = 500;
    for (const auto& [id, field] : edits) surface.text[id] = std::to_string(++value);
    const std::pair<ControlId, int32_t FilterSettings::*> checks[] = {
        {kEnhanceCheck, &FilterSettings::SharpenFlag},
        {kAntialiasCheck, &FilterSettings::SmoothFlag},
        {kBlurCheck, &FilterSettings::BlurFlag},
        {kDOFBlurCheck, &FilterSettings::DOFBlurFlag},
        {kBlackCheck, &FilterSettings::BlackFlag},
        {kWhiteCheck, &FilterSettings::WhiteFlag},
        {kBlackAndWhiteCheck, &FilterSettings::GreyFlag},
        {kNoiseCheck, &FilterSettings::NoiseFlag},
        {kNtscLimitCheck, &FilterSettings::NegativeFlag},
        {kNegativeCheck, &FilterSettings::NegativeImageFlag},
        {kPosterizeCheck, &FilterSettings::CartoonFlag},
        {kNegativeAlphaCheck, &FilterSettings::ReverseAlphaFlag},
        {kRangeAlphaCheck, &FilterSettings::RangeAlphaFlag},
    };
    for (const auto& [id, field] : checks) surface.check[id] = kChecked;
    Ok();
    value = 500;
    for (const auto& [id, field] : edits) EXPECT_EQ(settings.*field, ++value) << id;
    for (const auto& [id, field] : checks) EXPECT_EQ(settings.*field, 1) << id;

    // And off again.
    controller->Start();
    for (const auto& [id, field] : checks) surface.check[id] = kUnchecked;
    Ok();
    for (const auto& [id, field] : checks) EXPECT_EQ(settings.*field, 0) << id;
}

TEST_F(Dialog, PassesAreLimitedToFourFromAbove) {
    Start();
    for (const auto& [typed, stored] : {std::pair{"9", 4}, {"4", 4}, {"-3", -3}, {"0", 0},
                                        {"99999999999999", 4}}) {
        surface.text[kPassesEdit] = typed;
        Ok();
        EXPECT_EQ(settings.Passes, stored) << typed;
    }
}

TEST_F(Dialog, TextIsReadFromItsFirstTwentyCharacters) {
    Start();
    surface.text[kRedPercentEdit] = "00000000000000000001";  // 20 characters
    surface.text[kGreenPercentEdit] = "000000000000000000001";  // 21: the 1 is cut off
    surface.text[kBluePercentEdit] = "12abc";
    surface.text[kBrightPercentEdit] = " 0";
    Ok();
    EXPECT_EQ(settings.RedPercent, 1);
    EXPECT_EQ(settings.GreenPercent, 0);
    EXPECT_EQ(settings.BluePercent, 12);
    EXPECT_EQ(settings.BrightPercent, 0);
}

// A box the user emptied or set out of its range keeps the dialog open:
// OK says why, marks the box and stores nothing.
TEST_F(Dialog, OkRefusesValuesTheFieldCannotTake) {
    Start();
    EXPECT_TRUE(surface.invalid.empty());
    const FilterSettings before = settings;
    const std::pair<ControlId, const char*> refused[] = {
        {kRedPercentEdit, "Red% must be a whole number from 0 to 2147483647; -50 is outside that range."},
        {kBrightPercentEdit, "Bright% is empty: enter a whole number from 0 to 2147483647."},
        {kBlurPercentEdit, "Blur% must be a whole number from 0 to 2147483647; a value above "
                           "2147483647 is outside that range."},
    };
    surface.text[kBrightPercentEdit] = "";
    surface.text[kRedPercentEdit] = "-50";
    surface.text[kBlurPercentEdit] = "99999999999";
    for (const auto& [id, message] : refused) {
        EXPECT_EQ(controller->Command(kOkButton), CommandResult::Handled);
        ASSERT_FALSE(surface.messages.empty());
        EXPECT_EQ(surface.messages.back().text, message);
        EXPECT_EQ(surface.messages.back().caption, kInvalidInputCaption);
        EXPECT_EQ(surface.invalid.count(id), 1u);
        EXPECT_TRUE(SameRecord(settings, before));
        surface.text[id] = "100";
        EXPECT_EQ(controller->CheckNumber(id), "");
        EXPECT_EQ(surface.invalid.count(id), 0u);
    }
    // Negative gamma, contrast and "T" mean something and are kept.
    surface.text[kContrastPercentEdit] = "-40";
    surface.text[kAntialiasThresholdEdit] = "-2147483648";
    Ok();
    EXPECT_EQ(settings.ContrastPercent, -40);
    EXPECT_EQ(settings.AntialiasVariance, std::numeric_limits<int32_t>::min());
}

// A value the record brings in that is out of range shows as invalid at
// start, unless a null object drives the box (which OK leaves alone).
TEST_F(Dialog, OutOfRangeValuesShowAsInvalidUnlessANullDrivesThem) {
    settings.RedPercent = -5;
    settings.GreenPercent = -6;
    useNulls = 8;
    frameEndTime = 0.0;
    AddObject("3Red%", -7);
    Start();
    EXPECT_EQ(surface.invalid.count(kRedPercentEdit), 0u);
    EXPECT_EQ(surface.invalid.count(kGreenPercentEdit), 1u);
    surface.text[kGreenPercentEdit] = "60";
    Ok();
    EXPECT_EQ(settings.RedPercent, -5);
    EXPECT_EQ(settings.GreenPercent, 60);
}

TEST_F(Dialog, EveryControlSaysWhatItIs) {
    Start();
    for (ControlId id : {kRedPercentEdit, kRedPercentLabel, kFocalPointEdit, kFocalPointLabel,
                         kAntialiasThresholdLabel, kSofterCheck, kKeyPrepWhiteRadio,
                         kColourRangeRadio, kOkButton}) {
        EXPECT_FALSE(surface.toolTip[id].empty()) << id;
    }
    EXPECT_NE(surface.toolTip[kRedPercentLabel].find("\"3Red%\""), std::string::npos);
    EXPECT_NE(surface.toolTip[kFocalPointLabel].find("focal point"), std::string::npos);
    EXPECT_NE(surface.toolTip[kAntialiasThresholdEdit].find("threshold"), std::string::npos);
    EXPECT_NE(surface.toolTip[kGammaPercentEdit].find("-2147483648 to 2147483647"),
              std::string::npos);
    EXPECT_EQ(surface.toolTip.count(kPassesEdit), 0u);
    // The Softer box names its three states as "lumafex show" does.
    for (const char* state : {"0 normal", "1 softer", "2 softer extra", "partly checked"}) {
        EXPECT_NE(surface.toolTip[kSofterCheck].find(state), std::string::npos) << state;
    }
    EXPECT_EQ(controller->Command(kMenuAbout), CommandResult::Handled);
    EXPECT_EQ(surface.messages.back().caption, kAboutCaption);
    EXPECT_TRUE(surface.messages.back().information);
    for (const char* part : {"Version 3.", "All rights reserved", "Licence:"}) {
        EXPECT_NE(surface.messages.back().text.find(part), std::string::npos) << part;
    }
}

TEST_F(Dialog, FilterIncludeRadios) {
    // Each value selects its own radio and comes back unchanged.
    for (int32_t value = 0; value <= 4; ++value) {
        settings.FilterInclude = value;
        Start();
        for (int32_t i = 0; i <= 4; ++i) EXPECT_EQ(surface.radio[kFilterRadios[i]], i == value);
        settings.FilterInclude = -1;
        Ok();
        EXPECT_EQ(settings.FilterInclude, value);
    }
    // A value outside 0..4 selects none; OK then stores full frame.
    settings.FilterInclude = 7;
    Start();
    for (ControlId id : kFilterRadios) EXPECT_FALSE(surface.radio[id]);
    Ok();
    EXPECT_EQ(settings.FilterInclude, 3);
    // With several selected, the last of objects, background, colour range,
    // shadows wins.
    surface.radio[kColourRangeRadio] = true;
    surface.radio[kObjectsOnlyRadio] = true;
    Ok();
    EXPECT_EQ(settings.FilterInclude, 4);
    surface.radio[kShadowsOnlyRadio] = true;
    Ok();
    EXPECT_EQ(settings.FilterInclude, 2);
}

TEST_F(Dialog, SofterThirdStateSetsTheExtraFlagAndOtherStatesClearIt) {
    Start();
    surface.check[kSofterCheck] = kIndeterminate;
    Ok();
    EXPECT_EQ(settings.SofterBlurFlag, 2);
    EXPECT_EQ(settings.SofterExtraFlag, 1);

    surface.check[kSofterCheck] = kChecked;
    Ok();
    EXPECT_EQ(settings.SofterBlurFlag, 1);
    EXPECT_EQ(settings.SofterExtraFlag, 0);

    settings.SofterExtraFlag = 1;
    surface.check[kSofterCheck] = kUnchecked;
    Ok();
    EXPECT_EQ(settings.SofterBlurFlag, 0);
    EXPECT_EQ(settings.SofterExtraFlag, 0);
}

TEST_F(Dialog, FlipAndKeyPrepFromBoxAndRadios) {
    Start();
    struct Case {
        int box;
        bool first;  // "Horz" / "B" selected, else "Vert" / "W"
        int32_t stored;
    };
    for (const Case& c : {Case{kChecked, true, 1}, Case{kChecked, false, 2},
                          Case{kIndeterminate, true, 1}, Case{kIndeterminate, false, 2},
                          Case{kUnchecked, true, 0}, Case{kUnchecked, false, 0}}) {
        surface.check[kFlipFrameCheck] = c.box;
        surface.check[kKeyPrepCheck] = c.box;
        surface.Select(c.first ? kFlipHorzRadio : kFlipVertRadio, {kFlipHorzRadio, kFlipVertRadio});
        surface.Select(c.first ? kKeyPrepBlackRadio : kKeyPrepWhiteRadio,
                       {kKeyPrepBlackRadio, kKeyPrepWhiteRadio});
        Ok();
        EXPECT_EQ(settings.FlipFrameFlag, c.stored) << c.box << c.first;
        EXPECT_EQ(settings.KeyPrepFlag, c.stored) << c.box << c.first;
    }
}

TEST_F(Dialog, CommandsAndTheirResults) {
    Start();
    surface.text[kRedPercentEdit] = "7";
    const FilterSettings before = settings;
    EXPECT_EQ(controller->Command(kCancelButton), CommandResult::CloseCancel);
    EXPECT_EQ(controller->Command(kMenuCancel), CommandResult::CloseCancel);
    EXPECT_EQ(controller->Command(kMenuAbout), CommandResult::Handled);  // the About box
    EXPECT_EQ(controller->Command(kBlurCheck), CommandResult::NotHandled);
    EXPECT_TRUE(SameRecord(settings, before));
    EXPECT_EQ(controller->Command(kMenuOk), CommandResult::CloseOk);
    EXPECT_EQ(settings.RedPercent, 7);
}

// A host that asks learns whether the dialog ended with OK: the colour
// choosers change the record before either button, so the record cannot
// tell it.
TEST_F(Dialog, TheOutcomeSaysOkOnlyForOk) {
    int32_t outcome = -1;
    controller.emplace(surface, [&] {
        DialogModel model = Model();
        model.outcome = &outcome;
        return model;
    }());
    controller->Start();
    EXPECT_EQ(outcome, 0);
    surface.colourAnswers = {MakeColour(1, 2, 3), MakeColour(4, 5, 6)};
    controller->Command(kColourRangeRadio);
    EXPECT_EQ(controller->Command(kCancelButton), CommandResult::CloseCancel);
    EXPECT_EQ(outcome, 0);
    surface.text[kRedPercentEdit] = "";
    EXPECT_EQ(controller->Command(kOkButton), CommandResult::Handled);  // refused
    EXPECT_EQ(outcome, 0);
    surface.text[kRedPercentEdit] = "90";
    Ok();
    EXPECT_EQ(outcome, 1);
}

TEST_F(Dialog, CustomColoursAreFilledOnceWithTwoRamps) {
    Start();
    for (std::size_t i = 0; i <= 8; ++i) {
        const auto grey = static_cast<uint8_t>(24 * i);
        EXPECT_EQ(colours[i], MakeColour(grey, grey, 160)) << i;
    }
    EXPECT_EQ(colours[9], MakeColour(231, 231, 255));
    EXPECT_EQ(colours[15], MakeColour(87, 87, 255));
    // Once filled (entry 0 is not zero) the table is the user's: what the
    // chooser changed stays for later dialogs.
    colours[0] = MakeColour(1, 2, 3);
    colours[5] = MakeColour(9, 9, 9);
    Start();
    EXPECT_EQ(colours[0], MakeColour(1, 2, 3));
    EXPECT_EQ(colours[5], MakeColour(9, 9, 9));
}

TEST_F(Dialog, ColourRangeChoosersWriteTheRecordAtOnce) {
    Start();
    surface.colourAnswers = {MakeColour(10, 20, 30), MakeColour(200, 210, 220)};
    EXPECT_EQ(controller->Command(kColourRangeRadio), CommandResult::Handled);
    ASSERT_EQ(surface.colourRequests.size(), 2u);
    EXPECT_EQ(surface.colourRequests[0].initial, MakeColour(0, 0, 192));
    EXPECT_EQ(surface.colourRequests[1].initial, MakeColour(96, 96, 255));
    EXPECT_EQ(surface.colourRequests[0].title, kLowColourTitle);
    EXPECT_EQ(surface.colourRequests[1].title, kHighColourTitle);
    EXPECT_EQ(surface.colourRequests[0].custom, &colours);
    EXPECT_EQ(controller->Command(kCancelButton), CommandResult::CloseCancel);
    EXPECT_EQ(settings.r1, 10);
    EXPECT_EQ(settings.g1, 20);
    EXPECT_EQ(settings.b1, 30);
    EXPECT_EQ(settings.r2, 200);
    EXPECT_EQ(settings.g2, 210);
    EXPECT_EQ(settings.b2, 220);
}

TEST_F(Dialog, CancelledColourChoosersLeaveTheirBounds) {
    settings.r1 = 300;  // from a null: the chooser starts at the nearest byte
    settings.g1 = -4;
    Start();
    surface.colourAnswers = {std::nullopt, MakeColour(1, 2, 3)};
    controller->Command(kColourRangeRadio);
    EXPECT_EQ(surface.colourRequests[0].initial, MakeColour(255, 0, 192));
    EXPECT_EQ(settings.r1, 300);
    EXPECT_EQ(settings.g1, -4);
    EXPECT_EQ(settings.b1, 192);
    EXPECT_EQ(settings.r2, 1);
    surface.colourAnswers = {std::nullopt, std::nullopt};
    controller->Command(kColourRangeRadio);
    EXPECT_EQ(settings.r2, 1);
    EXPECT_EQ(settings.b2, 3);
}

TEST_F(Dialog, UseNullsMenuItemFlipsTheModuleSwitch) {
    useNulls = 8;
    Start();
    EXPECT_TRUE(surface.menu[kMenuUseNulls]);
    EXPECT_EQ(controller->Command(kMenuUseNulls), CommandResult::Handled);
    EXPECT_EQ(useNulls, 0);
    EXPECT_FALSE(surface.menu[kMenuUseNulls]);
    controller->Command(kMenuUseNulls);
    EXPECT_EQ(useNulls, 8);
    EXPECT_TRUE(surface.menu[kMenuUseNulls]);
}

TEST_F(Dialog, NullsOffLooksUpNoGlobal) {
    AddObject("3Red%", 150.0);
    useNulls = 0;
    Start();
    EXPECT_TRUE(host.vectorTimes.empty());
    EXPECT_EQ(Text(kRedPercentEdit), "100");
    EXPECT_TRUE(surface.IsEnabled(kRedPercentEdit));
}

// Values null objects drive show disabled, read at the previewed frame's
// time (else the latest frame's), and say so; OK keeps the stored values
// for them, unless the control no longer shows the null object's value.
TEST_F(Dialog, NullValuesShowAtThePreviewedTimeAndOkKeepsTheStoredOnes) {
    useNulls = 8;
    frameEndTime = 2.5;
    AddObject("3Red%", 150.7);
    AddObject("3Contrast%", -20.9);
    AddObject("3Blur%", 40.0);
    AddObject("3Softer", 0.99);
    AddObject("3AntialiasT", 30.0);
    AddObject("3FocalPoint", 55.0);
    AddObject("3Red%x", 5.0);  // not a channel name
    settings.SofterBlurFlag = 1;
    settings.DOFBlurFocalPoint = 100;
    Start();
    EXPECT_EQ(host.vectorTimes, std::vector<double>(6, 2.5));

    EXPECT_EQ(Text(kRedPercentEdit), "150");
    EXPECT_FALSE(surface.IsEnabled(kRedPercentEdit));
    EXPECT_FALSE(surface.IsEnabled(kRedPercentLabel));
    EXPECT_EQ(Text(kContrastPercentEdit), "-20");
    EXPECT_FALSE(surface.IsEnabled(kContrastPercentLabel));
    EXPECT_EQ(surface.check[kBlurCheck], kChecked);
    EXPECT_EQ(Text(kBlurPercentEdit), "40");
    EXPECT_FALSE(surface.IsEnabled(kBlurCheck));
    EXPECT_FALSE(surface.IsEnabled(kBlurPercentEdit));
    EXPECT_EQ(surface.check[kSofterCheck], kUnchecked);
    EXPECT_FALSE(surface.IsEnabled(kSofterCheck));
    EXPECT_EQ(surface.check[kAntialiasCheck], kChecked);
    EXPECT_FALSE(surface.IsEnabled(kAntialiasCheck));
    EXPECT_EQ(Text(kAntialiasThresholdEdit), "30");
    EXPECT_FALSE(surface.IsEnabled(kAntialiasThresholdLabel));
    EXPECT_TRUE(surface.IsEnabled(kGreenPercentEdit));
    for (ControlId id : {kFocalPointEdit, kFocalPointLabel}) {
        EXPECT_NE(surface.toolTip[id].find("driven by \"3FocalPoint\""), std::string::npos);
        EXPECT_NE(surface.toolTip[id].find("2.50 s"), std::string::npos);
    }
    EXPECT_EQ(surface.toolTip[kGreenPercentEdit].find("driven by"), std::string::npos);
    EXPECT_EQ(surface.driven[kFocalPointEdit], "3FocalPoint");
    EXPECT_EQ(surface.driven.count(kGreenPercentEdit), 0u);

    // Untouched, nothing the null objects drive is stored, nor previewed
    // in place of the stored values (the preview applies the nulls itself).
    const FilterSettings before = settings;
    EXPECT_TRUE(SameRecord(controller->CurrentValues(), before));
    Ok();
    EXPECT_TRUE(SameRecord(settings, before));

    // A preset loaded over a driven box is the user's value: stored.
    surface.text[kContrastPercentEdit] = "30";
    Ok();
    EXPECT_EQ(settings.ContrastPercent, 30);
    EXPECT_EQ(settings.RedPercent, before.RedPercent);

    // The previewed frame's time wins over the latest frame's.
    PreviewFrame frame;
    frame.width = frame.sourceWidth = 8;
    frame.height = frame.sourceHeight = 1;
    frame.time = 1.25;
    host.vectorTimes.clear();
    DialogModel model = Model();
    model.previewFrame = &frame;
    controller.emplace(surface, model);
    controller->Start();
    EXPECT_EQ(host.vectorTimes, std::vector<double>(6, 1.25));
}

TEST_F(Dialog, NullFlipFrameAtTwoShowsBothRadiosAndOkKeepsTheStoredFlip) {
    useNulls = 8;
    AddObject("3FlipFrame", 2.0);
    AddObject("3FiltersShouldAffect", 1.0);
    settings.FilterInclude = 4;
    Start();
    EXPECT_EQ(surface.check[kFlipFrameCheck], kChecked);
    EXPECT_TRUE(surface.radio[kFlipHorzRadio]);
    EXPECT_TRUE(surface.radio[kFlipVertRadio]);
    for (ControlId id : {kFlipFrameCheck, kFlipHorzRadio, kFlipVertRadio})
        EXPECT_FALSE(surface.IsEnabled(id));
    Ok();
    EXPECT_EQ(settings.FlipFrameFlag, 0);
    EXPECT_EQ(settings.FilterInclude, 4);

    host.items.pop_back();
    host.items.back().position[2] = 0.0;
    settings.FlipFrameFlag = 2;
    Start();
    EXPECT_EQ(surface.check[kFlipFrameCheck], kUnchecked);
    EXPECT_FALSE(surface.radio[kFlipHorzRadio]);
    EXPECT_FALSE(surface.radio[kFlipVertRadio]);
    // Changed by hand (here as a preset would), the flip is stored.
    surface.check[kFlipFrameCheck] = kChecked;
    surface.radio[kFlipVertRadio] = true;
    Ok();
    EXPECT_EQ(settings.FlipFrameFlag, 2);
}

TEST_F(Dialog, NullFiltersShouldAffectRanges) {
    useNulls = 8;
    AddObject("3FiltersShouldAffect", 0.0);
    const std::pair<double, std::vector<ControlId>> cases[] = {
        {0.0, {kFullFrameRadio}},
        {1.0, {kBackgroundOnlyRadio}},
        {1.5, {kObjectsOnlyRadio}},
        {3.0, {kShadowsOnlyRadio}},
        {4.0, {kColourRangeRadio}},
        {4.5, {kFullFrameRadio, kObjectsOnlyRadio}},
        {6.0, {kFullFrameRadio, kBackgroundOnlyRadio}},
    };
    for (const auto& [v, shown] : cases) {
        host.items.back().position[2] = v;
        settings.FilterInclude = 0;
        Start();
        for (ControlId id : kFilterRadios) {
            const bool expected = std::find(shown.begin(), shown.end(), id) != shown.end();
            EXPECT_EQ(surface.radio[id], expected) << v << " radio " << id;
            EXPECT_FALSE(surface.IsEnabled(id));
        }
    }
}

TEST_F(Dialog, MissingGlobalStopsTheNullDisplay) {
    AddObject("3Red%", 150.0);
    Module module;
    module.lookup = host.Lookup();
    module.UseNulls = 8;
    EXPECT_NE(DialogSession(module).model().objects, nullptr);
    for (int missing = 0; missing < 3; ++missing) {
        host.provideSceneInfo = missing != 0;
        host.provideItemInfo = missing != 1;
        host.provideObjectInfo = missing != 2;
        const DialogSession session(module);
        EXPECT_EQ(session.model().objects, nullptr) << missing;
        DialogModel model = session.model();
        model.settings = &settings;  // the fixture's record, at its defaults
        controller.emplace(surface, model);
        controller->Start();
        EXPECT_EQ(Text(kRedPercentEdit), "100") << missing;
    }
    EXPECT_TRUE(host.vectorTimes.empty());
}

TEST_F(Dialog, EveryShownChannelIsANullChannel) {
    // Each display rule must be reached through the channel table: an object
    // named after it changes at least one control.
    useNulls = 8;
    const char* shown[] = {"3Red%", "3Green%", "3Blue%", "3Bright%", "3Gamma%", "3Contrast%",
                           "3Blur%", "3Softer", "3DOFBlur%", "3FocalPoint", "3Enhance%",
                           "3Antialias%", "3AntialiasT", "3Noise%", "3Posterize%", "3NTSCLimit",
                           "3BlackandWhite", "3Negative", "3FlipFrame", "3FiltersShouldAffect"};
    for (const char* name : shown) {
        ASSERT_NE(FindNullChannel(name), nullptr) << name;
        host.items.resize(1);
        AddObject(name, 7.0);
        surface = MemorySurface();
        Start();
        EXPECT_FALSE(surface.enabled.empty()) << name;
    }
    host.items.resize(1);
    AddObject("3Noise%", 7.0);
    AddObject("3NoiseRed%", 7.0);  // a channel without a display rule
    surface = MemorySurface();
    Start();
    EXPECT_EQ(host.vectorTimes.size(), 21u);
}

}  // namespace
}  // namespace lumafex

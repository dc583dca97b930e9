#include "ui/dialog_fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "settings/settings_fields.h"
#include "support/memory_surface.h"
#include "ui/dialog_controller.h"

namespace lumafex {
namespace {

using namespace ui;

TEST(DialogFields, EveryFieldHasOneRowAndEveryControlOneNumber) {
    // Each record field but the softer latch (set with "S&ofter") has
    // exactly one row; a field added to the record without one fails here.
    for (const SettingsField& field : kSettingsFields) {
        int rows = 0;
        for (const DialogField& row : kDialogFields) rows += row.member == field.member ? 1 : 0;
        EXPECT_EQ(rows, field.member == &FilterSettings::SofterExtraFlag ? 0 : 1) << field.name;
    }
    // No two controls share a number, and none is a button's or a radio's.
    std::set<ControlId> ids{kOkButton,         kCancelButton,        kFlipHorzRadio,
                            kFlipVertRadio,    kKeyPrepBlackRadio,   kKeyPrepWhiteRadio,
                            kFullFrameRadio,   kBackgroundOnlyRadio, kObjectsOnlyRadio,
                            kShadowsOnlyRadio, kColourRangeRadio};
    for (const DialogField& row : kDialogFields) {
        const auto at = &row - kDialogFields;
        for (ControlId id : {row.id, row.label}) {
            EXPECT_TRUE(id == 0 || ids.insert(id).second) << id;
        }
        const bool shown = row.control == FieldControl::NumberBox ||
                           row.control == FieldControl::CheckBox;
        EXPECT_TRUE(!shown || row.id != 0) << "row " << at;
        EXPECT_TRUE(row.control != FieldControl::NumberBox || row.name != nullptr) << "row " << at;
    }
}

// Every field the dialog shows comes back from its control unchanged, with
// values that tell fields apart (a row pointing at a neighbour's member or
// control is caught).
TEST(DialogFields, EveryShownFieldRoundTripsThroughItsControl) {
    for (int32_t phase = 0; phase < 2; ++phase) {
        FilterSettings shown{};
        ResetToDefaults(shown);
        int32_t value = 300;
        int32_t flag = phase;
        for (const DialogField& row : kDialogFields) {
            if (row.control == FieldControl::NumberBox) shown.*row.member = value += 7;
            if (row.control == FieldControl::CheckBox) shown.*row.member = flag ^= 1;
        }
        shown.Passes = 2 + phase;
        shown.FilterInclude = 1 + 2 * phase;
        shown.SofterBlurFlag = 2 - phase;
        shown.SofterExtraFlag = shown.SofterBlurFlag == 2 ? 1 : 0;
        shown.FlipFrameFlag = 1 + phase;
        shown.KeyPrepFlag = 2 - phase;

        FilterSettings record = shown;
        int32_t useNulls = 0;
        CustomColourTable colours{};
        testing::MemorySurface surface;
        DialogModel model;
        model.settings = &record;
        model.UseNulls = &useNulls;
        model.CustomColours = &colours;
        DialogController controller(surface, model);
        controller.Start();
        std::memset(&record, 0, sizeof record);
        for (const DialogField& row : kDialogFields) {
            if (row.control == FieldControl::None) record.*row.member = shown.*row.member;
        }
        controller.WriteBack();
        EXPECT_EQ(std::memcmp(&record, &shown, sizeof record), 0) << "phase " << phase;
        for (const SettingsField& field : kSettingsFields) {
            EXPECT_EQ(record.*field.member, shown.*field.member) << field.name;
        }
    }
}

}  // namespace
}  // namespace lumafex

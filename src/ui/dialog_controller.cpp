#include "ui/dialog_controller.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>

#include "pipeline/null_channel_table.h"
#include "pipeline/null_channels.h"
#include "pipeline/null_truncate.h"
#include "platform/heap.h"
#include "platform/messages.h"
#include "settings/decimal.h"
#include "ui/control_tooltips.h"
#include "ui/dialog_fields.h"
#include "ui/field_limits.h"
#include "ui/preset_file.h"

#ifndef LUMAFEX_VERSION
#define LUMAFEX_VERSION "unknown"
#endif

namespace lumafex::ui {

CustomColourTable& TheCustomColours() {
    static CustomColourTable colours{};  // zero until the first dialog start fills it
    return colours;
}

int32_t TextToInt32(const char* text) { return ParseSaturatedDecimal(text).value_or(0); }

namespace {

bool IsThreeState(ControlId id) {
    return id == kSofterCheck || id == kFlipFrameCheck || id == kKeyPrepCheck;
}

// The check state a field or preset switch shows: its value unchanged when
// the box can hold it; other non-zero values simply check the box.
int BoxState(ControlId id, int32_t value) {
    if (value == 0) return kUnchecked;
    if (value == kIndeterminate && IsThreeState(id)) return kIndeterminate;
    return kChecked;
}

uint8_t ColourByte(int32_t value) {
    return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// The radio of each "Filters Should Affect" value, by value.
constexpr ControlId kFilterIncludeRadios[5] = {kObjectsOnlyRadio, kBackgroundOnlyRadio,
                                               kShadowsOnlyRadio, kFullFrameRadio,
                                               kColourRangeRadio};

void WriteInteger(ControlSurface& surface, ControlId id, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    surface.SetText(id, text);
}

// How a null channel's value shows in the dialog.
void ShowFlip(ControlSurface& s, double v) {
    for (ControlId id : {kFlipFrameCheck, kFlipHorzRadio, kFlipVertRadio}) s.SetEnabled(id, false);
    s.SetCheckState(kFlipFrameCheck, v > 0 ? kChecked : kUnchecked);
    s.SetRadioChecked(kFlipHorzRadio, v > 0);
    s.SetRadioChecked(kFlipVertRadio, v > 1);
}

void ShowFiltersShouldAffect(ControlSurface& s, double v) {
    // Each later range replaces the earlier display; beyond 4 the channel
    // means full frame with a one-sided depth-of-field blur, shown as two
    // radios together.
    ControlId first = kFullFrameRadio;
    ControlId second = 0;
    if (v > 0) first = kBackgroundOnlyRadio;
    if (v > 1) first = kObjectsOnlyRadio;
    if (v > 2) first = kShadowsOnlyRadio;
    if (v > 3) first = kColourRangeRadio;
    if (v > 4) first = kFullFrameRadio, second = kObjectsOnlyRadio;
    if (v > 5) first = kFullFrameRadio, second = kBackgroundOnlyRadio;
    for (ControlId id : kFilterIncludeRadios) {
        s.SetEnabled(id, false);
        s.SetRadioChecked(id, id == first || id == second);
    }
}

enum class DisplayRule {
    Value,        // the box checked when v > 0, trunc(v) in the edit box
    SwitchAtOne,  // the box checked when v >= 1
    Flip,
    FiltersShouldAffect,
};

// What a channel shows and disables. Controls given as 0 are not touched.
struct NullDisplay {
    const char* channel;
    ControlId check;
    ControlId edit;
    ControlId label;  // disabled together with the edit box
    DisplayRule rule;
};

constexpr bool SameName(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

// A channel's display, its controls found by the rows that name the channel
// as their driving null object: the number box with its label, and the
// check box. Flip and "Filters Should Affect" set their radios by their own
// rules.
consteval NullDisplay Display(const char* channel, DisplayRule rule = DisplayRule::Value) {
    NullDisplay display{channel, 0, 0, 0, rule};
    if (rule == DisplayRule::Flip || rule == DisplayRule::FiltersShouldAffect) return display;
    for (const DialogField& row : kDialogFields) {
        if (row.id == 0 || row.nullObject == nullptr || !SameName(row.nullObject, channel)) continue;
        if (HasLimits(row)) {
            display.edit = row.id;
            display.label = row.label;
        } else {
            display.check = row.id;  // a check box, two- or three-state
        }
    }
    if (display.check == 0 && display.edit == 0) throw "no control shows the channel";
    return display;
}

// The channels the dialog shows, each read at the time the render reads it.
constexpr NullDisplay kNullDisplays[] = {
    Display("3Red%"),
    Display("3Green%"),
    Display("3Blue%"),
    Display("3Bright%"),
    Display("3Gamma%"),
    Display("3Contrast%"),
    Display("3Blur%"),
    Display("3Softer", DisplayRule::SwitchAtOne),
    Display("3DOFBlur%"),
    Display("3FocalPoint"),
    Display("3Enhance%"),
    Display("3Antialias%"),
    Display("3AntialiasT"),
    Display("3Noise%"),
    Display("3Posterize%"),
    Display("3NTSCLimit"),
    Display("3BlackandWhite"),
    Display("3Negative"),
    Display("3FlipFrame", DisplayRule::Flip),
    Display("3FiltersShouldAffect", DisplayRule::FiltersShouldAffect),
};

void ShowNullValue(ControlSurface& s, const NullDisplay& display, double v) {
    switch (display.rule) {
        case DisplayRule::Flip:
            ShowFlip(s, v);
            return;
        case DisplayRule::FiltersShouldAffect:
            ShowFiltersShouldAffect(s, v);
            return;
        case DisplayRule::Value:
        case DisplayRule::SwitchAtOne:
            break;
    }
    if (display.check != 0) {
        const bool on = display.rule == DisplayRule::SwitchAtOne ? v >= 1 : v > 0;
        s.SetCheckState(display.check, on ? kChecked : kUnchecked);
        s.SetEnabled(display.check, false);
    }
    if (display.edit != 0) {
        WriteInteger(s, display.edit, TruncateChannelValue(v));
        s.SetEnabled(display.edit, false);
    }
    if (display.label != 0) s.SetEnabled(display.label, false);
}

// Every control a channel's display fills.
std::vector<ControlId> DisplayedControls(const NullDisplay& display) {
    switch (display.rule) {
        case DisplayRule::Flip:
            return {kFlipFrameCheck, kFlipHorzRadio, kFlipVertRadio};
        case DisplayRule::FiltersShouldAffect:
            return {std::begin(kFilterIncludeRadios), std::end(kFilterIncludeRadios)};
        case DisplayRule::Value:
        case DisplayRule::SwitchAtOne:
            break;
    }
    std::vector<ControlId> ids;
    for (ControlId id : {display.check, display.edit, display.label}) {
        if (id != 0) ids.push_back(id);
    }
    return ids;
}

const NullDisplay* FindNullDisplay(const char* name) {
    // Only whole channel names match; the channel table decides what one is.
    const NullChannel* channel = FindNullChannel(name);
    if (channel == nullptr) return nullptr;
    for (const NullDisplay& display : kNullDisplays) {
        if (std::strcmp(display.channel, channel->name) == 0) return &display;
    }
    return nullptr;
}

}  // namespace

std::string AboutText() {
    return std::string("Lumafex3 image filter\nVersion ") + LUMAFEX_VERSION +
           "\n\nPost-processing filters for every rendered frame: colour, blur, "
           "depth of field, enhance, antialias, noise and key filters.\n\n"
           "Copyright the Lumafex developers. All rights reserved.\n"
           "Licence: proprietary. This copy may be used under the terms it was supplied "
           "with; copying or passing it on needs the Lumafex developers' written "
           "permission. No other licence is granted.";
}

double NullDisplayTime(const DialogModel& model) {
    if (model.previewFrame != nullptr && !model.previewFrame->empty()) {
        return model.previewFrame->time;
    }
    return model.FrameEndTime;
}

int32_t DialogController::ReadNumber(ControlId id) const {
    char text[kTextReadLimit + 1];
    surface_.GetText(id, text, sizeof text);
    text[kTextReadLimit] = '\0';
    return TextToInt32(text);
}

void DialogController::WriteNumber(ControlId id, int32_t value) {
    WriteInteger(surface_, id, value);
}

bool DialogController::IsChecked(ControlId id) const {
    return surface_.GetCheckState(id) != kUnchecked;
}

int32_t DialogController::SelectedFilterInclude() const {
    // Full frame unless another radio is selected; the last match wins.
    int32_t value = 3;
    if (surface_.IsRadioChecked(kObjectsOnlyRadio)) value = 0;
    if (surface_.IsRadioChecked(kBackgroundOnlyRadio)) value = 1;
    if (surface_.IsRadioChecked(kColourRangeRadio)) value = 4;
    if (surface_.IsRadioChecked(kShadowsOnlyRadio)) value = 2;
    return value;
}

int32_t DialogController::FlipFromControls() const {
    if (!IsChecked(kFlipFrameCheck)) return 0;
    return surface_.IsRadioChecked(kFlipHorzRadio) ? 1 : 2;
}

int32_t DialogController::KeyPrepFromControls() const {
    if (!IsChecked(kKeyPrepCheck)) return 0;
    return surface_.IsRadioChecked(kKeyPrepBlackRadio) ? 1 : 2;
}

void DialogController::SelectFilterInclude(int32_t value) {
    // A value outside 0..4 selects none of the five.
    for (int32_t i = 0; i < 5; ++i) surface_.SetRadioChecked(kFilterIncludeRadios[i], i == value);
}

void DialogController::Start() {
    const FilterSettings& s = *model_.settings;
    for (const DialogField& row : kDialogFields) {
        if (row.control == FieldControl::NumberBox) WriteNumber(row.id, s.*row.member);
    }
    WriteNumber(kPassesEdit, s.Passes);
    surface_.SetVisible(kPassesEdit, false);
    surface_.SetVisible(kPassesLabel, false);
    surface_.SetMenuChecked(kMenuUseNulls, *model_.UseNulls != 0);
    SelectFilterInclude(s.FilterInclude);
    surface_.SetRadioChecked(kFlipHorzRadio, s.FlipFrameFlag == 1);
    surface_.SetRadioChecked(kFlipVertRadio, s.FlipFrameFlag != 1);
    surface_.SetRadioChecked(kKeyPrepBlackRadio, s.KeyPrepFlag == 1);
    surface_.SetRadioChecked(kKeyPrepWhiteRadio, s.KeyPrepFlag != 1);
    for (const DialogField& row : kDialogFields) {
        if (row.control == FieldControl::CheckBox) {
            surface_.SetCheckState(row.id, BoxState(row.id, s.*row.member));
        }
    }
    // The three-state boxes show their field's value as it is when they can.
    surface_.SetCheckState(kSofterCheck, BoxState(kSofterCheck, s.SofterBlurFlag));
    surface_.SetCheckState(kFlipFrameCheck, BoxState(kFlipFrameCheck, s.FlipFrameFlag));
    surface_.SetCheckState(kKeyPrepCheck, BoxState(kKeyPrepCheck, s.KeyPrepFlag));

    CustomColourTable& colours = *model_.CustomColours;
    if (colours[0] == 0) {
        // Two ramps: from dark blue up to pale grey at blue 160, then from
        // pale blue down to a deep blue at full blue.
        for (int i = 0; i <= 8; ++i) {
            const auto grey = static_cast<uint8_t>(24 * i);
            colours[static_cast<std::size_t>(i)] = MakeColour(grey, grey, 160);
        }
        for (int i = 9; i < 16; ++i) {
            const auto grey = static_cast<uint8_t>(255 - 24 * (i - 8));
            colours[static_cast<std::size_t>(i)] = MakeColour(grey, grey, 255);
        }
    }
    if (model_.outcome != nullptr) *model_.outcome = 0;
    driven_.clear();
    if (*model_.UseNulls != 0) ShowNullChannels();

    char time[48];
    std::snprintf(time, sizeof time, "%.2f", NullDisplayTime(model_));
    for (ControlId id : ControlsWithToolTips()) {
        std::string tip = ControlToolTip(id);
        if (const DrivenControl* driven = FindDriven(id)) {
            tip += std::string("\nNow driven by \"") + driven->channel +
                   "\": shown as it stands at " + time +
                   " s, the previewed frame's time. OK keeps the stored value.";
        }
        surface_.SetToolTip(id, tip.c_str());
    }
    CheckAllFields();
}

void DialogController::NoteDriven(ControlId id, const char* channel) {
    // A later object naming the same channel replaces the earlier display.
    std::erase_if(driven_, [id](const DrivenControl& d) { return d.id == id; });
    DrivenControl d{id, channel, {}, surface_.GetCheckState(id), surface_.IsRadioChecked(id)};
    char text[kTextReadLimit + 1];
    surface_.GetText(id, text, sizeof text);
    text[kTextReadLimit] = '\0';
    d.text = text;
    driven_.push_back(std::move(d));
    surface_.MarkDriven(id, channel);
}

const DialogController::DrivenControl* DialogController::FindDriven(ControlId id) const {
    for (const DrivenControl& d : driven_) {
        if (d.id == id) return &d;
    }
    return nullptr;
}

bool DialogController::ShowsNullValue(ControlId id) const {
    const DrivenControl* d = FindDriven(id);
    if (d == nullptr) return false;
    char text[kTextReadLimit + 1];
    surface_.GetText(id, text, sizeof text);
    text[kTextReadLimit] = '\0';
    return d->text == text && d->check == surface_.GetCheckState(id) &&
           d->radio == surface_.IsRadioChecked(id);
}

void DialogController::ShowNullChannels() {
    if (model_.objects == nullptr) return;
    const SceneObjects& objects = *model_.objects;
    for (void* object = objects.FirstObject(); object != nullptr;
         object = objects.NextObject(object)) {
        const char* name = objects.Name(object);
        if (name == nullptr) continue;
        const NullDisplay* display = FindNullDisplay(name);
        if (display == nullptr) continue;
        double vector[3] = {0.0, 0.0, 0.0};
        objects.Position(object, NullDisplayTime(model_), vector);
        ShowNullValue(surface_, *display, vector[2]);
        for (ControlId id : DisplayedControls(*display)) NoteDriven(id, display->channel);
    }
}

std::string DialogController::CheckNumber(ControlId id) {
    const DialogField* limits = FindFieldLimits(id);
    // The hidden passes box is not the user's to correct (OK stores it by
    // the reading rule alone), and a box showing a null object's value is
    // not stored at all.
    if (limits == nullptr) return {};
    if (id == kPassesEdit || ShowsNullValue(id)) {
        surface_.MarkInvalid(id, nullptr);
        return {};
    }
    char text[kTextReadLimit + 1];
    surface_.GetText(id, text, sizeof text);
    text[kTextReadLimit] = '\0';
    const std::string problem = FieldProblem(*limits, text);
    surface_.MarkInvalid(id, problem.empty() ? nullptr : problem.c_str());
    return problem;
}

std::string DialogController::CheckAllFields() {
    std::string first;
    for (const DialogField& row : kDialogFields) {
        if (!HasLimits(row)) continue;
        const std::string problem = CheckNumber(row.id);
        if (first.empty()) first = problem;
    }
    return first;
}

FilterSettings DialogController::CurrentValues() const {
    FilterSettings values = *model_.settings;
    ReadControls(values);
    return values;
}

void DialogController::WriteBack() { ReadControls(*model_.settings); }

void DialogController::ReadControls(FilterSettings& s) const {
    const FilterSettings stored = s;
    for (const DialogField& row : kDialogFields) {
        if (row.control == FieldControl::NumberBox) s.*row.member = ReadNumber(row.id);
        if (row.control == FieldControl::CheckBox) s.*row.member = IsChecked(row.id) ? 1 : 0;
    }
    const int32_t passes = ReadNumber(kPassesEdit);
    s.Passes = passes > kMaxPasses ? kMaxPasses : passes;
    s.FilterInclude = SelectedFilterInclude();
    // The third state of "S&ofter" skips the softer blur over the frame;
    // any other state clears that, as loading a scene does.
    const int softer = surface_.GetCheckState(kSofterCheck);
    s.SofterBlurFlag = softer == kIndeterminate ? 2 : (softer != kUnchecked ? 1 : 0);
    s.SofterExtraFlag = softer == kIndeterminate ? 1 : 0;
    s.FlipFrameFlag = FlipFromControls();
    s.KeyPrepFlag = KeyPrepFromControls();

    // A control still showing a null object's value keeps the stored value:
    // the null object overrides the field at render time anyway, and the
    // value shown belongs to one moment of the scene, not to the settings.
    for (const DialogField& row : kDialogFields) {
        if (row.control != FieldControl::NumberBox && row.control != FieldControl::CheckBox) continue;
        if (ShowsNullValue(row.id)) s.*row.member = stored.*row.member;
    }
    if (ShowsNullValue(kSofterCheck)) {
        s.SofterBlurFlag = stored.SofterBlurFlag;
        s.SofterExtraFlag = stored.SofterExtraFlag;
    }
    auto allShown = [this](std::initializer_list<ControlId> ids) {
        return std::all_of(ids.begin(), ids.end(), [this](ControlId id) { return ShowsNullValue(id); });
    };
    if (allShown({kFlipFrameCheck, kFlipHorzRadio, kFlipVertRadio})) s.FlipFrameFlag = stored.FlipFrameFlag;
    if (allShown({kObjectsOnlyRadio, kBackgroundOnlyRadio, kShadowsOnlyRadio, kFullFrameRadio,
                  kColourRangeRadio})) {
        s.FilterInclude = stored.FilterInclude;
    }
}

void DialogController::ChooseColourRange() {
    // Each bound is written as soon as its chooser closes; a cancelled
    // chooser leaves its bound as it was.
    FilterSettings& s = *model_.settings;
    CustomColourTable& custom = *model_.CustomColours;
    if (auto low = surface_.ChooseColour(
            MakeColour(ColourByte(s.r1), ColourByte(s.g1), ColourByte(s.b1)), custom,
            kLowColourTitle)) {
        s.r1 = RedOf(*low);
        s.g1 = GreenOf(*low);
        s.b1 = BlueOf(*low);
    }
    if (auto high = surface_.ChooseColour(
            MakeColour(ColourByte(s.r2), ColourByte(s.g2), ColourByte(s.b2)), custom,
            kHighColourTitle)) {
        s.r2 = RedOf(*high);
        s.g2 = GreenOf(*high);
        s.b2 = BlueOf(*high);
    }
}

void DialogController::ToggleUseNulls() {
    const int32_t old = surface_.IsMenuChecked(kMenuUseNulls) ? kUseNullsAtLoad : 0;
    *model_.UseNulls = old ^ kUseNullsAtLoad;
    surface_.SetMenuChecked(kMenuUseNulls, *model_.UseNulls != 0);
}

void DialogController::SavePresetAs() {
    platform::MemoryBlock block = model_.allocate(kPresetSize);
    if (!block || block.size() < kPresetSize) {
        surface_.ShowMessage(platform::kOutOfMemoryText, platform::kOutOfMemoryCaption, true);
        return;
    }
    const std::optional<std::string> path = surface_.ChooseFile(FileChooserKind::Save);
    if (!path) return;

    PresetBytes bytes(static_cast<uint8_t*>(block.data()), kPresetSize);
    StorePreset(bytes);
    // A name typed without an extension gets the presets' own, so that Open
    // lists the file.
    if (!WritePresetFile(WithPresetExtension(*path).c_str(), bytes)) {
        surface_.ShowMessage(kWriteErrorText, kFileErrorCaption, false);
    }
}

void DialogController::OpenPreset() {
    platform::MemoryBlock block = model_.allocate(kPresetSize);
    if (!block || block.size() < kPresetSize) {
        surface_.ShowMessage(platform::kOutOfMemoryText, platform::kOutOfMemoryCaption, true);
        return;
    }
    const std::optional<std::string> path = surface_.ChooseFile(FileChooserKind::Open);
    if (!path) return;

    PresetBytes bytes(static_cast<uint8_t*>(block.data()), kPresetSize);
    if (!ReadPresetFile(path->c_str(), bytes)) {
        surface_.ShowMessage(kReadErrorText, kFileErrorCaption, false);
        return;
    }
    ApplyPreset(bytes);
}

void DialogController::StorePreset(PresetBytes bytes) const {
    std::memset(bytes.data(), 0, kPresetSize);
    for (const PresetTextSlot& slot : kPresetTextSlots) {
        char text[kPresetTextSize];
        surface_.GetText(slot.edit, text, sizeof text);
        PutPresetText(bytes, slot.offset, text);
    }
    for (const PresetColourSlot& slot : kPresetColourSlots) {
        PutPresetNumber(bytes, slot.offset, model_.settings->*slot.bound);
    }
    PutPresetInt(bytes, kPresetFilterIncludeOffset, SelectedFilterInclude());
    for (const PresetSwitchSlot& slot : kPresetSwitchSlots) {
        // Softer keeps its third state; the other boxes are on or off.
        const int state = surface_.GetCheckState(slot.check);
        const bool third = slot.check == kSofterCheck && state == kIndeterminate;
        PutPresetInt(bytes, slot.offset, third ? 2 : (state != kUnchecked ? 1 : 0));
    }
    PutPresetInt(bytes, kPresetFlipOffset, FlipFromControls());
    PutPresetInt(bytes, kPresetKeyPrepOffset, KeyPrepFromControls());
}

void DialogController::ApplyPreset(ConstPresetBytes bytes) {
    for (const PresetTextSlot& slot : kPresetTextSlots) {
        char text[kPresetTextSize];
        GetPresetText(bytes, slot.offset, text);
        surface_.SetText(slot.edit, text);
    }
    // The colour range goes straight into the record, as the choosers do.
    for (const PresetColourSlot& slot : kPresetColourSlots) {
        char text[kPresetTextSize];
        GetPresetText(bytes, slot.offset, text);
        model_.settings->*slot.bound = TextToInt32(text);
    }
    SelectFilterInclude(GetPresetInt(bytes, kPresetFilterIncludeOffset));
    const int32_t flip = GetPresetInt(bytes, kPresetFlipOffset);
    const int32_t keyPrep = GetPresetInt(bytes, kPresetKeyPrepOffset);
    surface_.SetRadioChecked(kFlipHorzRadio, flip == 1);
    surface_.SetRadioChecked(kFlipVertRadio, flip != 1);
    surface_.SetRadioChecked(kKeyPrepBlackRadio, keyPrep == 1);
    surface_.SetRadioChecked(kKeyPrepWhiteRadio, keyPrep != 1);
    for (const PresetSwitchSlot& slot : kPresetSwitchSlots) {
        const int32_t value = GetPresetInt(bytes, slot.offset);
        surface_.SetCheckState(slot.check, BoxState(slot.check, value));
    }
    surface_.SetCheckState(kFlipFrameCheck, BoxState(kFlipFrameCheck, flip));
    surface_.SetCheckState(kKeyPrepCheck, BoxState(kKeyPrepCheck, keyPrep));
}

CommandResult DialogController::Command(ControlId id) {
    switch (id) {
        case kOkButton:
        case kMenuOk: {
            // A value the record cannot take keeps the dialog open and says
            // why; nothing is stored.
            const std::string problem = CheckAllFields();
            if (!problem.empty()) {
                surface_.ShowMessage(problem.c_str(), kInvalidInputCaption, true);
                return CommandResult::Handled;
            }
            WriteBack();
            if (model_.outcome != nullptr) *model_.outcome = 1;
            platform::TrimHeap();
            return CommandResult::CloseOk;
        }
        case kCancelButton:
        case kMenuCancel:
            return CommandResult::CloseCancel;
        case kColourRangeRadio:
            ChooseColourRange();
            return CommandResult::Handled;
        case kMenuUseNulls:
            ToggleUseNulls();
            return CommandResult::Handled;
        case kMenuOpen:
            OpenPreset();
            return CommandResult::Handled;
        case kMenuSaveAs:
            SavePresetAs();
            return CommandResult::Handled;
        case kMenuAbout:
            surface_.ShowAbout(AboutText().c_str(), kAboutCaption);
            return CommandResult::Handled;
        default:
            return CommandResult::NotHandled;
    }
}

}  // namespace lumafex::ui

// The settings dialog's behaviour, independent of any toolkit: it fills the
// controls from the shared record at start, writes them back on OK, picks
// the colour range, switches "Use Nulls", shows the values null objects
// drive, and saves and loads presets. A binding creates the dialog, hands
// the controller its ControlSurface, calls Start once the controls exist and
// Command for every button click and menu choice, and closes the dialog when
// Command says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/filter_settings.h"
#include "ui/control_ids.h"
#include "ui/control_surface.h"
#include "ui/dialog_model.h"
#include "ui/preset_file.h"

namespace lumafex::ui {

// The colour chooser's custom colours: one table per loaded module, kept
// from one dialog to the next.
CustomColourTable& TheCustomColours();

// Messages the dialog shows.
inline constexpr const char* kReadErrorText = "Error reading file!";
inline constexpr const char* kWriteErrorText = "Error writing file!";
inline constexpr const char* kFileErrorCaption = "Error!";

// The colour choosers' titles, the caption of the refusal of a value that
// cannot be stored, and the About box.
inline constexpr const char* kLowColourTitle = "Low colour";
inline constexpr const char* kHighColourTitle = "High colour";
inline constexpr const char* kInvalidInputCaption = "Lumafex";
inline constexpr const char* kAboutCaption = "About Lumafex";

// The About box's text: name, version and licence.
std::string AboutText();

// The time at which the dialog shows the values null objects drive: the
// previewed frame's, else the latest frame's.
double NullDisplayTime(const DialogModel& model);

// Numbers are read back from at most this many characters of a box.
inline constexpr std::size_t kTextReadLimit = 20;

// The standard decimal text-to-integer rule: optional leading white space,
// an optional sign, then digits up to the first non-digit; no digits gives
// 0. Values beyond the 32-bit range saturate at its ends.
int32_t TextToInt32(const char* text);

enum class CommandResult {
    NotHandled,   // not a command of the dialog (check boxes, other menu items)
    Handled,
    CloseOk,      // end the dialog with result 1: the record has been written
    CloseCancel,  // end the dialog with result 0
};

class DialogController {
public:
    DialogController(ControlSurface& surface, const DialogModel& model)
        : surface_(surface), model_(model) {}

    // Dialog initialisation: record into controls, menu check, custom
    // colours, and with "Use Nulls" on the null display pass.
    void Start();

    // A button click or menu choice, by control or menu identifier.
    CommandResult Command(ControlId id);

    // Checks one number box against its limits, shows it as valid or
    // invalid, and returns why it cannot be stored (empty when it can).
    // Bindings call it as the user types.
    std::string CheckNumber(ControlId id);
    // Checks every number box the user can change; the first problem.
    std::string CheckAllFields();

    // The record as OK would leave it, without touching the record: what
    // the preview shows.
    FilterSettings CurrentValues() const;

    const DialogModel& model() const { return model_; }

    // The single commands, as Command runs them.
    void WriteBack();           // OK: every control into the record
    void ChooseColourRange();   // "High/Low Color Ra&nge" clicked
    void ToggleUseNulls();      // "Use Nulls" menu item
    void OpenPreset();          // "&Open..."
    void SavePresetAs();        // "Save &As..."

    // The preset codec the two file commands use: the controls (and the
    // colour range of the record) as a preset image, and an image shown in
    // the controls.
    void StorePreset(PresetBytes bytes) const;
    void ApplyPreset(ConstPresetBytes bytes);

    // Whether the null display filled the control and it still shows what
    // the null display put there: OK then keeps the record's value for it.
    bool ShowsNullValue(ControlId id) const;

private:
    // A control the null display filled, as it filled it.
    struct DrivenControl {
        ControlId id;
        const char* channel;  // the null object that drives it
        std::string text;     // edit boxes
        int check;            // check boxes
        bool radio;           // radio buttons
    };

    void ShowNullChannels();
    void NoteDriven(ControlId id, const char* channel);
    const DrivenControl* FindDriven(ControlId id) const;
    void ReadControls(FilterSettings& s) const;
    int32_t ReadNumber(ControlId id) const;
    void WriteNumber(ControlId id, int32_t value);
    bool IsChecked(ControlId id) const;
    int32_t SelectedFilterInclude() const;
    int32_t FlipFromControls() const;     // 0 off, 1 "Horz", 2 "Vert"
    int32_t KeyPrepFromControls() const;  // 0 off, 1 "B", 2 "W"
    void SelectFilterInclude(int32_t value);

    ControlSurface& surface_;
    DialogModel model_;
    std::vector<DrivenControl> driven_;
};

}  // namespace lumafex::ui

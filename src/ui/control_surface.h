// The settings dialog as the controller sees it: controls addressed by the
// template's identifiers (control_ids.h), plus the file and colour choosers
// and message boxes the dialog opens. Each toolkit binding implements this
// over its own widgets; the tests implement it in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "ui/control_ids.h"

namespace lumafex::ui {

// A colour as the system colour chooser holds it: 0x00BBGGRR.
using Colour = uint32_t;

constexpr Colour MakeColour(uint8_t red, uint8_t green, uint8_t blue) {
    return static_cast<Colour>(red) | (static_cast<Colour>(green) << 8) |
           (static_cast<Colour>(blue) << 16);
}
constexpr uint8_t RedOf(Colour c) { return static_cast<uint8_t>(c & 0xFFu); }
constexpr uint8_t GreenOf(Colour c) { return static_cast<uint8_t>((c >> 8) & 0xFFu); }
constexpr uint8_t BlueOf(Colour c) { return static_cast<uint8_t>((c >> 16) & 0xFFu); }

// The 16 custom colours the colour chooser offers and may change.
using CustomColourTable = std::array<Colour, 16>;

// Check box states: the third state is shown as indeterminate.
inline constexpr int kUnchecked = 0;
inline constexpr int kChecked = 1;
inline constexpr int kIndeterminate = 2;

enum class FileChooserKind {
    Open,  // pick an existing preset
    Save,  // pick a target, asking before an existing file is replaced
};

class ControlSurface {
public:
    virtual ~ControlSurface() = default;

    // Edit boxes and labels. GetText stores at most size - 1 characters of
    // the control's text and a terminating zero (size must be at least 1).
    virtual void SetText(ControlId id, const char* text) = 0;
    virtual void GetText(ControlId id, char* buffer, std::size_t size) const = 0;

    // Check boxes: 0 unchecked, 1 checked, 2 indeterminate (three-state
    // boxes only).
    virtual void SetCheckState(ControlId id, int state) = 0;
    virtual int GetCheckState(ControlId id) const = 0;

    // Radio buttons, each set on its own: the controller may show none or
    // two of a group selected (the null display does).
    virtual void SetRadioChecked(ControlId id, bool checked) = 0;
    virtual bool IsRadioChecked(ControlId id) const = 0;

    virtual void SetEnabled(ControlId id, bool enabled) = 0;
    virtual void SetVisible(ControlId id, bool visible) = 0;

    // Check marks of menu items.
    virtual void SetMenuChecked(ControlId id, bool checked) = 0;
    virtual bool IsMenuChecked(ControlId id) const = 0;

    // The preset file chooser, filtered to "*.lmx": the chosen path, or
    // nothing when the user cancelled.
    [[nodiscard]] virtual std::optional<std::string> ChooseFile(FileChooserKind kind) = 0;

    // The system colour chooser with its full panel open, titled title,
    // starting at initial and offering (and possibly changing) the custom
    // colours: the chosen colour, or nothing when the user cancelled.
    [[nodiscard]] virtual std::optional<Colour> ChooseColour(Colour initial, CustomColourTable& custom,
                                                             const char* title) = 0;

    // A modal message box with one OK button, owned by the dialog or by no
    // window.
    virtual void ShowMessage(const char* text, const char* caption, bool ownedByDialog) = 0;

    // The About box: information, not a warning, owned by the dialog.
    virtual void ShowAbout(const char* text, const char* caption) {
        ShowMessage(text, caption, true);
    }

    // Shows a control as holding the value a null object drives (channel
    // names it) rather than a stored one. Bindings without a way to show it
    // rely on the tooltip, which says it too.
    virtual void MarkDriven(ControlId /*id*/, const char* /*channel*/) {}

    // What a control says when the pointer rests on it.
    virtual void SetToolTip(ControlId id, const char* text) = 0;

    // Shows an edit box as holding a value that cannot be stored (problem
    // says why), or as fine again when problem is null.
    virtual void MarkInvalid(ControlId id, const char* problem) = 0;
};

}  // namespace lumafex::ui

// The controller's control surface over a Win32 dialog window.
#pragma once

#include <windows.h>

#include <map>
#include <set>
#include <string>

#include "ui/control_surface.h"

namespace lumafex::ui {

class Win32Surface : public ControlSurface {
public:
    explicit Win32Surface(HWND dialog) : dialog_(dialog) {}

    void SetText(ControlId id, const char* text) override;
    void GetText(ControlId id, char* buffer, std::size_t size) const override;
    void SetCheckState(ControlId id, int state) override;
    int GetCheckState(ControlId id) const override;
    void SetRadioChecked(ControlId id, bool checked) override;
    bool IsRadioChecked(ControlId id) const override;
    void SetEnabled(ControlId id, bool enabled) override;
    void SetVisible(ControlId id, bool visible) override;
    void SetMenuChecked(ControlId id, bool checked) override;
    bool IsMenuChecked(ControlId id) const override;
    std::optional<std::string> ChooseFile(FileChooserKind kind) override;
    std::optional<Colour> ChooseColour(Colour initial, CustomColourTable& custom,
                                       const char* title) override;
    void ShowMessage(const char* text, const char* caption, bool ownedByDialog) override;
    void ShowAbout(const char* text, const char* caption) override;
    void SetToolTip(ControlId id, const char* text) override;
    void MarkInvalid(ControlId id, const char* problem) override;

    // Whether an edit box is shown as invalid (the dialog paints it).
    bool IsInvalid(ControlId id) const { return invalid_.count(id) != 0; }

private:
    HWND dialog_;
    HWND toolTips_ = nullptr;  // one tooltip window for every control
    std::set<ControlId> invalid_;
};

}  // namespace lumafex::ui

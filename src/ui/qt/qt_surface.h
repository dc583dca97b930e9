// The settings dialog as Qt widgets: the same groups, labels, controls and
// menu as the dialog template, each widget named "id<identifier>" so that
// the controller (and tests) reach it by the template's identifier.
#pragma once

#include <QDialog>
#include <QHash>

#include "ui/control_surface.h"

class QAction;
class QWidget;

namespace lumafex::ui {

class DialogController;

class QtSettingsDialog final : public QDialog, public ControlSurface {
public:
    explicit QtSettingsDialog(QWidget* parent = nullptr);

    // Routes clicks and menu choices to the controller.
    void Attach(DialogController* controller);

    // ControlSurface
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
    std::optional<Colour> ChooseColour(Colour initial, CustomColourTable& custom) override;
    void ShowMessage(const char* text, const char* caption, bool ownedByDialog) override;

    // The widget of a control identifier, or null.
    QWidget* Control(ControlId id) const { return controls_.value(id, nullptr); }

private:
    void Register(ControlId id, QWidget* widget);
    void Dispatch(ControlId id);

    QHash<ControlId, QWidget*> controls_;
    QHash<ControlId, QAction*> actions_;
    DialogController* controller_ = nullptr;
};

// The file type the preset choosers offer.
inline constexpr const char* kPresetFilter = "Lumafex Plug-in *.lmx (*.lmx)";

}  // namespace lumafex::ui

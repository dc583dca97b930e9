// The settings dialog as Qt widgets: the same groups, labels, controls and
// menu as the dialog template, each widget named "id<identifier>" so that
// the controller (and tests) reach it by the template's identifier.
#pragma once

#include <QDialog>
#include <QHash>

#include "ui/control_surface.h"

#include <functional>

class QAction;
class QBoxLayout;
class QCheckBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QRadioButton;
class QScrollArea;
class QShowEvent;
class QWidget;

namespace lumafex::ui {

class DialogController;
struct DialogField;

class QtSettingsDialog final : public QDialog, public ControlSurface {
public:
    explicit QtSettingsDialog(QWidget* parent = nullptr);

    // Routes clicks and menu choices to the controller.
    void Attach(DialogController* controller);

    // Called after any control changed its value (typed, clicked, loaded
    // from a preset); the preview listens.
    void SetChangeListener(std::function<void()> listener) { changed_ = std::move(listener); }

    // Where the preview pane goes: beside the controls.
    QBoxLayout* PreviewSlot() const { return previewSlot_; }

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
    std::optional<Colour> ChooseColour(Colour initial, CustomColourTable& custom,
                                       const char* title) override;
    void ShowMessage(const char* text, const char* caption, bool ownedByDialog) override;
    void ShowAbout(const char* text, const char* caption) override;
    void SetToolTip(ControlId id, const char* text) override;
    void MarkDriven(ControlId id, const char* channel) override;
    void MarkInvalid(ControlId id, const char* problem) override;

    // The widget of a control identifier, or null.
    QWidget* Control(ControlId id) const { return controls_.value(id, nullptr); }

    // Sizes the dialog to fit its screen: the preview shrinks first, then
    // the controls scroll. Done once when the dialog is first shown.
    void FitScreen();

private:
    // One control each, registered under its identifier and connected to
    // the controller; captions of field controls come from their rows.
    QLineEdit* MakeEdit(ControlId id);
    QLabel* MakeLabel(const DialogField& row, QWidget* buddy);
    QCheckBox* MakeCheck(const DialogField& row, bool threeState = false);
    QRadioButton* MakeRadio(ControlId id, const char* text);
    void AddMenuItem(QMenu* menu, ControlId id, const char* text, bool checkable = false);
    // A switch in column 0 with its strength's box in column 1.
    void AddNumberRow(QGridLayout* grid, int row, const DialogField& check,
                      const DialogField& number);
    // A labelled box in columns 2 and 3 ("F", "T").
    void AddLabelledEdit(QGridLayout* grid, int row, const DialogField& number);

    // The dialog's parts, as the template groups them, and their layout.
    QGroupBox* BuildColourFilters();
    QGroupBox* BuildDigitalFilters();
    QGroupBox* BuildKeyFilters();
    QGroupBox* BuildFiltersShouldAffect();
    QBoxLayout* BuildButtons();
    QMenuBar* BuildMenu();
    void LayOut(QGroupBox* colour, QGroupBox* digital, QGroupBox* keys, QGroupBox* affect,
                QBoxLayout* buttons, QMenuBar* menuBar);

    void Register(ControlId id, QWidget* widget);
    void Dispatch(ControlId id);

    QHash<ControlId, QWidget*> controls_;
    QHash<ControlId, QAction*> actions_;
    QHash<ControlId, QString> toolTips_;  // as set, before any problem is added
    DialogController* controller_ = nullptr;
    std::function<void()> changed_;
    QBoxLayout* previewSlot_ = nullptr;
    QWidget* controlsBox_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    bool fitted_ = false;
    void showEvent(QShowEvent* event) override;
    void Changed() {
        if (changed_) changed_();
    }
};

// The file type the preset choosers offer.
inline constexpr const char* kPresetFilter = "Lumafex Plug-in *.lmx (*.lmx)";

}  // namespace lumafex::ui

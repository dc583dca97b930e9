#include "ui/qt/qt_surface.h"

#include <QAction>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ui/dialog_controller.h"
#include "ui/dialog_fields.h"
#include "ui/field_limits.h"
#include "ui/preset_file.h"

namespace lumafex::ui {

namespace {

// Radio buttons that act as one group when the user clicks them. The
// controller sets them one by one (it may show none or two selected), so Qt's
// own exclusivity is off and a click clears the rest of its group here.
const std::vector<std::vector<ControlId>> kRadioGroups = {
    {kFullFrameRadio, kBackgroundOnlyRadio, kObjectsOnlyRadio, kShadowsOnlyRadio, kColourRangeRadio},
    {kFlipHorzRadio, kFlipVertRadio},
    {kKeyPrepBlackRadio, kKeyPrepWhiteRadio},
};

QString ObjectName(ControlId id) { return QStringLiteral("id%1").arg(id); }

// A scroll area that asks for room for all of its contents (Qt's own caps
// its wish at a few dozen characters), so that the controls are shown
// whole wherever the dialog is large enough and only scroll where it is not.
class ControlsArea final : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        if (widget() == nullptr) return QScrollArea::sizeHint();
        return widget()->sizeHint() + QSize(2 * frameWidth(), 2 * frameWidth());
    }
};

}  // namespace

QtSettingsDialog::QtSettingsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Lumafex"));
    setModal(true);
    // The widgets are made in tab order, column by column as laid out: the
    // colour filters and what they affect, the digital filters, the key
    // filters and the buttons; then the preview and the menu.
    QGroupBox* colour = BuildColourFilters();
    QGroupBox* affect = BuildFiltersShouldAffect();
    QGroupBox* digital = BuildDigitalFilters();
    QGroupBox* keys = BuildKeyFilters();
    QBoxLayout* buttons = BuildButtons();
    QMenuBar* menuBar = BuildMenu();
    LayOut(colour, digital, keys, affect, buttons, menuBar);
}

QLineEdit* QtSettingsDialog::MakeEdit(ControlId id) {
    auto* e = new QLineEdit(this);
    e->setMaximumWidth(70);
    Register(id, e);
    // Typing takes digits only, and a leading minus sign where the field
    // takes negative values; the range is checked as the text changes.
    if (const DialogField* limits = FindFieldLimits(id)) {
        const QString pattern = limits->min < 0 ? QStringLiteral("\\s*-?[0-9]{0,10}\\s*")
                                                : QStringLiteral("\\s*[0-9]{0,10}\\s*");
        e->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), e));
    }
    connect(e, &QLineEdit::textChanged, this, [this, id] {
        if (controller_ != nullptr) controller_->CheckNumber(id);
        Changed();
    });
    return e;
}

QLabel* QtSettingsDialog::MakeLabel(const DialogField& row, QWidget* buddy) {
    auto* l = new QLabel(QString::fromUtf8(row.caption), this);
    l->setBuddy(buddy);
    Register(row.label, l);
    return l;
}

QCheckBox* QtSettingsDialog::MakeCheck(const DialogField& row, bool threeState) {
    auto* c = new QCheckBox(QString::fromUtf8(row.caption), this);
    c->setTristate(threeState);
    const ControlId id = row.id;
    Register(id, c);
    connect(c, &QCheckBox::stateChanged, this, [this] { Changed(); });
    connect(c, &QCheckBox::clicked, this, [this, id] { Dispatch(id); });
    return c;
}

QRadioButton* QtSettingsDialog::MakeRadio(ControlId id, const char* text) {
    auto* r = new QRadioButton(QString::fromUtf8(text), this);
    r->setAutoExclusive(false);
    Register(id, r);
    connect(r, &QRadioButton::toggled, this, [this] { Changed(); });
    connect(r, &QRadioButton::clicked, this, [this, id] {
        for (const auto& group : kRadioGroups) {
            if (std::find(group.begin(), group.end(), id) == group.end()) continue;
            for (ControlId other : group) SetRadioChecked(other, other == id);
        }
        Dispatch(id);
    });
    return r;
}

void QtSettingsDialog::AddNumberRow(QGridLayout* grid, int row, const DialogField& check,
                                    const DialogField& number) {
    grid->addWidget(MakeCheck(check), row, 0);
    grid->addWidget(MakeEdit(number.id), row, 1);
}

void QtSettingsDialog::AddLabelledEdit(QGridLayout* grid, int row, const DialogField& number) {
    QLineEdit* e = MakeEdit(number.id);
    grid->addWidget(MakeLabel(number, e), row, 2, Qt::AlignRight);
    grid->addWidget(e, row, 3);
}

QGroupBox* QtSettingsDialog::BuildColourFilters() {
    // Six percentages, each an edit box with its label.
    constexpr const DialogField* kRows[] = {
        &DialogFieldOf(&FilterSettings::RedPercent),    &DialogFieldOf(&FilterSettings::GreenPercent),
        &DialogFieldOf(&FilterSettings::BluePercent),   &DialogFieldOf(&FilterSettings::BrightPercent),
        &DialogFieldOf(&FilterSettings::GammaPercent),  &DialogFieldOf(&FilterSettings::ContrastPercent),
    };
    auto* group = new QGroupBox(QStringLiteral("Color Filters"), this);
    auto* grid = new QGridLayout(group);
    int row = 0;
    for (const DialogField* field : kRows) {
        QLineEdit* e = MakeEdit(field->id);
        grid->addWidget(MakeLabel(*field, e), row, 0);
        grid->addWidget(e, row, 1);
        ++row;
    }
    grid->setRowStretch(row, 1);
    return group;
}

QGroupBox* QtSettingsDialog::BuildDigitalFilters() {
    using S = FilterSettings;
    // Switches with their strengths, a row each.
    auto* group = new QGroupBox(QStringLiteral("Digital Filters"), this);
    auto* grid = new QGridLayout(group);
    int row = 0;
    AddNumberRow(grid, row, DialogFieldOf(&S::BlurFlag), DialogFieldOf(&S::BlurPercent));
    grid->addWidget(MakeCheck(DialogFieldOf(&S::SofterBlurFlag), true), row, 2, 1, 2);
    ++row;
    AddNumberRow(grid, row, DialogFieldOf(&S::DOFBlurFlag), DialogFieldOf(&S::DOFBlurPercent));
    AddLabelledEdit(grid, row, DialogFieldOf(&S::DOFBlurFocalPoint));
    ++row;
    AddNumberRow(grid, row, DialogFieldOf(&S::SharpenFlag), DialogFieldOf(&S::SharpenPercent));
    ++row;
    AddNumberRow(grid, row, DialogFieldOf(&S::SmoothFlag), DialogFieldOf(&S::AntialiasPercent));
    AddLabelledEdit(grid, row, DialogFieldOf(&S::AntialiasVariance));
    ++row;
    AddNumberRow(grid, row, DialogFieldOf(&S::NoiseFlag), DialogFieldOf(&S::NoisePercent));
    ++row;
    AddNumberRow(grid, row, DialogFieldOf(&S::CartoonFlag), DialogFieldOf(&S::PosterizePercent));
    ++row;
    grid->addWidget(MakeCheck(DialogFieldOf(&S::NegativeFlag)), row, 0);
    grid->addWidget(MakeCheck(DialogFieldOf(&S::GreyFlag)), row, 1, 1, 3);
    ++row;
    grid->addWidget(MakeCheck(DialogFieldOf(&S::NegativeImageFlag)), row, 0);
    ++row;
    grid->addWidget(MakeCheck(DialogFieldOf(&S::FlipFrameFlag), true), row, 0);
    grid->addWidget(MakeRadio(kFlipHorzRadio, "Horz"), row, 1);
    grid->addWidget(MakeRadio(kFlipVertRadio, "Vert"), row, 2, 1, 2);
    ++row;
    // Present but never shown, as in the template.
    const DialogField& passesRow = DialogFieldOf(&S::Passes);
    QLineEdit* passes = MakeEdit(passesRow.id);
    QLabel* passesLabel = MakeLabel(passesRow, passes);
    grid->addWidget(passesLabel, row, 0);
    grid->addWidget(passes, row, 1);
    passes->setVisible(false);
    passesLabel->setVisible(false);
    return group;
}

QGroupBox* QtSettingsDialog::BuildKeyFilters() {
    using S = FilterSettings;
    auto* group = new QGroupBox(QStringLiteral("Key Filters"), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(MakeCheck(DialogFieldOf(&S::BlackFlag)), 0, 0, 1, 3);
    grid->addWidget(MakeCheck(DialogFieldOf(&S::WhiteFlag)), 1, 0, 1, 3);
    grid->addWidget(MakeCheck(DialogFieldOf(&S::ReverseAlphaFlag)), 2, 0, 1, 3);
    grid->addWidget(MakeCheck(DialogFieldOf(&S::RangeAlphaFlag)), 3, 0, 1, 3);
    grid->addWidget(MakeCheck(DialogFieldOf(&S::KeyPrepFlag), true), 4, 0);
    grid->addWidget(MakeRadio(kKeyPrepBlackRadio, "B"), 4, 1);
    grid->addWidget(MakeRadio(kKeyPrepWhiteRadio, "W"), 4, 2);
    return group;
}

QGroupBox* QtSettingsDialog::BuildFiltersShouldAffect() {
    auto* group = new QGroupBox(QStringLiteral("Filters Should Affect"), this);
    auto* box = new QVBoxLayout(group);
    box->addWidget(MakeRadio(kFullFrameRadio, "Full Fra&me"));
    box->addWidget(MakeRadio(kBackgroundOnlyRadio, "Background Onl&y"));
    box->addWidget(MakeRadio(kObjectsOnlyRadio, "Ob&jects Only"));
    box->addWidget(MakeRadio(kShadowsOnlyRadio, "&Shadows Only"));
    box->addWidget(MakeRadio(kColourRangeRadio, "High/Low Color Ra&nge"));
    return group;
}

QBoxLayout* QtSettingsDialog::BuildButtons() {
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setDefault(true);
    Register(kOkButton, ok);
    Register(kCancelButton, cancel);
    connect(ok, &QPushButton::clicked, this, [this] { Dispatch(kOkButton); });
    connect(cancel, &QPushButton::clicked, this, [this] { Dispatch(kCancelButton); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    return buttons;
}

void QtSettingsDialog::AddMenuItem(QMenu* menu, ControlId id, const char* text, bool checkable) {
    QAction* a = menu->addAction(QString::fromUtf8(text));
    a->setCheckable(checkable);
    a->setObjectName(ObjectName(id));
    actions_.insert(id, a);
    connect(a, &QAction::triggered, this, [this, id, a] {
        // The controller owns the check mark: undo Qt's own toggle first.
        if (a->isCheckable()) a->setChecked(!a->isChecked());
        Dispatch(id);
    });
}

QMenuBar* QtSettingsDialog::BuildMenu() {
    // "&File" and "About".
    auto* menuBar = new QMenuBar(this);
    QMenu* file = menuBar->addMenu(QStringLiteral("&File"));
    AddMenuItem(file, kMenuOpen, "&Open...");
    AddMenuItem(file, kMenuSaveAs, "Save &As...");
    file->addSeparator();
    AddMenuItem(file, kMenuUseNulls, "Use Nulls", true);
    actions_.value(kMenuUseNulls)->setChecked(true);
    file->addSeparator();
    AddMenuItem(file, kMenuOk, "&Ok");
    AddMenuItem(file, kMenuCancel, "&Cancel");
    QMenu* about = menuBar->addMenu(QStringLiteral("About"));
    QAction* aboutItem = about->addAction(QStringLiteral("About Lumafex3..."));
    aboutItem->setObjectName(ObjectName(kMenuAbout));
    actions_.insert(kMenuAbout, aboutItem);
    connect(aboutItem, &QAction::triggered, this, [this] { Dispatch(kMenuAbout); });
    return menuBar;
}

void QtSettingsDialog::LayOut(QGroupBox* colour, QGroupBox* digital, QGroupBox* keys,
                              QGroupBox* affect, QBoxLayout* buttons, QMenuBar* menuBar) {
    // Colour and affect on the left, the digital filters in the middle, keys
    // and the buttons on the right, and the preview beside them. The
    // controls sit in a scroll area so that the dialog fits small screens:
    // the preview gives up its room first (FitScreen), then the controls
    // scroll.
    controlsBox_ = new QWidget;
    auto* columns = new QHBoxLayout(controlsBox_);
    columns->setContentsMargins(0, 0, 0, 0);
    auto* left = new QVBoxLayout;
    left->addWidget(colour);
    left->addWidget(affect);
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(keys);
    right->addStretch(1);
    right->addLayout(buttons);
    columns->addLayout(left);
    columns->addWidget(digital, 0, Qt::AlignTop);
    columns->addLayout(right);
    scroll_ = new ControlsArea(this);
    scroll_->setObjectName(QStringLiteral("controls"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setWidgetResizable(true);
    scroll_->setWidget(controlsBox_);
    scroll_->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    auto* row = new QHBoxLayout;
    row->addWidget(scroll_);
    previewSlot_ = new QVBoxLayout;
    row->addLayout(previewSlot_, 1);
    auto* outer = new QVBoxLayout(this);
    outer->setMenuBar(menuBar);
    outer->addLayout(row);
}

void QtSettingsDialog::FitScreen() {
    const QScreen* shown = screen();
    if (shown == nullptr || layout() == nullptr) return;
    // Room on the screen for the dialog's contents, its frame and title
    // bar allowed for.
    const QSize room = shown->availableGeometry().size() - QSize(24, 48);
    const QSize menu(0, layout()->menuBar() != nullptr ? layout()->menuBar()->sizeHint().height() : 0);
    const QMargins margins = layout()->contentsMargins();
    const QSize frame(margins.left() + margins.right(), margins.top() + margins.bottom());
    const int spacing = std::max(0, layout()->spacing()) * 2;
    QSize previewLeast(0, 0);
    if (QLayoutItem* item = previewSlot_; item != nullptr) previewLeast = item->minimumSize();
    // The controls whole where the preview's least width leaves room for
    // them, else as wide as that room (and scrolled).
    const QSize controls = controlsBox_->sizeHint();
    const QSize controlsRoom(room.width() - frame.width() - spacing - previewLeast.width(),
                             room.height() - frame.height() - menu.height());
    scroll_->setMinimumSize(controls.boundedTo(controlsRoom).expandedTo(QSize(80, 80)));
    adjustSize();
    resize(size().boundedTo(room));
}

void QtSettingsDialog::showEvent(QShowEvent* event) {
    if (!fitted_) {
        fitted_ = true;
        FitScreen();
    }
    QDialog::showEvent(event);
}

void QtSettingsDialog::Attach(DialogController* controller) { controller_ = controller; }

void QtSettingsDialog::Register(ControlId id, QWidget* widget) {
    widget->setObjectName(ObjectName(id));
    controls_.insert(id, widget);
}

void QtSettingsDialog::Dispatch(ControlId id) {
    if (controller_ == nullptr) return;
    switch (controller_->Command(id)) {
        case CommandResult::CloseOk: accept(); break;
        case CommandResult::CloseCancel: reject(); break;
        // "Use Nulls", a preset or a colour range changes what the frame
        // would look like.
        case CommandResult::Handled: Changed(); break;
        default: break;
    }
}

void QtSettingsDialog::SetText(ControlId id, const char* text) {
    QWidget* w = Control(id);
    if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(QString::fromUtf8(text));
    else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(QString::fromUtf8(text));
}

void QtSettingsDialog::GetText(ControlId id, char* buffer, std::size_t size) const {
    if (size == 0) return;
    QByteArray text;
    QWidget* w = Control(id);
    if (auto* e = qobject_cast<QLineEdit*>(w)) text = e->text().toUtf8();
    else if (auto* l = qobject_cast<QLabel*>(w)) text = l->text().toUtf8();
    const std::size_t n = std::min(static_cast<std::size_t>(text.size()), size - 1);
    std::memcpy(buffer, text.constData(), n);
    buffer[n] = '\0';
}

void QtSettingsDialog::SetCheckState(ControlId id, int state) {
    if (auto* c = qobject_cast<QCheckBox*>(Control(id))) {
        c->setCheckState(state == kIndeterminate ? Qt::PartiallyChecked
                                                 : (state != kUnchecked ? Qt::Checked : Qt::Unchecked));
    }
}

int QtSettingsDialog::GetCheckState(ControlId id) const {
    const auto* c = qobject_cast<QCheckBox*>(Control(id));
    if (c == nullptr) return kUnchecked;
    switch (c->checkState()) {
        case Qt::Checked: return kChecked;
        case Qt::PartiallyChecked: return kIndeterminate;
        default: return kUnchecked;
    }
}

void QtSettingsDialog::SetRadioChecked(ControlId id, bool checked) {
    if (auto* r = qobject_cast<QRadioButton*>(Control(id))) r->setChecked(checked);
}

bool QtSettingsDialog::IsRadioChecked(ControlId id) const {
    const auto* r = qobject_cast<QRadioButton*>(Control(id));
    return r != nullptr && r->isChecked();
}

void QtSettingsDialog::SetEnabled(ControlId id, bool enabled) {
    if (QWidget* w = Control(id)) w->setEnabled(enabled);
}

void QtSettingsDialog::SetVisible(ControlId id, bool visible) {
    if (QWidget* w = Control(id)) w->setVisible(visible);
}

void QtSettingsDialog::SetMenuChecked(ControlId id, bool checked) {
    if (QAction* a = actions_.value(id, nullptr)) a->setChecked(checked);
}

bool QtSettingsDialog::IsMenuChecked(ControlId id) const {
    const QAction* a = actions_.value(id, nullptr);
    return a != nullptr && a->isChecked();
}

std::optional<std::string> QtSettingsDialog::ChooseFile(FileChooserKind kind) {
    // Qt's own chooser on every platform, so the dialog behaves the same
    // everywhere; it asks before replacing a file when saving.
    QFileDialog chooser(this, kind == FileChooserKind::Save ? QStringLiteral("Save As")
                                                            : QStringLiteral("Open"));
    chooser.setOption(QFileDialog::DontUseNativeDialog, true);
    chooser.setOption(QFileDialog::ReadOnly, false);
    // Open also lists every file (a preset saved under another name); Save
    // adds ".lmx" to a name typed without an extension, before it asks
    // about replacing a file.
    QStringList filters{QString::fromUtf8(kPresetFilter)};
    if (kind == FileChooserKind::Open) filters << QStringLiteral("All files (*)");
    chooser.setNameFilters(filters);
    chooser.setDefaultSuffix(QString::fromUtf8(kPresetExtension + 1));
    chooser.setAcceptMode(kind == FileChooserKind::Save ? QFileDialog::AcceptSave
                                                        : QFileDialog::AcceptOpen);
    chooser.setFileMode(kind == FileChooserKind::Save ? QFileDialog::AnyFile
                                                      : QFileDialog::ExistingFile);
    chooser.setObjectName(QStringLiteral("presetChooser"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return std::nullopt;
    return chooser.selectedFiles().first().toStdString();
}

std::optional<Colour> QtSettingsDialog::ChooseColour(Colour initial, CustomColourTable& custom,
                                                     const char* title) {
    for (int i = 0; i < 16; ++i) {
        const Colour c = custom[static_cast<std::size_t>(i)];
        QColorDialog::setCustomColor(i, QColor(RedOf(c), GreenOf(c), BlueOf(c)));
    }
    QColorDialog chooser(QColor(RedOf(initial), GreenOf(initial), BlueOf(initial)), this);
    chooser.setOption(QColorDialog::DontUseNativeDialog, true);
    chooser.setObjectName(QStringLiteral("colourChooser"));
    chooser.setWindowTitle(QString::fromUtf8(title));
    const bool chosen = chooser.exec() == QDialog::Accepted;
    // The user may have changed the custom colours, chosen or not.
    for (int i = 0; i < 16; ++i) {
        const QColor c = QColorDialog::customColor(i);
        custom[static_cast<std::size_t>(i)] = MakeColour(static_cast<uint8_t>(c.red()),
                                                         static_cast<uint8_t>(c.green()),
                                                         static_cast<uint8_t>(c.blue()));
    }
    if (!chosen) return std::nullopt;
    const QColor c = chooser.selectedColor();
    return MakeColour(static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
                      static_cast<uint8_t>(c.blue()));
}

void QtSettingsDialog::SetToolTip(ControlId id, const char* text) {
    QWidget* w = Control(id);
    if (w == nullptr) return;
    toolTips_.insert(id, QString::fromUtf8(text));
    w->setToolTip(toolTips_.value(id));
}

void QtSettingsDialog::MarkDriven(ControlId id, const char* channel) {
    QWidget* w = Control(id);
    if (w == nullptr) return;
    // Italic on a pale blue box: a value from the scene, not a setting.
    w->setProperty("driven", QString::fromUtf8(channel));
    QFont font = w->font();
    font.setItalic(true);
    w->setFont(font);
    if (qobject_cast<QLineEdit*>(w) != nullptr) {
        w->setStyleSheet(QStringLiteral("QLineEdit { background: #e4ecf8; }"));
    }
}

void QtSettingsDialog::MarkInvalid(ControlId id, const char* problem) {
    QWidget* w = Control(id);
    if (w == nullptr) return;
    const bool invalid = problem != nullptr;
    if (w->property("invalid").toBool() == invalid && !invalid) return;
    w->setProperty("invalid", invalid);
    // A reddish box, and the reason first in its tooltip.
    w->setStyleSheet(invalid ? QStringLiteral("QLineEdit { background: #ffd0d0; color: #800000; }")
                             : QString());
    const QString base = toolTips_.value(id);
    w->setToolTip(invalid ? QString::fromUtf8(problem) + QStringLiteral("\n\n") + base : base);
}

void QtSettingsDialog::ShowAbout(const char* text, const char* caption) {
    QMessageBox box(QMessageBox::Information, QString::fromUtf8(caption), QString::fromUtf8(text),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("about"));
    box.exec();
}

void QtSettingsDialog::ShowMessage(const char* text, const char* caption, bool ownedByDialog) {
    QMessageBox::warning(ownedByDialog ? this : nullptr, QString::fromUtf8(caption),
                         QString::fromUtf8(text));
}

}  // namespace lumafex::ui

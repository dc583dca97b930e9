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
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ui/dialog_controller.h"
#include "ui/field_limits.h"

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

}  // namespace

QtSettingsDialog::QtSettingsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Lumafex"));
    setModal(true);

    auto edit = [this](ControlId id) {
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
    };
    auto label = [this](ControlId id, const char* text, QWidget* buddy) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setBuddy(buddy);
        if (id != 0) Register(id, l);
        return l;
    };
    auto check = [this](ControlId id, const char* text, bool threeState = false) {
        auto* c = new QCheckBox(QString::fromUtf8(text), this);
        c->setTristate(threeState);
        Register(id, c);
        connect(c, &QCheckBox::stateChanged, this, [this] { Changed(); });
        connect(c, &QCheckBox::clicked, this, [this, id] { Dispatch(id); });
        return c;
    };
    auto radio = [this](ControlId id, const char* text) {
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
    };

    // "Color Filters": six percentages.
    auto* colour = new QGroupBox(QStringLiteral("Color Filters"), this);
    auto* colourGrid = new QGridLayout(colour);
    const struct { ControlId edit, label; const char* text; } colourRows[] = {
        {kRedPercentEdit, kRedPercentLabel, "&Red%"},
        {kGreenPercentEdit, kGreenPercentLabel, "&Green%"},
        {kBluePercentEdit, kBluePercentLabel, "&Blue%"},
        {kBrightPercentEdit, kBrightPercentLabel, "Br&ight%"},
        {kGammaPercentEdit, kGammaPercentLabel, "G&amma%"},
        {kContrastPercentEdit, kContrastPercentLabel, "&Contrast%"},
    };
    int row = 0;
    for (const auto& r : colourRows) {
        QLineEdit* e = edit(r.edit);
        colourGrid->addWidget(label(r.label, r.text, e), row, 0);
        colourGrid->addWidget(e, row, 1);
        ++row;
    }
    colourGrid->setRowStretch(row, 1);

    // "Digital Filters": switches with their strengths.
    auto* digital = new QGroupBox(QStringLiteral("Digital Filters"), this);
    auto* grid = new QGridLayout(digital);
    row = 0;
    grid->addWidget(check(kBlurCheck, "Bl&ur%"), row, 0);
    grid->addWidget(edit(kBlurPercentEdit), row, 1);
    grid->addWidget(check(kSofterCheck, "S&ofter", true), row, 2, 1, 2);
    ++row;
    grid->addWidget(check(kDOFBlurCheck, "&DOF Blur%"), row, 0);
    grid->addWidget(edit(kDOFBlurPercentEdit), row, 1);
    QLineEdit* focal = edit(kFocalPointEdit);
    grid->addWidget(label(kFocalPointLabel, "F", focal), row, 2, Qt::AlignRight);
    grid->addWidget(focal, row, 3);
    ++row;
    grid->addWidget(check(kEnhanceCheck, "&Enhance%"), row, 0);
    grid->addWidget(edit(kEnhancePercentEdit), row, 1);
    ++row;
    grid->addWidget(check(kAntialiasCheck, "An&tialias%"), row, 0);
    grid->addWidget(edit(kAntialiasPercentEdit), row, 1);
    QLineEdit* threshold = edit(kAntialiasThresholdEdit);
    grid->addWidget(label(kAntialiasThresholdLabel, "T", threshold), row, 2, Qt::AlignRight);
    grid->addWidget(threshold, row, 3);
    ++row;
    grid->addWidget(check(kNoiseCheck, "Noise%"), row, 0);
    grid->addWidget(edit(kNoisePercentEdit), row, 1);
    ++row;
    grid->addWidget(check(kPosterizeCheck, "Posteri&ze%"), row, 0);
    grid->addWidget(edit(kPosterizePercentEdit), row, 1);
    ++row;
    grid->addWidget(check(kNtscLimitCheck, "NTSC &Limit"), row, 0);
    grid->addWidget(check(kBlackAndWhiteCheck, "Black and &White"), row, 1, 1, 3);
    ++row;
    grid->addWidget(check(kNegativeCheck, "Negati&ve"), row, 0);
    ++row;
    grid->addWidget(check(kFlipFrameCheck, "Flip Frame", true), row, 0);
    grid->addWidget(radio(kFlipHorzRadio, "Horz"), row, 1);
    grid->addWidget(radio(kFlipVertRadio, "Vert"), row, 2, 1, 2);
    ++row;
    // Present but never shown, as in the template.
    QLineEdit* passes = edit(kPassesEdit);
    QLabel* passesLabel = label(kPassesLabel, "Antialias Passes ", passes);
    grid->addWidget(passesLabel, row, 0);
    grid->addWidget(passes, row, 1);
    passes->setVisible(false);
    passesLabel->setVisible(false);

    // "Key Filters".
    auto* keys = new QGroupBox(QStringLiteral("Key Filters"), this);
    auto* keyGrid = new QGridLayout(keys);
    keyGrid->addWidget(check(kBlackCheck, "&100% Black"), 0, 0, 1, 3);
    keyGrid->addWidget(check(kWhiteCheck, "1&00% White"), 1, 0, 1, 3);
    keyGrid->addWidget(check(kNegativeAlphaCheck, "Negative Al&pha"), 2, 0, 1, 3);
    keyGrid->addWidget(check(kRangeAlphaCheck, "Range Alp&ha"), 3, 0, 1, 3);
    keyGrid->addWidget(check(kKeyPrepCheck, "&Key Prep", true), 4, 0);
    keyGrid->addWidget(radio(kKeyPrepBlackRadio, "B"), 4, 1);
    keyGrid->addWidget(radio(kKeyPrepWhiteRadio, "W"), 4, 2);

    // "Filters Should Affect".
    auto* affect = new QGroupBox(QStringLiteral("Filters Should Affect"), this);
    auto* affectBox = new QVBoxLayout(affect);
    affectBox->addWidget(radio(kFullFrameRadio, "Full Fra&me"));
    affectBox->addWidget(radio(kBackgroundOnlyRadio, "Background Onl&y"));
    affectBox->addWidget(radio(kObjectsOnlyRadio, "Ob&jects Only"));
    affectBox->addWidget(radio(kShadowsOnlyRadio, "&Shadows Only"));
    affectBox->addWidget(radio(kColourRangeRadio, "High/Low Color Ra&nge"));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setDefault(true);
    Register(kOkButton, ok);
    Register(kCancelButton, cancel);
    connect(ok, &QPushButton::clicked, this, [this] { Dispatch(kOkButton); });
    connect(cancel, &QPushButton::clicked, this, [this] { Dispatch(kCancelButton); });

    // The menu: "&File" and "About".
    auto* menuBar = new QMenuBar(this);
    QMenu* file = menuBar->addMenu(QStringLiteral("&File"));
    auto action = [this, file](ControlId id, const char* text, bool checkable = false) {
        QAction* a = file->addAction(QString::fromUtf8(text));
        a->setCheckable(checkable);
        a->setObjectName(ObjectName(id));
        actions_.insert(id, a);
        connect(a, &QAction::triggered, this, [this, id, a] {
            // The controller owns the check mark: undo Qt's own toggle first.
            if (a->isCheckable()) a->setChecked(!a->isChecked());
            Dispatch(id);
        });
    };
    action(kMenuOpen, "&Open...");
    action(kMenuSaveAs, "Save &As...");
    file->addSeparator();
    action(kMenuUseNulls, "Use Nulls", true);
    actions_.value(kMenuUseNulls)->setChecked(true);
    file->addSeparator();
    action(kMenuOk, "&Ok");
    action(kMenuCancel, "&Cancel");
    QMenu* about = menuBar->addMenu(QStringLiteral("About"));
    QAction* aboutItem = about->addAction(QStringLiteral("About Lumafex3..."));
    aboutItem->setObjectName(ObjectName(kMenuAbout));
    actions_.insert(kMenuAbout, aboutItem);
    connect(aboutItem, &QAction::triggered, this, [this] { Dispatch(kMenuAbout); });

    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(colour);
    left->addWidget(affect);
    auto* right = new QVBoxLayout;
    right->addWidget(keys);
    right->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    right->addLayout(buttons);
    columns->addLayout(left);
    columns->addWidget(digital);
    columns->addLayout(right);
    previewSlot_ = new QVBoxLayout;
    columns->addLayout(previewSlot_, 1);
    auto* outer = new QVBoxLayout(this);
    outer->setMenuBar(menuBar);
    outer->addLayout(columns);
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
    chooser.setNameFilter(QString::fromUtf8(kPresetFilter));
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

void QtSettingsDialog::ShowMessage(const char* text, const char* caption, bool ownedByDialog) {
    QMessageBox::warning(ownedByDialog ? this : nullptr, QString::fromUtf8(caption),
                         QString::fromUtf8(text));
}

}  // namespace lumafex::ui

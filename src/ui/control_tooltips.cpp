#include "ui/control_tooltips.h"

#include "ui/field_limits.h"

namespace lumafex::ui {

namespace {

struct ToolTip {
    ControlId id;
    const char* text;
    const char* nullObject;  // drives the control under "Use Nulls", or null
};

// The controls no dialog field row describes: the radios and the buttons.
constexpr ToolTip kToolTips[] = {
    {kFlipHorzRadio, "Flip left to right.", "3FlipFrame"},
    {kFlipVertRadio, "Flip top to bottom.", "3FlipFrame"},
    {kKeyPrepBlackRadio, "Key Prep B: no colour channel below 21.", nullptr},
    {kKeyPrepWhiteRadio, "Key Prep W: no colour channel above 234.", nullptr},
    {kFullFrameRadio, "Filters affect every pixel.", "3FiltersShouldAffect"},
    {kBackgroundOnlyRadio, "Filters affect only the background (where no object was rendered).",
     "3FiltersShouldAffect"},
    {kObjectsOnlyRadio, "Filters affect only rendered objects.", "3FiltersShouldAffect"},
    {kShadowsOnlyRadio, "Filters affect only pixels in shadow.", "3FiltersShouldAffect"},
    {kColourRangeRadio,
     "Filters affect only colours between a low and a high colour: clicking opens the \"Low "
     "colour\" and then the \"High colour\" chooser.",
     "3FiltersShouldAffect"},
    {kOkButton, "Store these settings and close.", nullptr},
    {kCancelButton,
     "Close without storing the settings (inside a renderer a colour range already chosen "
     "stays chosen; lumafex edit writes nothing).",
     nullptr},
};

// The passes box is never shown, so neither it nor its label has a tooltip.
bool HasToolTip(const DialogField& row) { return row.id != 0 && row.id != kPassesEdit; }

std::string DrivenBy(const char* nullObject) {
    if (nullObject == nullptr) return {};
    return std::string("\nUnder \"Use Nulls\", the null object \"") + nullObject +
           "\" drives it (the control is then disabled).";
}

// Where the row's filter stops changing the image, when that is within the
// range the box takes.
std::string EffectText(const DialogField& row) {
    if (row.effectMin == row.min && row.effectMax == row.max) return {};
    return "\nIt changes the image from " + std::to_string(row.effectMin) + " to " +
           std::to_string(row.effectMax) + "; a value beyond acts as the nearer end.";
}

}  // namespace

std::string ControlToolTip(ControlId id) {
    // A label shows its box's tooltip.
    if (const DialogField* row = FindDialogField(id); row != nullptr && HasToolTip(*row)) {
        if (HasLimits(*row)) {
            return std::string(row->meaning) + "\nRange: " + RangeText(*row) + "." +
                   EffectText(*row) + DrivenBy(row->nullObject);
        }
        return row->meaning + DrivenBy(row->nullObject);
    }
    for (const ToolTip& tip : kToolTips) {
        if (tip.id == id) return tip.text + DrivenBy(tip.nullObject);
    }
    return {};
}

const std::vector<ControlId>& ControlsWithToolTips() {
    static const std::vector<ControlId> ids = [] {
        std::vector<ControlId> all;
        for (const DialogField& row : kDialogFields) {
            if (!HasToolTip(row)) continue;
            all.push_back(row.id);
            if (row.label != 0) all.push_back(row.label);
        }
        for (const ToolTip& tip : kToolTips) all.push_back(tip.id);
        return all;
    }();
    return ids;
}

}  // namespace lumafex::ui

// What each number box of the settings dialog may hold, as the dialog
// field rows give it: the controller checks typed values against them, and
// both dialog bindings take their typing rules (digits, and a minus sign
// only where a negative value means something) from them.
#pragma once

#include <cstdint>
#include <string>

#include "ui/control_ids.h"
#include "ui/dialog_fields.h"

namespace lumafex::ui {

// Whether the row is a number box with limits (the passes box included).
constexpr bool HasLimits(const DialogField& row) { return row.name != nullptr; }

// The row of an edit box, or null for a control that is not a number box.
const DialogField* FindFieldLimits(ControlId edit);

// Why text cannot be stored into the field, or an empty string when it can.
// The value is read by the dialog's text-to-number rule, so text brought in
// by the host or a preset reads as it always has; what is refused is an
// empty box and a value outside the field's range (including values beyond
// what the record's 32-bit field can hold).
std::string FieldProblem(const DialogField& limits, const char* text);

// "Whole number from 0 to 2147483647": the range as the tooltip and the
// messages word it.
std::string RangeText(const DialogField& limits);

}  // namespace lumafex::ui

// What each number box of the settings dialog may hold: one row per box,
// with its name as the dialog labels it, its range, its unit and meaning,
// and the null object that drives it. The controller checks typed values
// against these rows, and both dialog bindings take their tooltips and
// their typing rules (digits, and a minus sign only where a negative value
// means something) from them.
#pragma once

#include <cstdint>
#include <string>

#include "ui/control_ids.h"

namespace lumafex::ui {

struct FieldLimits {
    ControlId edit;
    const char* name;        // as labelled, without the mnemonic mark
    int32_t min;
    int32_t max;
    const char* meaning;     // what the value does, and its unit
    const char* nullObject;  // the null object that drives it, or null
};

// The row of an edit box, or null for a control that is not a number box.
const FieldLimits* FindFieldLimits(ControlId edit);

// Every row, in the dialog's reading order.
const FieldLimits* FieldLimitsBegin();
const FieldLimits* FieldLimitsEnd();

// Why text cannot be stored into the field, or an empty string when it can.
// The value is read by the dialog's text-to-number rule, so text brought in
// by the host or a preset reads as it always has; what is refused is an
// empty box and a value outside the field's range (including values beyond
// what the record's 32-bit field can hold).
std::string FieldProblem(const FieldLimits& limits, const char* text);

// "Whole number from 0 to 2147483647": the range as the tooltip and the
// messages word it.
std::string RangeText(const FieldLimits& limits);

}  // namespace lumafex::ui

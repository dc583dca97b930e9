// What each control of the settings dialog says about itself when the
// pointer rests on it: what it does, its unit and range, and which null
// object drives it under "Use Nulls". Number boxes and their labels take
// theirs from the dialog field rows, so a range is written in one place.
#pragma once

#include <string>
#include <vector>

#include "ui/control_ids.h"

namespace lumafex::ui {

// The tooltip of a control, or an empty string for one without.
std::string ControlToolTip(ControlId id);

// Every control that has a tooltip.
const std::vector<ControlId>& ControlsWithToolTips();

}  // namespace lumafex::ui

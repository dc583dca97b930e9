// The modal settings dialog, run by interface activation.
#pragma once

#include "host/module.h"

namespace lumafex {

// Runs the dialog owned by the module's host window over the shared record.
// Returns false when this build cannot show it.
bool RunSettingsDialog(Module& module);

}  // namespace lumafex

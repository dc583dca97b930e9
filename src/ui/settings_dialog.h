// The modal settings dialog, run by interface activation.
#pragma once

#include "host/module.h"

namespace lumafex {

// Whether this build's dialog previews frames: the Linux one does, from a
// reduced copy of the latest frame the module kept; the Win32 one does not,
// so the module keeps no copy there.
#if defined(_WIN32)
inline constexpr bool kDialogShowsPreview = false;
#else
inline constexpr bool kDialogShowsPreview = true;
#endif

// Runs the dialog owned by the module's host window over the shared record.
// Returns false when this build cannot show it.
[[nodiscard]] bool RunSettingsDialog(Module& module);

}  // namespace lumafex

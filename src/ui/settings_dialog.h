// The modal settings dialog as each toolkit binding runs it: ui/win32 inside
// the Windows module, ui/qt (a library the Linux module loads on demand),
// ui/none where a build has no dialog. The module links exactly one.
#pragma once

#include "ui/dialog_model.h"

namespace lumafex::ui {

// Whether this binding's dialog previews frames: the module then keeps a
// reduced copy of the latest frame for it.
bool DialogShowsPreview();

// Runs the dialog over the model, owned by its owner window. Returns false
// when this build cannot show it.
[[nodiscard]] bool RunSettingsDialog(const DialogModel& model);

}  // namespace lumafex::ui

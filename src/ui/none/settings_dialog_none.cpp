// A build without a settings dialog: interface activation says it failed,
// and no frame is kept for a preview.
#include "ui/settings_dialog.h"

namespace lumafex::ui {

bool DialogShowsPreview() { return false; }

bool RunSettingsDialog(const DialogModel&) { return false; }

}  // namespace lumafex::ui

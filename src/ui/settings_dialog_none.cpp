#include <cstdio>

#include "ui/settings_dialog.h"

namespace lumafex {

// Builds without a windowing toolkit still render frames; they say why the
// dialog does not open.
bool RunSettingsDialog(Module&) {
    std::fprintf(stderr, "lumafex: this build of the module has no settings dialog\n");
    return false;
}

}  // namespace lumafex

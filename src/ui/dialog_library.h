// The Linux settings dialog lives in a library of its own beside the module
// file, so that the module itself needs no windowing toolkit: a render node
// without one loads and runs the module, and only interface activation needs
// the dialog library. This header is what the module and that library agree
// on.
#pragma once

#include <cstddef>

#include "ui/dialog_model.h"

namespace lumafex::ui {

// The library's file name, looked for in the module file's folder.
inline constexpr const char* kDialogLibraryFile = "lumafex3-qt.so";

// Its entries, plain C names. The module hands over the dialog's model and
// its size; a library built from other sources refuses a size it does not
// know.
inline constexpr const char* kRunDialogEntry = "lumafex_qt_run_dialog";
inline constexpr const char* kShowMessageEntry = "lumafex_qt_show_message";

// 1 when the dialog ran (whatever the user pressed), 0 when it could not open;
// the reason has then been written to standard error.
using RunDialogEntry = int (*)(const DialogModel* model, std::size_t modelSize);
// True when the toolkit showed the message (its application runs on this
// thread), false to fall back to standard error.
using ShowMessageEntry = bool (*)(const char* text, const char* caption);

}  // namespace lumafex::ui

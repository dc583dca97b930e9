// Whether Qt can start a GUI application in this process. Qt ends the whole
// process when none of the platform plug-ins it tries can start (an unknown
// QT_QPA_PLATFORM, an X display nobody serves), so the module asks first and
// lets interface activation fail instead.
#pragma once

#include <string>

namespace lumafex::ui {

// Empty when a platform Qt would try can start here: its plug-in loads and,
// for the X and Wayland platforms, their display server accepts a
// connection. Otherwise the reason none can, for the user.
std::string QtDisplayProblem();

}  // namespace lumafex::ui

// The module's own instance handle, looked up by its file name, so that the
// settings dialog can be created from the module's resources.
#pragma once

namespace lumafex::platform {

// The file name the module is loaded under on Windows.
inline constexpr const char* kModuleFileName = "LUMAFEX3.P";

// The handle of the loaded module file, or null when it is not loaded under
// that name (and on systems without module handles).
[[nodiscard]] void* FindModuleHandle();

}  // namespace lumafex::platform

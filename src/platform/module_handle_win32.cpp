#include <windows.h>

#include "platform/module_handle.h"

namespace lumafex::platform {

void* FindModuleHandle() { return GetModuleHandleA(kModuleFileName); }

}  // namespace lumafex::platform

#include "platform/module_handle.h"

namespace lumafex::platform {

// Shared objects carry no resources here: the dialog is built by its toolkit.
void* FindModuleHandle() { return nullptr; }

}  // namespace lumafex::platform

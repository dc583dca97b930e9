#include <windows.h>

#include "platform/messages.h"

namespace lumafex::platform {

// A modal box with no owner window and a single OK button.
void ShowSystemMessage(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
}

}  // namespace lumafex::platform

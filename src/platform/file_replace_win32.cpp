#include <windows.h>

#include "platform/file_replace.h"

namespace lumafex::platform {

// The C runtime's rename refuses an existing target on Windows.
bool ReplaceFileWith(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace lumafex::platform

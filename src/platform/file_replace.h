// Puts a finished file in place of another one.
#pragma once

namespace lumafex::platform {

// Moves the file at from to the path to, replacing any file there. False
// when the move fails; both files are then as they were.
bool ReplaceFileWith(const char* from, const char* to);

}  // namespace lumafex::platform

#include <cstdio>

#include "platform/file_replace.h"

namespace lumafex::platform {

// rename replaces the target in one step.
bool ReplaceFileWith(const char* from, const char* to) { return std::rename(from, to) == 0; }

}  // namespace lumafex::platform

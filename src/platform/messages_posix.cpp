#include <cstdio>

#include "platform/messages.h"

namespace lumafex::platform {

// Without a windowing toolkit the message goes to standard error, so that a
// batch render never waits on a box nobody sees.
void ShowSystemMessage(const char* text, const char* caption) {
    std::fprintf(stderr, "lumafex: %s: %s\n", caption, text);
}

}  // namespace lumafex::platform

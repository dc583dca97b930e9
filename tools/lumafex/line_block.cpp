#include "line_block.h"

#include <algorithm>
#include <cstring>

namespace lumafex::tool {

namespace {

// Stores at most size - 1 characters and a terminating zero; -1 at the end.
int32_t ReadLine(void* context, char* buffer, int32_t size) {
    auto* source = static_cast<LineSource*>(context);
    if (source->next >= source->lines->size() || size <= 0) return -1;
    const std::string& line = (*source->lines)[source->next++];
    const std::size_t n = std::min(line.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, line.data(), n);
    buffer[n] = '\0';
    return static_cast<int32_t>(n);
}

// The text ends at its zero or after length characters, whichever is first.
void WriteLine(void* context, const char* text, int32_t length) {
    const std::size_t n = length > 0 ? strnlen(text, static_cast<std::size_t>(length)) : 0;
    static_cast<std::vector<std::string>*>(context)->emplace_back(text, n);
}

}  // namespace

LoadState LoadStateOver(LineSource& source) { return LoadState{0, &source, ReadLine}; }

SaveState SaveStateInto(std::vector<std::string>& lines) { return SaveState{0, &lines, WriteLine}; }

}  // namespace lumafex::tool

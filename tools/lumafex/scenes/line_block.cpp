#include "scenes/line_block.h"

#include <algorithm>
#include <cstring>

namespace lumafex::tool {

int32_t StringLines::ReadLine(char* buffer, int32_t size) {
    if (next >= lines.size() || size <= 0) return -1;
    const std::string& line = lines[next++];
    const std::size_t n = std::min(line.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, line.data(), n);
    buffer[n] = '\0';
    return static_cast<int32_t>(n);
}

void StringLines::WriteLine(const char* text, int32_t length) {
    const std::size_t n = length > 0 ? strnlen(text, static_cast<std::size_t>(length)) : 0;
    lines.emplace_back(text, n);
}

namespace {

int32_t ReadThrough(void* context, char* buffer, int32_t size) {
    return static_cast<StringLines*>(context)->ReadLine(buffer, size);
}

void WriteThrough(void* context, const char* text, int32_t length) {
    static_cast<StringLines*>(context)->WriteLine(text, length);
}

}  // namespace

LoadState LoadStateOver(StringLines& lines) { return LoadState{0, &lines, ReadThrough}; }

SaveState SaveStateInto(StringLines& lines) { return SaveState{0, &lines, WriteThrough}; }

}  // namespace lumafex::tool

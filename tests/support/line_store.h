// Scene lines held in memory, with the host's line read and write
// operations over them, for driving a handler table's load and save.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lumafex::testing {

struct Lines {
    std::vector<std::string> lines;
    std::size_t next = 0;
};

inline int32_t ReadLine(void* context, char* buffer, int32_t size) {
    auto* l = static_cast<Lines*>(context);
    if (l->next >= l->lines.size()) return -1;
    const std::string& line = l->lines[l->next++];
    const auto n = std::min<std::size_t>(line.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, line.data(), n);
    buffer[n] = '\0';
    return static_cast<int32_t>(n);
}

inline void WriteLine(void* context, const char* text, int32_t length) {
    static_cast<Lines*>(context)->lines.emplace_back(text,
                                                     strnlen(text, static_cast<std::size_t>(length)));
}

}  // namespace lumafex::testing

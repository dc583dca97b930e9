#include "sequence.h"

#include <cctype>
#include <cstdio>

namespace lumafex::tool {

namespace {

std::string Padded(int64_t frame, int width) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lld", width, static_cast<long long>(frame));
    return buffer;
}

// Length of a "%d" or "%0Nd" token at pattern[i], its width in width; 0 if none.
std::size_t PrintfToken(const std::string& p, std::size_t i, int& width) {
    if (p[i] != '%') return 0;
    std::size_t j = i + 1;
    int w = 0;
    if (j < p.size() && p[j] == '0') {
        ++j;
        while (j < p.size() && std::isdigit(static_cast<unsigned char>(p[j])) && w < 100) {
            w = w * 10 + (p[j] - '0');
            ++j;
        }
    }
    if (j < p.size() && p[j] == 'd') {
        width = w;
        return j + 1 - i;
    }
    return 0;
}

}  // namespace

std::string ExpandFramePattern(const std::string& pattern, int64_t frame) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size();) {
        if (pattern[i] == '#' || pattern[i] == '@') {
            const std::size_t start = i;
            while (i < pattern.size() && (pattern[i] == '#' || pattern[i] == '@')) ++i;
            const std::size_t run = i - start;
            const bool loneHash = run == 1 && pattern[start] == '#';
            out += Padded(frame, loneHash ? 4 : static_cast<int>(run));
            continue;
        }
        int width = 0;
        if (const std::size_t n = PrintfToken(pattern, i, width)) {
            out += Padded(frame, width);
            i += n;
            continue;
        }
        out += pattern[i++];
    }
    return out;
}

bool HasFrameNumber(const std::string& pattern) {
    return ExpandFramePattern(pattern, 0) != ExpandFramePattern(pattern, 1);
}

}  // namespace lumafex::tool

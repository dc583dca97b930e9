#include "sequence.h"

#include <cctype>
#include <cstdint>

namespace lumafex::tool {

namespace {

// The frame as printf's "%0*lld" writes it, at any width: the sign, then
// zeros up to the width, then the digits.
std::string Padded(int64_t frame, int width) {
    const uint64_t magnitude =
        frame < 0 ? 0 - static_cast<uint64_t>(frame) : static_cast<uint64_t>(frame);
    const std::string digits = std::to_string(magnitude);
    std::string out = frame < 0 ? "-" : "";
    const std::size_t used = out.size() + digits.size();
    if (width > 0 && static_cast<std::size_t>(width) > used) {
        out.append(static_cast<std::size_t>(width) - used, '0');
    }
    return out + digits;
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

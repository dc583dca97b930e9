#include "scenes/sequence.h"

#include <cctype>
#include <algorithm>
#include <stdexcept>

namespace lumafex::tool {

namespace {

std::string Padded(int64_t frame, std::size_t width) {
    if (width > static_cast<std::size_t>(kMaxFrameDigits)) {
        throw std::length_error("a frame number of " + std::to_string(width) +
                                " digits is wider than " + std::to_string(kMaxFrameDigits));
    }
    std::string text = std::to_string(frame);
    const std::size_t sign = frame < 0 ? 1 : 0;
    if (text.size() < width) text.insert(sign, width - text.size(), '0');
    return text;
}

// Length of a "%d" or "%0Nd" token at pattern[i], its width in width; 0 if none.
std::size_t PrintfToken(const std::string& p, std::size_t i, std::size_t& width) {
    if (p[i] != '%') return 0;
    std::size_t j = i + 1;
    std::size_t w = 0;
    if (j < p.size() && p[j] == '0') {
        ++j;
        while (j < p.size() && std::isdigit(static_cast<unsigned char>(p[j]))) {
            w = std::min<std::size_t>(w * 10 + static_cast<std::size_t>(p[j] - '0'), 1000);
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
            out += Padded(frame, loneHash ? 4 : run);
            continue;
        }
        std::size_t width = 0;
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

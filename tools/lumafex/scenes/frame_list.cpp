#include "scenes/frame_list.h"

#include <limits>
#include <stdexcept>
#include <unordered_set>

#include "scenes/sequence.h"

namespace lumafex::tool {

namespace {

[[noreturn]] void Bad(const std::string& whole, const std::string& why) {
    throw std::invalid_argument("bad frame list \"" + whole + "\": " + why);
}

// A whole number at text[at...], with an optional leading minus; at moves
// past it.
int64_t Number(const std::string& text, std::size_t& at, const std::string& whole) {
    const std::size_t start = at;
    if (at < text.size() && text[at] == '-') ++at;
    const std::size_t digits = at;
    int64_t magnitude = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        // Saturates far beyond the limit, so no overflow.
        if (magnitude <= kMaxFrameNumber) magnitude = magnitude * 10 + (text[at] - '0');
        ++at;
    }
    if (at == digits) Bad(whole, "expected a frame number at \"" + text.substr(start) + "\"");
    if (magnitude > kMaxFrameNumber) Bad(whole, "frame numbers go from -1000000000 to 1000000000");
    return text[start] == '-' ? -magnitude : magnitude;
}

}  // namespace

std::vector<int64_t> ParseFrameList(const std::string& text) {
    if (text.empty()) Bad(text, "it is empty");
    std::vector<int64_t> frames;
    std::unordered_set<int64_t> seen;
    auto add = [&](int64_t frame) {
        if (!seen.insert(frame).second) return;
        if (frames.size() == kMaxListedFrames)
            Bad(text, "more than " + std::to_string(kMaxListedFrames) + " frames");
        frames.push_back(frame);
    };
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        const std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::size_t at = 0;
        const int64_t first = Number(part, at, text);
        int64_t last = first;
        int64_t step = 1;
        bool complement = false;
        if (at < part.size() && part[at] == '-') {
            ++at;
            last = Number(part, at, text);
            if (at < part.size() && (part[at] == 'x' || part[at] == 'y')) {
                complement = part[at] == 'y';
                ++at;
                step = Number(part, at, text);
                if (step < 1) Bad(text, "a step must be at least 1");
            }
        }
        if (at != part.size()) Bad(text, "unexpected \"" + part.substr(at) + "\" (A, A-B, A-BxN, A-ByN, lists with commas)");
        const int64_t direction = last >= first ? 1 : -1;
        const int64_t count = (last - first) * direction + 1;  // within 2*10^9 + 1: no overflow
        // Either loop adds a frame at least every other turn (or none at
        // all for "y1"), so the list's own limit bounds the work.
        if (!complement) {
            for (int64_t i = 0; i < count; i += step) add(first + i * direction);
        } else if (step > 1) {
            for (int64_t i = 0; i < count; ++i) {
                if (i % step != 0) add(first + i * direction);
            }
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return frames;
}

}  // namespace lumafex::tool

// What the scene targets hand to the loader: everything except frame ranges
// of more than 4096 frames, which the loader accepts (up to its own limit of
// a million) but which would only make single runs slow. Nesting, numbers
// and frame numbers beyond the loader's limits go to the loader, which must
// refuse them with its own error.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

namespace lumafex::fuzz {

inline constexpr int kMaxDepth = 64;
inline constexpr double kMaxFrameMagnitude = 1e9;
inline constexpr double kMaxRangeFrames = 4096;

// Brackets outside strings, counted without parsing.
inline bool NestsTooDeep(const std::string& text) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

inline bool FrameNumberInLimits(const nlohmann::json& v) {
    if (!v.is_number_integer()) return true;  // the loader refuses it
    if (v.is_number_unsigned()) return v.get<unsigned long long>() <= kMaxFrameMagnitude;
    return std::fabs(static_cast<double>(v.get<long long>())) <= kMaxFrameMagnitude;
}

inline bool WithinLimits(const std::string& text) {
    // Too deep for this check's own parse, not for the loader, which
    // measures the depth before it parses.
    if (NestsTooDeep(text)) return true;
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception&) {
        return true;  // errors are the loader's to report
    }
    if (!doc.is_object() || !doc.contains("frames")) return true;
    const nlohmann::json& frames = doc["frames"];
    if (!frames.is_object() || !frames.contains("first") || !frames.contains("last")) return true;
    const nlohmann::json& first = frames["first"];
    const nlohmann::json& last = frames["last"];
    if (!FrameNumberInLimits(first) || !FrameNumberInLimits(last)) return true;
    if (!first.is_number_integer() || !last.is_number_integer()) return true;
    return static_cast<double>(last.get<long long>()) - static_cast<double>(first.get<long long>()) <
           kMaxRangeFrames;
}

}  // namespace lumafex::fuzz

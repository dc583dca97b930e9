// What the scene targets hand to the loader: scenes that nest at most 64
// deep, that the JSON library itself reads, and whose frame range holds at
// most 4096 frames between -10^9 and 10^9. Deeper, larger or wider scenes
// are the business of the loader's own limits and its unit tests; here they
// would only make single runs slow or huge.
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
    if (NestsTooDeep(text)) return false;
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error&) {
        return true;  // syntax errors are the loader's to report
    } catch (const nlohmann::json::exception&) {
        return false;
    }
    if (!doc.is_object() || !doc.contains("frames")) return true;
    const nlohmann::json& frames = doc["frames"];
    if (!frames.is_object() || !frames.contains("first") || !frames.contains("last")) return true;
    const nlohmann::json& first = frames["first"];
    const nlohmann::json& last = frames["last"];
    if (!FrameNumberInLimits(first) || !FrameNumberInLimits(last)) return false;
    if (!first.is_number_integer() || !last.is_number_integer()) return true;
    return static_cast<double>(last.get<long long>()) - static_cast<double>(first.get<long long>()) <
           kMaxRangeFrames;
}

}  // namespace lumafex::fuzz

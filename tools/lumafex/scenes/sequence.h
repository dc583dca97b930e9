// Image-sequence patterns as VFX tools write them: a lone "#" stands for the
// frame number in four digits, a run of several "#" or "@" for as many
// digits as it has characters ("####" and "@@@@" are four digits, "@" is
// one), and "%d"/"%0Nd" as printf writes it.
#pragma once

#include <cstdint>
#include <string>

namespace lumafex::tool {

// Frame numbers the program accepts: -10^9 to 10^9, so that frame counts,
// times and padded numbers never come near the ends of an integer.
inline constexpr int64_t kMaxFrameNumber = 1000000000;
// The widest frame number a pattern may ask for ("%032d", 32 "#").
inline constexpr int kMaxFrameDigits = 32;

// The path for one frame; zero-padded to the pattern's width, a negative
// frame keeps its sign in front ("-007" for -7 at width 4). Throws
// std::length_error for a frame number wider than kMaxFrameDigits.
std::string ExpandFramePattern(const std::string& pattern, int64_t frame);

// True when the pattern contains a frame number.
bool HasFrameNumber(const std::string& pattern);

}  // namespace lumafex::tool

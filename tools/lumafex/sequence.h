// Image-sequence patterns as VFX tools write them: a lone "#" stands for the
// frame number in four digits, a run of several "#" or "@" for as many
// digits as it has characters ("####" and "@@@@" are four digits, "@" is
// one), and "%d"/"%0Nd" as printf writes it.
#pragma once

#include <cstdint>
#include <string>

namespace lumafex::tool {

// The path for one frame; zero-padded to the pattern's width, a negative
// frame keeps its sign in front ("-007" for -7 at width 4).
std::string ExpandFramePattern(const std::string& pattern, int64_t frame);

// True when the pattern contains a frame number.
bool HasFrameNumber(const std::string& pattern);

}  // namespace lumafex::tool

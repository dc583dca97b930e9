// Frame lists as image pipeline tools write them: "7" one frame, "1-10" a
// range, "1-10x3" every third frame of it, "1-10y3" the frames "x3" leaves
// out, "10-1" backwards, and comma-separated lists of these. Negative frames
// keep their sign ("-5--1").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumafex::tool {

// The most frames one list may name.
inline constexpr std::size_t kMaxListedFrames = 1000000;

// The frames in the order written, each once (its first place). Throws
// std::invalid_argument naming the list and what is wrong in it.
std::vector<int64_t> ParseFrameList(const std::string& text);

}  // namespace lumafex::tool

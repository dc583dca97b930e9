// Depth shown as colour, the one mapping every picture of a depth buffer
// uses (the settings dialog's depth map view, the demo's contact sheet):
// near red through yellow, green and cyan to far blue, by inverse distance
// between the nearest and the farthest depth of the frame's objects. The
// background (alpha 0, where a frame has alpha) takes no part in the range
// and shows black, as do pixels without a depth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace lumafex::ui {

struct DepthRange {
    double nearest = 0.0;
    double farthest = 0.0;
    bool empty() const { return !(nearest > 0.0 && farthest >= nearest); }
};

// The range of the finite, positive depths among count pixels; alpha (may
// be null) leaves out the pixels where it is 0. Empty when none is left.
DepthRange FindDepthRange(const float* depth, const uint8_t* alpha, std::size_t count);

struct DepthColour {
    uint8_t red, green, blue;
};

// Black: the background, or no depth.
inline constexpr DepthColour kNoDepthColour{0, 0, 0};

// The colour of a depth within range: nothing for a depth that is not
// finite and positive, or when the range is empty; depths beyond the range
// take its end's colour. One depth alone shows as near.
std::optional<DepthColour> ColourOfDepth(double depth, const DepthRange& range);

// The colour at t from 0 (far) to 1 (near), for legends.
DepthColour DepthRampColour(double t);

}  // namespace lumafex::ui

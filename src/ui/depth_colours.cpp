#include "ui/depth_colours.h"

#include <algorithm>
#include <cmath>

namespace lumafex::ui {

DepthRange FindDepthRange(const float* depth, const uint8_t* alpha, std::size_t count) {
    DepthRange range{INFINITY, 0.0};
    for (std::size_t i = 0; i < count; ++i) {
        const double v = depth[i];
        if (!(std::isfinite(v) && v > 0.0) || (alpha != nullptr && alpha[i] == 0)) continue;
        range.nearest = std::min(range.nearest, v);
        range.farthest = std::max(range.farthest, v);
    }
    if (range.empty()) return DepthRange{};
    return range;
}

DepthColour DepthRampColour(double t) {
    // Blue, cyan, green, yellow, red.
    constexpr double kStops[5][3] = {
        {40, 60, 200}, {40, 190, 220}, {60, 200, 80}, {240, 220, 50}, {225, 50, 40}};
    const double s = std::clamp(t, 0.0, 1.0) * 4.0;
    const int k = std::min(3, static_cast<int>(s));
    const double f = s - k;
    auto channel = [&](int c) {
        return static_cast<uint8_t>(kStops[k][c] + (kStops[k + 1][c] - kStops[k][c]) * f);
    };
    return {channel(0), channel(1), channel(2)};
}

std::optional<DepthColour> ColourOfDepth(double depth, const DepthRange& range) {
    if (!(std::isfinite(depth) && depth > 0.0) || range.empty()) return std::nullopt;
    if (range.farthest <= range.nearest) return DepthRampColour(1.0);
    // 0 at the farthest, 1 at the nearest, even in inverse distance.
    const double t = (1.0 / depth - 1.0 / range.farthest) /
                     (1.0 / range.nearest - 1.0 / range.farthest);
    return DepthRampColour(t);
}

}  // namespace lumafex::ui

#include "reference/colour_stages.h"

#include <algorithm>
#include <cstdlib>

#include "pipeline/frame/selection.h"

namespace lumafex::reference {

namespace {

uint8_t Limit(double v) { return v > 255.0 ? 255 : (v < 0.0 ? 0 : static_cast<uint8_t>(v)); }

}  // namespace

void ColourStages(const FilterSettings& s, const FrameParameters& p, uint8_t& r, uint8_t& g, uint8_t& b,
                  uint8_t a, uint8_t shadow) {
    auto selected = [&] { return PixelSelected(s, a, shadow, r, g, b); };
    auto each = [&](auto f) {
        if (!selected()) return;
        r = f(r);
        g = f(g);
        b = f(b);
    };
    if (s.NegativeFlag) each([](int v) { return static_cast<uint8_t>(v > 208 ? 208 : v); });
    if (s.NegativeImageFlag) each([](int v) { return static_cast<uint8_t>(255 - v); });
    if (s.CartoonFlag && p.PosterizeStep > 1.0f) {
        const int q = static_cast<int>(p.PosterizeStep);
        each([q](int v) { return static_cast<uint8_t>(std::min(255, ((v + q / 2) / q) * q)); });
    }
    if (s.GreyFlag && selected()) {
        r = g = b = static_cast<uint8_t>((0.59 * g + 0.11 * b) + 0.3 * r);
    }
    if (!(p.RedScale == 1.0f && p.GreenScale == 1.0f && p.BlueScale == 1.0f && p.BrightScale == 1.0f) &&
        selected()) {
        if (p.ColorModeOffset) {
            r = Limit(r + p.RedScale * 100.0);
            g = Limit(g + p.GreenScale * 100.0);
            b = Limit(b + p.BlueScale * 100.0);
        } else if (p.ColorModeSet) {
            r = Limit(p.RedScale * 100.0);
            g = Limit(p.GreenScale * 100.0);
            b = Limit(p.BlueScale * 100.0);
        } else {
            r = Limit(r * static_cast<double>(p.RedScale) * p.BrightScale);
            g = Limit(g * static_cast<double>(p.GreenScale) * p.BrightScale);
            b = Limit(b * static_cast<double>(p.BlueScale) * p.BrightScale);
        }
    }
    if (p.ContrastFactor != 1.0f)
        each([&](int v) { return Limit((v - 128) * static_cast<double>(p.ContrastFactor) + 128.0); });
    if (p.GammaOffset != 0.0f)
        each(
            [&](int v) { return Limit((128 - std::abs(v - 128)) * static_cast<double>(p.GammaOffset) + v); });
}

}  // namespace lumafex::reference

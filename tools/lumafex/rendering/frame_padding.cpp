#include "rendering/frame_padding.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

namespace lumafex::tool {

// The host's largest frame stays within the module's sizes once padded.
static_assert(kMaxImageSide % kModuleWidthStep == 0);
static_assert(kMaxImageSide <= std::numeric_limits<int32_t>::max());

namespace {

// Each of height rows of width values, followed by its last value repeated
// up to padded.
template <typename T>
std::vector<T> PadRows(const std::vector<T>& plane, int32_t width, int32_t height, int32_t padded) {
    if (plane.size() != PixelCount(width, height))
        throw std::logic_error("a plane of the frame does not match its colour's size");
    std::vector<T> out(PixelCount(padded, height));
    for (int32_t y = 0; y < height; ++y) {
        const T* from = plane.data() + PixelCount(width, y);
        T* to = out.data() + PixelCount(padded, y);
        std::copy(from, from + width, to);
        std::fill(to + width, to + padded, from[width - 1]);
    }
    return out;
}

// Values first .. first + width - 1 of each row of padded values.
template <typename T>
void CropRows(const std::vector<T>& plane, int32_t padded, int32_t first, int32_t width, int32_t height,
              std::vector<T>& out) {
    if (first < 0 || width < 0 || int64_t{first} + width > padded ||
        plane.size() != PixelCount(padded, height))
        throw std::logic_error("a crop outside the padded frame");
    out.resize(PixelCount(width, height));
    for (int32_t y = 0; y < height; ++y) {
        const T* from = plane.data() + PixelCount(padded, y) + first;
        std::copy(from, from + width, out.data() + PixelCount(width, y));
    }
}

}  // namespace

int64_t PaddedWidth(int32_t width) {
    if (width <= 0) return width;
    return (int64_t{width} + kModuleWidthStep - 1) / kModuleWidthStep * kModuleWidthStep;
}

bool NeedsPadding(int32_t width) {
    return width > 0 && width % kModuleWidthStep != 0 &&
           PaddedWidth(width) <= std::numeric_limits<int32_t>::max();
}

PaddedFrame PadFrame(const ColourImage& colour, const GreyImage* shadow, const DepthImage* depth) {
    const int32_t w = colour.width, h = colour.height;
    const auto padded = static_cast<int32_t>(PaddedWidth(w));
    PaddedFrame out;
    out.colour.width = padded;
    out.colour.height = h;
    out.colour.red = PadRows(colour.red, w, h, padded);
    out.colour.green = PadRows(colour.green, w, h, padded);
    out.colour.blue = PadRows(colour.blue, w, h, padded);
    out.colour.alpha = PadRows(colour.alpha, w, h, padded);
    if (shadow != nullptr) out.shadow = GreyImage{padded, h, PadRows(shadow->value, w, h, padded)};
    if (depth != nullptr)
        out.depth = DepthImage{padded, h, PadRows(depth->value, w, h, padded), depth->channel};
    return out;
}

void CropColour(const ColourImage& padded, int32_t first, int32_t width, ColourImage& to) {
    const int32_t w = padded.width, h = padded.height;
    CropRows(padded.red, w, first, width, h, to.red);
    CropRows(padded.green, w, first, width, h, to.green);
    CropRows(padded.blue, w, first, width, h, to.blue);
    CropRows(padded.alpha, w, first, width, h, to.alpha);
    to.width = width;
    to.height = h;
}

void CropFrame(const PaddedFrame& padded, ColourImage& colour, GreyImage* shadow) {
    CropColour(padded.colour, 0, colour.width, colour);
    if (shadow != nullptr)
        CropRows(padded.shadow.value, padded.shadow.width, 0, colour.width, colour.height, shadow->value);
}

}  // namespace lumafex::tool

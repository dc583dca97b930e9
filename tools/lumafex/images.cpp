#include "images.h"

namespace lumafex::tool {

void CheckImageSize(const std::string& path, int64_t width, int64_t height) {
    if (width <= 0 || height <= 0) {
        throw ImageError(path + ": image has no pixels (" + std::to_string(width) + "x" +
                         std::to_string(height) + ")");
    }
    if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels) {
        throw ImageError(path + ": image of " + std::to_string(width) + "x" +
                         std::to_string(height) + " is larger than this program accepts (" +
                         std::to_string(kMaxImageSide) + " pixels a side, " +
                         std::to_string(kMaxImagePixels / (1 << 20)) + " megapixels)");
    }
}

void ColourImage::Resize(int32_t w, int32_t h) {
    width = w;
    height = h;
    const std::size_t n = PixelCount(w, h);
    red.assign(n, 0);
    green.assign(n, 0);
    blue.assign(n, 0);
    alpha.assign(n, 255);
}

}  // namespace lumafex::tool

#include "image_files/images.h"

#include <atomic>

namespace lumafex::tool {

namespace {
std::atomic<uint64_t> g_memoryBudget{kDefaultMemoryBudget};
}  // namespace

void SetMemoryBudget(uint64_t bytes) { g_memoryBudget.store(bytes); }
uint64_t MemoryBudget() { return g_memoryBudget.load(); }

void CheckAllocation(const std::string& path, const std::string& what,
                     std::initializer_list<uint64_t> factors) {
    const uint64_t budget = MemoryBudget();
    uint64_t bytes = 1;
    bool over = false;
    for (const uint64_t f : factors) {
        if (f != 0 && bytes > budget / f) over = true;
        bytes = over ? budget : bytes * f;
    }
    if (over || bytes > budget) {
        throw ImageError(path + ": " + what + " would need more memory than the limit of " +
                         std::to_string(budget >> 20) + " MB (see --memory-limit)");
    }
}

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

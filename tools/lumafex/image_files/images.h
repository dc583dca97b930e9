// Images as the host program holds them: 8-bit planes for colour, alpha and
// shadow, float planes for depth, and the limits every reader checks before
// it allocates a single pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumafex::tool {

// The largest frame the host accepts: 32768 pixels a side, 64 megapixels.
inline constexpr int64_t kMaxImageSide = 32768;
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 26;

// An error about one file; the message names the file and what is wrong.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws an ImageError unless the declared size is within the limits.
void CheckImageSize(const std::string& path, int64_t width, int64_t height);

// The memory any one image may make a reader allocate: its pixel buffers,
// a decoder's tile, an image file read whole. 1 GiB unless the user sets
// another (lumafex --memory-limit MB, or LUMAFEX_MEMORY_LIMIT_MB).
inline constexpr uint64_t kDefaultMemoryBudget = uint64_t{1} << 30;
void SetMemoryBudget(uint64_t bytes);
uint64_t MemoryBudget();

// Throws an ImageError naming the file and what would be allocated unless
// the product of the factors (computed without overflow) is within the
// memory budget.
void CheckAllocation(const std::string& path, const std::string& what,
                     std::initializer_list<uint64_t> factors);

struct ColourImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> red, green, blue, alpha;
    void Resize(int32_t w, int32_t h);
};

struct GreyImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> value;
};

struct DepthImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<float> value;
    std::string channel;  // which channel the depth came from
};

inline std::size_t PixelCount(int32_t w, int32_t h) {
    return static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
}

// A sample of another bit depth as a byte: 16-bit and other integer
// maxima scale to 0..255 rounded to nearest; floats are clamped to 0..1,
// scaled by 255 and rounded to nearest.
inline uint8_t ScaledToByte(uint32_t value, uint32_t maxValue) {
    if (value >= maxValue) return 255;
    return static_cast<uint8_t>((uint64_t{value} * 255u + maxValue / 2) / maxValue);
}
inline uint8_t FloatToByte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return static_cast<uint8_t>(static_cast<double>(v) * 255.0 + 0.5);
}

}  // namespace lumafex::tool

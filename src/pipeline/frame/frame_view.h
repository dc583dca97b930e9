// A frame as the passes see it: the host's byte planes as contiguous
// width x height arrays (pixel (x, y) at y * width + x), the depth rows on
// demand, and the output the final pass writes every pixel to. The host adapter
// builds it once from the host's frame; passes never see host records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace lumafex {

struct FrameView {
    int32_t width = 0;
    int32_t height = 0;
    uint8_t* red = nullptr;
    uint8_t* green = nullptr;
    uint8_t* blue = nullptr;
    uint8_t* alpha = nullptr;
    uint8_t* shadow = nullptr;

    // Fetches one row of depth values (width floats); null when the host
    // provides no depth buffer.
    const float* (*depthRow)(const void* context, int32_t y) = nullptr;
    const void* depthContext = nullptr;

    // W x H, or the largest size_t when the product does not fit (possible
    // on 32-bit builds): working arrays of that many pixels then simply
    // cannot be had, instead of being sized by a wrapped count.
    std::size_t PixelCount() const {
        if (width <= 0 || height <= 0) return 0;
        const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
        return count > std::numeric_limits<std::size_t>::max()
                   ? std::numeric_limits<std::size_t>::max()
                   : static_cast<std::size_t>(count);
    }
    std::size_t Index(int32_t x, int32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(x);
    }
    bool HasDepth() const { return depthRow != nullptr; }
    const float* DepthRow(int32_t y) const {
        return depthRow != nullptr ? depthRow(depthContext, y) : nullptr;
    }
};

// Where the final pass hands the finished pixels: the host's putRGB and
// putAlpha, or a recorder in tests.
class FrameOutput {
public:
    virtual ~FrameOutput() = default;
    virtual void PutRGB(int32_t x, int32_t y, const uint8_t rgb[3]) = 0;
    virtual void PutAlpha(int32_t x, int32_t y, uint8_t alpha) = 0;
};

}  // namespace lumafex

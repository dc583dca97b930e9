// A reduced copy of a frame as the module received it, kept for the
// settings dialog's preview: the last frame the module processed, or the
// frame a host hands over for the preview. The preview filters a copy of it
// with the module's own passes, so what it shows is what a render gives.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pipeline/frame/random_generator.h"
#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "settings/filter_settings.h"

namespace lumafex {

// Kept frames are at most this size: every step-th pixel of every step-th
// row, with the smallest step that fits (1920x1080 keeps 960x540, about
// 4.7 MB with the depth buffer).
inline constexpr int32_t kPreviewMaxWidth = 960;
inline constexpr int32_t kPreviewMaxHeight = 540;

struct PreviewFrame {
    int32_t width = 0;   // a multiple of 8, as every processed frame
    int32_t height = 0;
    int32_t step = 1;    // 1 when the frame is kept whole
    int32_t sourceWidth = 0;
    int32_t sourceHeight = 0;
    double time = 0.0;   // the frame's time: null objects are read at it
    int32_t fieldRendering = 0;
    std::vector<uint8_t> red, green, blue, alpha, shadow;
    std::vector<float> depth;  // empty without a depth buffer

    bool empty() const { return width == 0 || height == 0; }
    bool reduced() const { return step > 1 || width != sourceWidth; }
};

// Copies the view into kept, reduced to fit the limits above. Returns false
// (and leaves kept empty) when the view has no pixels to keep or the memory
// cannot be had.
[[nodiscard]] bool KeepFrame(const FrameView& view, double time, int32_t fieldRendering, PreviewFrame& kept);

// A copy of from with every second pixel of every second row (width again a
// multiple of 8), for a preview that must be cheaper still; it remembers
// from's source size. False when there is nothing left to keep.
[[nodiscard]] bool HalveFrame(const PreviewFrame& from, PreviewFrame& to);

// A filtered preview: red, green, blue and alpha planes of the kept size.
struct PreviewImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> red, green, blue, alpha;
};

// Runs the module's passes over a copy of the kept frame with the given
// settings, working values and generator, all copies: nothing the module
// keeps is changed. False when the memory cannot be had, or when stop
// became true before the last pass started.
[[nodiscard]] bool RenderPreview(const PreviewFrame& kept, FilterSettings settings,
                                 const FrameParameters& params, RandomGenerator random,
                                 PreviewImage& image, const std::atomic<bool>* stop = nullptr);

}  // namespace lumafex

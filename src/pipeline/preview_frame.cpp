#include "pipeline/preview_frame.h"

#include <algorithm>
#include <new>

#include "pipeline/filter_chain.h"

namespace lumafex {

namespace {

// The smallest step that brings both sides within the limits.
int32_t StepFor(int32_t width, int32_t height, int32_t maxWidth, int32_t maxHeight) {
    // In 64 bits: a side near the 32-bit limit must not wrap.
    const int64_t across = (int64_t{width} + maxWidth - 1) / maxWidth;
    const int64_t down = (int64_t{height} + maxHeight - 1) / maxHeight;
    return static_cast<int32_t>(std::max<int64_t>(1, std::max(across, down)));
}

// Reads one plane of every step-th pixel; width is the kept width.
void Sample(const uint8_t* plane, int32_t sourceWidth, int32_t step, int32_t width, int32_t height,
            std::vector<uint8_t>& out) {
    out.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = plane + static_cast<std::size_t>(y) * static_cast<std::size_t>(step) *
                                         static_cast<std::size_t>(sourceWidth);
        uint8_t* to = out.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        for (int32_t x = 0; x < width; ++x) to[x] = row[static_cast<std::size_t>(x) * static_cast<std::size_t>(step)];
    }
}

class PlaneOutput final : public FrameOutput {
public:
    explicit PlaneOutput(PreviewImage& image) : image_(image) {}
    void PutRGB(int32_t x, int32_t y, const uint8_t rgb[3]) override {
        if (!Inside(x, y)) return;
        const std::size_t i = Index(x, y);
        image_.red[i] = rgb[0];
        image_.green[i] = rgb[1];
        image_.blue[i] = rgb[2];
    }
    void PutAlpha(int32_t x, int32_t y, uint8_t alpha) override {
        if (Inside(x, y)) image_.alpha[Index(x, y)] = alpha;
    }

private:
    bool Inside(int32_t x, int32_t y) const {
        return x >= 0 && y >= 0 && x < image_.width && y < image_.height;
    }
    std::size_t Index(int32_t x, int32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(image_.width) +
               static_cast<std::size_t>(x);
    }
    PreviewImage& image_;
};

const float* KeptDepthRow(const void* context, int32_t y) {
    const auto* kept = static_cast<const PreviewFrame*>(context);
    return kept->depth.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(kept->width);
}

// Fills kept from planes and a depth-row source; the caller has checked the
// planes exist.
template <typename DepthRow>
[[nodiscard]] bool Keep(const uint8_t* const planes[5], int32_t width, int32_t height, bool hasDepth,
                        DepthRow depthRow, double time, int32_t fieldRendering, PreviewFrame& kept,
                        int32_t maxWidth = kPreviewMaxWidth, int32_t maxHeight = kPreviewMaxHeight) {
    const int32_t step = StepFor(width, height, maxWidth, maxHeight);
    // A frame is processed only when its width is a multiple of 8.
    const int32_t keptWidth = (width / step) / 8 * 8;
    const int32_t keptHeight = height / step;
    if (keptWidth <= 0 || keptHeight <= 0) {
        kept = PreviewFrame{};
        return false;
    }
    // The planes keep their memory from one frame to the next.
    try {
        std::vector<uint8_t>* outs[5] = {&kept.red, &kept.green, &kept.blue, &kept.alpha,
                                         &kept.shadow};
        for (int i = 0; i < 5; ++i) {
            if (planes[i] != nullptr) {
                Sample(planes[i], width, step, keptWidth, keptHeight, *outs[i]);
            } else {
                outs[i]->assign(static_cast<std::size_t>(keptWidth) * keptHeight, 0);
            }
        }
        kept.depth.clear();
        if (hasDepth) {
            kept.depth.resize(static_cast<std::size_t>(keptWidth) * keptHeight);
            for (int32_t y = 0; y < keptHeight; ++y) {
                const float* row = depthRow(y * step);
                float* to = kept.depth.data() + static_cast<std::size_t>(y) * keptWidth;
                for (int32_t x = 0; x < keptWidth; ++x) {
                    to[x] = row != nullptr ? row[static_cast<std::size_t>(x) * step] : 0.0f;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        kept = PreviewFrame{};
        return false;
    }
    kept.width = keptWidth;
    kept.height = keptHeight;
    kept.step = step;
    kept.sourceWidth = width;
    kept.sourceHeight = height;
    kept.time = time;
    kept.fieldRendering = fieldRendering;
    return true;
}

}  // namespace

bool KeepFrame(const FrameView& view, double time, int32_t fieldRendering, PreviewFrame& kept) {
    const uint8_t* planes[5] = {view.red, view.green, view.blue, view.alpha, view.shadow};
    if (view.width <= 0 || view.height <= 0 || planes[0] == nullptr || planes[1] == nullptr ||
        planes[2] == nullptr || planes[3] == nullptr) {
        kept = PreviewFrame{};
        return false;
    }
    return Keep(planes, view.width, view.height, view.HasDepth(),
                [&view](int32_t y) { return view.DepthRow(y); }, time, fieldRendering, kept);
}

bool HalveFrame(const PreviewFrame& from, PreviewFrame& to) {
    if (from.empty()) {
        to = PreviewFrame{};
        return false;
    }
    const uint8_t* planes[5] = {from.red.data(), from.green.data(), from.blue.data(),
                                from.alpha.data(), from.shadow.data()};
    const bool kept = Keep(
        planes, from.width, from.height, !from.depth.empty(),
        [&from](int32_t y) { return from.depth.data() + static_cast<std::size_t>(y) * from.width; },
        from.time, from.fieldRendering, to, std::max(1, from.width / 2),
        std::max(1, from.height / 2));
    if (!kept) return false;
    to.step *= from.step;
    to.sourceWidth = from.sourceWidth;
    to.sourceHeight = from.sourceHeight;
    return true;
}

bool RenderPreview(const PreviewFrame& kept, FilterSettings settings,
                   const FrameParameters& params, RandomGenerator random, PreviewImage& image,
                   const std::atomic<bool>* stop) {
    image = PreviewImage{};
    if (kept.empty()) return false;
    // The passes work in place: on copies of the kept planes.
    std::vector<uint8_t> red, green, blue, alpha, shadow;
    try {
        red = kept.red;
        green = kept.green;
        blue = kept.blue;
        alpha = kept.alpha;
        shadow = kept.shadow;
        image.width = kept.width;
        image.height = kept.height;
        image.red = kept.red;
        image.green = kept.green;
        image.blue = kept.blue;
        image.alpha = kept.alpha;
    } catch (const std::bad_alloc&) {
        image = PreviewImage{};
        return false;
    }
    FrameView view;
    view.width = kept.width;
    view.height = kept.height;
    view.red = red.data();
    view.green = green.data();
    view.blue = blue.data();
    view.alpha = alpha.data();
    view.shadow = shadow.data();
    if (!kept.depth.empty()) {
        view.depthRow = KeptDepthRow;
        view.depthContext = &kept;
    }
    PlaneOutput out(image);
    return RunPasses(view, settings, params, random, out, stop);
}

}  // namespace lumafex

// A frame held in memory for tests of passes and stages, with an output
// that records every pixel handed to it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pipeline/frame/frame_view.h"

namespace lumafex::testing {

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

class TestFrame {
public:
    TestFrame(int32_t w, int32_t h)
        : width(w), height(h), red(Size()), green(Size()), blue(Size()), alpha(Size()),
          shadow(Size()) {}

    int32_t width;
    int32_t height;
    std::vector<uint8_t> red, green, blue, alpha, shadow;

    FrameView View() {
        FrameView v;
        v.width = width;
        v.height = height;
        v.red = red.data();
        v.green = green.data();
        v.blue = blue.data();
        v.alpha = alpha.data();
        v.shadow = shadow.data();
        return v;
    }
    std::size_t At(int32_t x, int32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(x);
    }
    void Set(int32_t x, int32_t y, Rgb c, uint8_t a = 255) {
        const std::size_t i = At(x, y);
        red[i] = c.r;
        green[i] = c.g;
        blue[i] = c.b;
        alpha[i] = a;
    }
    void Fill(Rgb c, uint8_t a = 255) {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) Set(x, y, c, a);
    }
    Rgb Get(int32_t x, int32_t y) const {
        const std::size_t i = At(x, y);
        return {red[i], green[i], blue[i]};
    }
    // Deterministic pseudo-random content for identity and comparison tests.
    void FillPattern(uint32_t seed) {
        uint32_t s = seed;
        auto next = [&s] {
            s = s * 1664525u + 1013904223u;
            return static_cast<uint8_t>(s >> 24);
        };
        for (std::size_t i = 0; i < red.size(); ++i) {
            red[i] = next();
            green[i] = next();
            blue[i] = next();
            alpha[i] = next();
            shadow[i] = next() & 1 ? 0 : next();
        }
    }

private:
    std::size_t Size() const {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    }
};

// Records every call in order and assembles the output image.
class RecordingOutput final : public FrameOutput {
public:
    RecordingOutput(int32_t w, int32_t h)
        : width(w), height(h), red(Count()), green(Count()), blue(Count()), alpha(Count()),
          rgbCalls(Count()), alphaCalls(Count()) {}

    struct Call {
        bool alpha;
        int32_t x, y;
        bool operator==(const Call&) const = default;
    };
    void PutRGB(int32_t x, int32_t y, const uint8_t rgb[3]) override {
        const std::size_t i = Index(x, y);
        red[i] = rgb[0];
        green[i] = rgb[1];
        blue[i] = rgb[2];
        ++rgbCalls[i];
        calls.push_back({false, x, y});
    }
    void PutAlpha(int32_t x, int32_t y, uint8_t a) override {
        const std::size_t i = Index(x, y);
        alpha[i] = a;
        ++alphaCalls[i];
        calls.push_back({true, x, y});
    }
    Rgb Get(int32_t x, int32_t y) const {
        const std::size_t i = Index(x, y);
        return {red[i], green[i], blue[i]};
    }

    int32_t width, height;
    std::vector<uint8_t> red, green, blue, alpha;
    std::vector<int> rgbCalls, alphaCalls;
    std::vector<Call> calls;

private:
    std::size_t Count() const {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    }
    std::size_t Index(int32_t x, int32_t y) const {
        if (x < 0 || x >= width || y < 0 || y >= height) std::abort();
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(x);
    }
};

}  // namespace lumafex::testing

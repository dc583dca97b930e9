#include "reference/blur.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "pipeline/frame/selection.h"

namespace lumafex::reference {

using testing::TestFrame;

TestFrame RandomFrame(int32_t w, int32_t h, uint32_t seed) {
    TestFrame f(w, h);
    f.FillPattern(seed);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const std::size_t i = f.At(x, y);
            f.alpha[i] = ((x / 5 + y / 4 + static_cast<int32_t>(seed)) % 3 == 0) ? 0 : f.alpha[i];
            if (x % 7 == 0) f.blue[i] = 220;  // some pixels in the default colour range
        }
    }
    return f;
}

// The blur written out the slow, obvious way: every selected pixel visits
// its footprint row by row and hands out its contributions.
void Blur(TestFrame& f, const FilterSettings& s, float r) {
    const std::size_t n = f.red.size();
    std::vector<int64_t> sr(n), sg(n), sb(n), hits(n, 1);
    for (std::size_t i = 0; i < n; ++i) {
        sr[i] = f.red[i];
        sg[i] = f.green[i];
        sb[i] = f.blue[i];
    }
    auto selected = [&](std::size_t i) {
        return PixelSelected(s, f.alpha[i], f.shadow[i], f.red[i], f.green[i], f.blue[i]);
    };
    for (int32_t y = 0; y < f.height; ++y) {
        for (int32_t x = 0; x < f.width; ++x) {
            const std::size_t i = f.At(x, y);
            if (!selected(i) || !(r > 0.0f)) continue;
            const int32_t reach = static_cast<int32_t>(r);
            const float step = static_cast<float>(1.5707963705062866 / (double{r} + 1.0));
            float angle = 0.0f;
            for (int32_t yy = std::max(0, y - reach); yy <= std::min(f.height - 1, y + reach); ++yy) {
                angle = static_cast<float>(double{angle} + double{step});
                const auto hw = static_cast<int32_t>(double{r} * std::sin(double{angle}));
                for (int32_t xx = std::max(0, x - hw); xx <= std::min(f.width - 1, x + hw); ++xx) {
                    const std::size_t j = f.At(xx, yy);
                    bool full = true;
                    switch (s.FilterInclude) {
                        case 0: full = f.alpha[j] != 0; break;
                        case 1:
                            if (f.alpha[j] != 0) continue;
                            break;
                        case 2: full = f.shadow[j] != 0; break;
                        case 4: full = InColorRange(s, f.red[j], f.green[j], f.blue[j]); break;
                        default: break;
                    }
                    if (full) {
                        sr[j] += f.red[i];
                        sg[j] += f.green[i];
                        sb[j] += f.blue[i];
                    } else {
                        sr[j] += (f.red[j] + f.red[i]) / 2;
                        sg[j] += (f.green[j] + f.green[i]) / 2;
                        sb[j] += (f.blue[j] + f.blue[i]) / 2;
                    }
                    hits[j] += 1;
                }
            }
        }
    }
    auto byte = [](int64_t q) { return static_cast<uint8_t>(std::clamp<int64_t>(q, 0, 255)); };
    for (std::size_t i = 0; i < n; ++i) {
        f.red[i] = byte(sr[i] / hits[i]);
        f.green[i] = byte(sg[i] / hits[i]);
        f.blue[i] = byte(sb[i] / hits[i]);
    }
}

// The softer blur written out the slow, obvious way, in the order of the
// spreading pixels: every single-precision sum is rounded after each
// addition, so this order is part of the result.
void SofterBlur(TestFrame& f, const FilterSettings& s, float r) {
    const std::size_t n = f.red.size();
    std::vector<float> sr(n), sg(n), sb(n), ws(n, 1.0f);
    for (std::size_t i = 0; i < n; ++i) {
        sr[i] = f.red[i];
        sg[i] = f.green[i];
        sb[i] = f.blue[i];
    }
    for (int32_t y = 0; y < f.height; ++y) {
        for (int32_t x = 0; x < f.width; ++x) {
            const std::size_t i = f.At(x, y);
            if (!PixelSelected(s, f.alpha[i], f.shadow[i], f.red[i], f.green[i], f.blue[i]) || !(r > 0.0f)) {
                continue;
            }
            // Radii beyond the frame reach its last row (and, below, its
            // last column); an infinite one gives rows of no width.
            const int32_t reach = r >= f.height ? f.height : static_cast<int32_t>(r);
            const float step = static_cast<float>(1.5707950592041016 / (double{r} + 1.0));
            float angle = 0.0f;
            for (int32_t yy = std::max(0, y - reach); yy <= std::min(f.height - 1, y + reach); ++yy) {
                angle = static_cast<float>(double{angle} + double{step});
                const double hwReal = double{r} * std::sin(double{angle});
                const auto hw = std::isnan(hwReal)  ? 0
                                : hwReal >= f.width ? f.width
                                                    : static_cast<int32_t>(hwReal);
                for (int32_t xx = std::max(0, x - hw); xx <= std::min(f.width - 1, x + hw); ++xx) {
                    const double d = std::sqrt(double((x - xx) * (x - xx) + (y - yy) * (y - yy)));
                    if (double{r} - d <= 0.0) continue;
                    const float w = static_cast<float>(double{r} - d);
                    const std::size_t j = f.At(xx, yy);
                    bool full = true;
                    switch (s.FilterInclude) {
                        case 0: full = f.alpha[j] != 0; break;
                        case 1:
                            if (f.alpha[j] != 0) continue;
                            break;
                        case 2: full = f.shadow[j] != 0; break;
                        case 4: full = InColorRange(s, f.red[j], f.green[j], f.blue[j]); break;
                        default: break;
                    }
                    if (full) {
                        sr[j] = static_cast<float>(sr[j] + f.red[i] * double{w});
                        sg[j] = static_cast<float>(sg[j] + f.green[i] * double{w});
                        sb[j] = static_cast<float>(sb[j] + f.blue[i] * double{w});
                    } else {
                        const double t = double{w} / double{r};
                        sr[j] = static_cast<float>(sr[j] + w * (t * f.red[i] + (1 - t) * f.red[j]));
                        sg[j] = static_cast<float>(sg[j] + w * (t * f.green[i] + (1 - t) * f.green[j]));
                        sb[j] = static_cast<float>(sb[j] + w * (t * f.blue[i] + (1 - t) * f.blue[j]));
                    }
                    ws[j] = static_cast<float>(ws[j] + double{w});
                }
            }
        }
    }
    auto byte = [](double v) {
        if (v <= 0.0) return uint8_t{0};
        if (v >= 255.0) return uint8_t{255};
        return static_cast<uint8_t>(v);
    };
    for (std::size_t i = 0; i < n; ++i) {
        f.red[i] = byte(double{sr[i]} / ws[i]);
        f.green[i] = byte(double{sg[i]} / ws[i]);
        f.blue[i] = byte(double{sb[i]} / ws[i]);
    }
}

}  // namespace lumafex::reference

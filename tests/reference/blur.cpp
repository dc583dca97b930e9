#include "reference/blur.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "pipeline/frame/selection.h"
#include "reference/sums.h"

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

namespace {

enum class Take { Whole, Mixed, Nothing };

// How pixel j takes what a selected pixel hands out: whole where it is
// selected itself, mixed half and half with its own colour where not, and
// nothing in the background-only mode where it is an object.
Take Receives(const FilterSettings& s, const TestFrame& f, std::size_t j) {
    switch (s.FilterInclude) {
        case 0: return f.alpha[j] != 0 ? Take::Whole : Take::Mixed;
        case 1: return f.alpha[j] != 0 ? Take::Nothing : Take::Whole;
        case 2: return f.shadow[j] != 0 ? Take::Whole : Take::Mixed;
        case 4: return InColorRange(s, f.red[j], f.green[j], f.blue[j]) ? Take::Whole : Take::Mixed;
        default: return Take::Whole;
    }
}

}  // namespace

// The blur written out the slow, obvious way: every selected pixel visits
// its footprint row by row and hands out its contributions.
void Blur(TestFrame& f, const FilterSettings& s, float r) {
    ColourSums<int64_t> sums(f);
    auto& [sr, sg, sb, hits] = sums;
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
                    const Take take = Receives(s, f, j);
                    if (take == Take::Nothing) continue;
                    const bool full = take == Take::Whole;
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
    WriteBack(sums, f);
}

// The softer blur written out the slow, obvious way, in the order of the
// spreading pixels: every single-precision sum is rounded after each
// addition, so this order is part of the result.
void SofterBlur(TestFrame& f, const FilterSettings& s, float r) {
    ColourSums<float> sums(f);
    auto& [sr, sg, sb, ws] = sums;
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
                    const Take take = Receives(s, f, j);
                    if (take == Take::Nothing) continue;
                    const bool full = take == Take::Whole;
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
    WriteBack(sums, f);
}

}  // namespace lumafex::reference

#include "reference/depth_of_field.h"

#include <algorithm>
#include <cmath>

#include "pipeline/frame/selection.h"
#include "reference/sums.h"

namespace lumafex::reference {

Scene RandomScene(int32_t w, int32_t h, uint32_t seed) {
    Scene sc{TestFrame(w, h), DepthMap(w, h, 0.0f)};
    sc.frame.FillPattern(seed);
    uint32_t state = seed * 2654435761u + 1;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            state = state * 1103515245u + 12345u;
            const float u = static_cast<float>((state >> 8) & 0xffff) / 65536.0f;
            float d = 97.0f + 6.0f * u;
            if ((x / 4 + y / 3) % 2 == 0) d = std::round(d * 4.0f) / 4.0f;
            sc.depth.At(x, y) = d;
            const std::size_t i = sc.frame.At(x, y);
            if ((x / 5 + y / 4 + static_cast<int32_t>(seed)) % 3 == 0) sc.frame.alpha[i] = 0;
            if (x % 7 == 0) sc.frame.blue[i] = 220;
        }
    }
    return sc;
}

namespace {

// The blur radius at depth d: growing with the distance beyond the focal
// range on either side, up to the limit.
float BlurAtDepth(const FrameParameters& p, float d) {
    float b = 0.0f;
    if (d >= p.FocalFar) {
        b = static_cast<float>((double{d} - p.FocalFar) * p.DOFBlurAmount);
    } else if (d < p.FocalNear) {
        b = static_cast<float>((double{p.FocalNear} - d) * p.DOFBlurAmount);
    }
    return std::max(std::min(b, p.MaxDOFBlur), 0.0f);
}

}  // namespace

void DepthOfField(TestFrame& f, const DepthMap& depth, const FilterSettings& s, const FrameParameters& p) {
    ColourSums<int64_t> sums(f);
    auto& [sr, sg, sb, hits] = sums;
    auto blur = [&](float d) { return BlurAtDepth(p, d); };
    auto depthAt = [&](int32_t x, int32_t y) { return depth.values[f.At(x, y)]; };
    for (int32_t y = 0; y < f.height; ++y) {
        for (int32_t x = 0; x < f.width; ++x) {
            const std::size_t c = f.At(x, y);
            if (!PixelSelected(s, f.alpha[c], f.shadow[c], f.red[c], f.green[c], f.blue[c])) {
                continue;
            }
            const float dc = depthAt(x, y);
            const float bc = blur(dc);
            if (bc <= 0.0f) continue;
            const int32_t reach = static_cast<int32_t>(bc);
            const float step = static_cast<float>(1.5707950592041016 / (double{bc} + 1.0));
            float angle = 0.0f;
            for (int32_t yy = std::max(y - reach, 0); yy <= std::min(y + reach, f.height - 1); ++yy) {
                angle = static_cast<float>(double{angle} + double{step});
                const auto hw = static_cast<int32_t>(std::sin(double{angle}) * double{bc});
                for (int32_t xx = std::max(x - hw, 0); xx <= std::min(x + hw, f.width - 1); ++xx) {
                    const std::size_t j = f.At(xx, yy);
                    const float dn = depthAt(xx, yy);
                    if (double{dn} + double{p.DOFSeperator} < double{dc}) continue;
                    float bn = 0.0f;
                    if (s.FilterInclude == kIncludeFullFrame) {
                        if (dn >= p.FocalFar) {
                            if (p.DOFBlurSide == 1) continue;
                            bn = blur(dn);
                        } else if (dn < p.FocalNear) {
                            if (p.DOFBlurSide == 2) continue;
                            bn = blur(dn);
                        }
                    } else if (PixelSelected(s, f.alpha[j], f.shadow[j], f.red[j], f.green[j], f.blue[j])) {
                        bn = blur(dn);
                    }
                    const float t = static_cast<float>(double{std::min(bc, bn)} / double{std::max(bc, bn)});
                    const float u = static_cast<float>(1.0 - double{t});
                    sr[j] += static_cast<int64_t>(f.red[c] * double{t} + f.red[j] * double{u});
                    sg[j] += static_cast<int64_t>(f.green[c] * double{t} + f.green[j] * double{u});
                    sb[j] += static_cast<int64_t>(f.blue[c] * double{t} + f.blue[j] * double{u});
                    hits[j] += 1;
                }
            }
        }
    }
    WriteBack(sums, f);
}

void SofterDepthOfField(TestFrame& f, const DepthMap& depth, const FilterSettings& s,
                        const FrameParameters& p) {
    ColourSums<float> sums(f);
    auto& [sr, sg, sb, ws] = sums;
    auto blur = [&](float d) { return BlurAtDepth(p, d); };
    for (int32_t y = 0; y < f.height; ++y) {
        for (int32_t x = 0; x < f.width; ++x) {
            const std::size_t c = f.At(x, y);
            if (!PixelSelected(s, f.alpha[c], f.shadow[c], f.red[c], f.green[c], f.blue[c])) {
                continue;
            }
            const float dc = depth.values[c];
            const float bc = blur(dc);
            if (bc <= 0.0f) continue;
            const int32_t reach = static_cast<int32_t>(bc);
            const float step = static_cast<float>(1.5707950592041016 / (double{bc} + 1.0));
            float angle = 0.0f;
            for (int32_t yy = std::max(y - reach, 0); yy <= std::min(y + reach, f.height - 1); ++yy) {
                angle = static_cast<float>(double{angle} + double{step});
                const auto hw = static_cast<int32_t>(std::sin(double{angle}) * double{bc});
                for (int32_t xx = std::max(x - hw, 0); xx <= std::min(x + hw, f.width - 1); ++xx) {
                    const std::size_t j = f.At(xx, yy);
                    const float dn = depth.values[j];
                    if (double{dn} + double{p.DOFSeperator} < double{dc}) continue;
                    const double dist = std::sqrt(double((y - yy) * (y - yy)) + double((x - xx) * (x - xx)));
                    const float w = static_cast<float>(double{bc} - dist);
                    if (w <= 0.0f) continue;
                    const float bn = blur(dn);
                    const float t = static_cast<float>(double{std::min(bc, bn)} / double{std::max(bc, bn)});
                    float a = t;
                    if (s.FilterInclude == kIncludeObjects) {
                        a = static_cast<float>(std::min(1.0, double{t} * double{w}));
                    }
                    const float b = static_cast<float>(1.0 - double{a});
                    auto mix = [&](const std::vector<uint8_t>& plane) {
                        return (plane[c] * double{a} + plane[j] * double{b}) * w;
                    };
                    sr[j] = static_cast<float>(sr[j] + mix(f.red));
                    sg[j] = static_cast<float>(sg[j] + mix(f.green));
                    sb[j] = static_cast<float>(sb[j] + mix(f.blue));
                    ws[j] = static_cast<float>(ws[j] + double{w});
                }
            }
        }
    }
    WriteBack(sums, f);
}

}  // namespace lumafex::reference

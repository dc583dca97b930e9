#include "reference/enhance_antialias.h"

#include <cstdlib>
#include <vector>

#include "pipeline/frame/selection.h"

namespace lumafex::reference {

using testing::TestFrame;

void EnhanceAndAntialias(TestFrame& f, const FilterSettings& s, const FrameParameters& p) {
    if (f.height <= 3) return;
    auto limit = [](double v) { return v > 255 ? 255 : (v < 0 ? 0 : static_cast<int>(v)); };
    for (int32_t pass = 1; pass <= s.Passes; ++pass) {
        TestFrame result = f;
        for (int32_t y = 2; y <= f.height - 2; ++y) {
            if (s.SharpenFlag) {
                const TestFrame row = f;
                for (int32_t x = 1; x < f.width; ++x) {
                    const std::size_t i = f.At(x, y);
                    if (!PixelSelected(s, f.alpha[i], f.shadow[i], row.red[i], row.green[i], row.blue[i]))
                        continue;
                    for (auto plane : {&TestFrame::red, &TestFrame::green, &TestFrame::blue}) {
                        const int v = (row.*plane)[i], w = (row.*plane)[i - 1];
                        (f.*plane)[i] =
                            static_cast<uint8_t>(limit((v - w) * static_cast<double>(p.EnhanceAmount) + v));
                    }
                }
            }
            if (!s.SmoothFlag) continue;
            for (int32_t x = 1; x < f.width - 1; ++x) {
                const std::size_t i = f.At(x, y);
                int v[3] = {f.red[i], f.green[i], f.blue[i]};
                bool edge = false;
                if (PixelSelected(s, f.alpha[i], f.shadow[i], f.red[i], f.green[i], f.blue[i])) {
                    std::vector<std::size_t> n = {f.At(x - 1, y), f.At(x + 1, y)};
                    if (p.FieldRendering != 8) {
                        n.push_back(f.At(x, y - 1));
                        n.push_back(f.At(x, y + 1));
                    }
                    for (std::size_t j : n) {
                        const int u[3] = {f.red[j], f.green[j], f.blue[j]};
                        for (int c = 0; c < 3; ++c) {
                            const int d = u[c] - v[c];
                            if (std::abs(d) < p.AntialiasThreshold) continue;
                            if (p.AntialiasAmount == 0.0f)
                                edge = true;
                            else
                                v[c] = limit(d * static_cast<double>(p.AntialiasAmount) + v[c]);
                        }
                    }
                }
                result.red[i] = static_cast<uint8_t>(edge ? 255 : v[0]);
                result.green[i] = static_cast<uint8_t>(edge ? 255 : v[1]);
                result.blue[i] = static_cast<uint8_t>(edge ? 255 : v[2]);
            }
        }
        if (s.SmoothFlag) {
            for (int32_t y = 2; y <= f.height - 2; ++y) {
                for (int32_t x = 1; x < f.width - 1; ++x) {
                    const std::size_t i = f.At(x, y);
                    f.red[i] = result.red[i];
                    f.green[i] = result.green[i];
                    f.blue[i] = result.blue[i];
                }
            }
        }
    }
}

}  // namespace lumafex::reference

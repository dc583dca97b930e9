#include "pictures/pictures.h"

#include "ui/depth_colours.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace lumafex::tool {

namespace {

// 3x5 glyphs, one row a value, the high bit of three the left pixel.
struct Glyph {
    char c;
    uint8_t rows[5];
};
constexpr Glyph kGlyphs[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 2, 2, 2}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'A', {2, 5, 7, 5, 5}}, {'B', {6, 5, 6, 5, 6}},
    {'C', {7, 4, 4, 4, 7}}, {'D', {6, 5, 5, 5, 6}}, {'E', {7, 4, 6, 4, 7}}, {'F', {7, 4, 6, 4, 4}},
    {'G', {7, 4, 5, 5, 7}}, {'H', {5, 5, 7, 5, 5}}, {'I', {7, 2, 2, 2, 7}}, {'J', {1, 1, 1, 5, 7}},
    {'K', {5, 5, 6, 5, 5}}, {'L', {4, 4, 4, 4, 7}}, {'M', {5, 7, 7, 5, 5}}, {'N', {6, 5, 5, 5, 5}},
    {'O', {7, 5, 5, 5, 7}}, {'P', {7, 5, 7, 4, 4}}, {'Q', {7, 5, 5, 7, 1}}, {'R', {6, 5, 6, 5, 5}},
    {'S', {7, 4, 7, 1, 7}}, {'T', {7, 2, 2, 2, 2}}, {'U', {5, 5, 5, 5, 7}}, {'V', {5, 5, 5, 5, 2}},
    {'W', {5, 5, 7, 7, 5}}, {'X', {5, 5, 2, 5, 5}}, {'Y', {5, 5, 2, 2, 2}}, {'Z', {7, 1, 2, 4, 7}},
    {'%', {5, 1, 2, 4, 5}}, {'-', {0, 0, 7, 0, 0}}, {'.', {0, 0, 0, 0, 2}},
};

const Glyph* Find(char c) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& g : kGlyphs) {
        if (g.c == upper) return &g;
    }
    return nullptr;
}

std::size_t At(const ColourImage& image, int32_t x, int32_t y) {
    return PixelCount(image.width, y) + static_cast<std::size_t>(x);
}

}  // namespace

ColourImage Blank(int32_t width, int32_t height, uint8_t grey) {
    ColourImage sheet;
    sheet.Resize(width, height);
    std::fill(sheet.red.begin(), sheet.red.end(), grey);
    std::fill(sheet.green.begin(), sheet.green.end(), grey);
    std::fill(sheet.blue.begin(), sheet.blue.end(), grey);
    return sheet;
}

ColourImage Shrunk(const ColourImage& image, int32_t factor) {
    ColourImage out;
    out.Resize(std::max(1, image.width / factor), std::max(1, image.height / factor));
    const uint32_t area = static_cast<uint32_t>(factor * factor);
    for (int32_t y = 0; y < out.height; ++y) {
        for (int32_t x = 0; x < out.width; ++x) {
            uint32_t sum[4] = {0, 0, 0, 0};
            for (int32_t dy = 0; dy < factor; ++dy) {
                for (int32_t dx = 0; dx < factor; ++dx) {
                    const std::size_t i = At(image, std::min(image.width - 1, x * factor + dx),
                                             std::min(image.height - 1, y * factor + dy));
                    sum[0] += image.red[i];
                    sum[1] += image.green[i];
                    sum[2] += image.blue[i];
                    sum[3] += image.alpha[i];
                }
            }
            const std::size_t o = At(out, x, y);
            out.red[o] = static_cast<uint8_t>(sum[0] / area);
            out.green[o] = static_cast<uint8_t>(sum[1] / area);
            out.blue[o] = static_cast<uint8_t>(sum[2] / area);
            out.alpha[o] = static_cast<uint8_t>(sum[3] / area);
        }
    }
    return out;
}

ColourImage OverCheckerboard(const ColourImage& image, int32_t cell) {
    ColourImage out = image;
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            const std::size_t i = At(image, x, y);
            const unsigned bg = ((x / cell) + (y / cell)) % 2 == 0 ? 102 : 153;
            const unsigned a = image.alpha[i];
            auto over = [&](uint8_t c) {
                return static_cast<uint8_t>((c * a + bg * (255 - a) + 127) / 255);
            };
            out.red[i] = over(image.red[i]);
            out.green[i] = over(image.green[i]);
            out.blue[i] = over(image.blue[i]);
            out.alpha[i] = 255;
        }
    }
    return out;
}

ColourImage DepthInFalseColour(const DepthImage& depth, const ColourImage* frame) {
    ColourImage out;
    out.Resize(depth.width, depth.height);
    const uint8_t* alpha =
        frame != nullptr && frame->alpha.size() == depth.value.size() ? frame->alpha.data() : nullptr;
    const ui::DepthRange range = ui::FindDepthRange(depth.value.data(), alpha, depth.value.size());
    for (std::size_t i = 0; i < depth.value.size(); ++i) {
        const bool background = alpha != nullptr && alpha[i] == 0;
        const std::optional<ui::DepthColour> c =
            background ? std::nullopt : ui::ColourOfDepth(depth.value[i], range);
        const ui::DepthColour shown = c.value_or(ui::kNoDepthColour);
        out.red[i] = shown.red;
        out.green[i] = shown.green;
        out.blue[i] = shown.blue;
    }
    return out;
}

void Paste(ColourImage& sheet, const ColourImage& image, int32_t x0, int32_t y0) {
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            if (x0 + x < 0 || y0 + y < 0 || x0 + x >= sheet.width || y0 + y >= sheet.height)
                continue;
            const std::size_t i = At(image, x, y), o = At(sheet, x0 + x, y0 + y);
            sheet.red[o] = image.red[i];
            sheet.green[o] = image.green[i];
            sheet.blue[o] = image.blue[i];
            sheet.alpha[o] = image.alpha[i];
        }
    }
}

int32_t LabelWidth(const std::string& text, int32_t scale) {
    return static_cast<int32_t>(text.size()) * 4 * scale;
}

void Label(ColourImage& sheet, const std::string& text, int32_t x0, int32_t y0, int32_t scale,
           uint8_t grey) {
    for (std::size_t n = 0; n < text.size(); ++n) {
        const Glyph* g = Find(text[n]);
        if (g == nullptr) continue;
        for (int32_t row = 0; row < 5; ++row) {
            for (int32_t col = 0; col < 3; ++col) {
                if ((g->rows[row] & (4 >> col)) == 0) continue;
                for (int32_t dy = 0; dy < scale; ++dy) {
                    for (int32_t dx = 0; dx < scale; ++dx) {
                        const int32_t x = x0 + (static_cast<int32_t>(n) * 4 + col) * scale + dx;
                        const int32_t y = y0 + row * scale + dy;
                        if (x < 0 || y < 0 || x >= sheet.width || y >= sheet.height) continue;
                        const std::size_t o = At(sheet, x, y);
                        sheet.red[o] = sheet.green[o] = sheet.blue[o] = grey;
                    }
                }
            }
        }
    }
}

}  // namespace lumafex::tool

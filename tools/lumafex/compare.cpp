#include "compare.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <stdexcept>

#include "file_identity.h"
#include "frame_io.h"
#include "image_io.h"
#include "pictures.h"

namespace lumafex::tool {

namespace {

// Refuses, before anything is read or written, an output that is one of
// the inputs, however it is spelt (a link, "./", a hard link).
void RefuseOutputOntoInputs(const std::string& command, const std::string& output,
                            const std::vector<std::string>& inputs) {
    const std::string target = FileIdentity(output);
    for (const std::string& input : inputs) {
        if (FileIdentity(input) == target) {
            throw std::runtime_error(command + ": the output " + output +
                                     " would overwrite the input " + input);
        }
    }
}

// An item of montage: "path" or "path=label". A name that is an existing
// file is a file without a label, "=" and all; else the label follows the
// last "=".
std::pair<std::string, std::string> SplitItem(const std::string& item) {
    std::error_code ec;
    const std::size_t eq = item.rfind('=');
    if (eq == std::string::npos || std::filesystem::exists(item, ec)) return {item, ""};
    return {item.substr(0, eq), item.substr(eq + 1)};
}

// Refuses a montage of count cells of cellW x cellH in cols columns that
// would be larger than this program writes or than the memory limit
// allows for one image, before its canvas is allocated. Checked as the
// images are read, so the size named is that of the images read so far.
void CheckMontageSize(const std::string& output, int64_t count, int64_t cols, int64_t cellW,
                      int64_t cellH, int64_t gap, int64_t textHeight) {
    const int64_t rows = (count + cols - 1) / cols;
    const int64_t width = cols * (cellW + gap) + gap;
    const int64_t height = rows * (cellH + textHeight + gap) + gap;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string fit = "; use fewer --columns, a smaller --width or fewer images";
    if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels) {
        throw ImageError(output + ": the montage would be at least " + size +
                         " pixels, larger than this program writes (" +
                         std::to_string(kMaxImageSide) + " pixels a side, " +
                         std::to_string(kMaxImagePixels >> 20) + " megapixels)" + fit);
    }
    if (static_cast<uint64_t>(width * height) * 4 > MemoryBudget()) {
        throw ImageError(output + ": the montage of at least " + size +
                         " pixels would need more memory than the limit of " +
                         std::to_string(MemoryBudget() >> 20) + " MB (see --memory-limit)" + fit);
    }
}

}  // namespace

Comparison CompareImages(const ColourImage& a, const ColourImage& b) {
    if (a.width != b.width || a.height != b.height) {
        throw ImageError("the images differ in size: " + std::to_string(a.width) + "x" +
                         std::to_string(a.height) + " and " + std::to_string(b.width) + "x" +
                         std::to_string(b.height));
    }
    Comparison c;
    c.left = a.width;
    c.top = a.height;
    for (int32_t y = 0; y < a.height; ++y) {
        for (int32_t x = 0; x < a.width; ++x) {
            const std::size_t i = PixelCount(a.width, y) + static_cast<std::size_t>(x);
            const int d =
                std::max({std::abs(a.red[i] - b.red[i]), std::abs(a.green[i] - b.green[i]),
                          std::abs(a.blue[i] - b.blue[i]), std::abs(a.alpha[i] - b.alpha[i])});
            if (d == 0) continue;
            ++c.differing;
            c.left = std::min(c.left, x);
            c.top = std::min(c.top, y);
            c.right = std::max(c.right, x);
            c.bottom = std::max(c.bottom, y);
            if (d > c.largest) {
                c.largest = d;
                c.worstX = x;
                c.worstY = y;
            }
        }
    }
    if (c.differing == 0) c.left = c.top = 0;
    return c;
}

ColourImage DifferenceImage(const ColourImage& a, const ColourImage& b,
                            const Comparison& comparison) {
    ColourImage out;
    out.Resize(a.width, a.height);
    for (std::size_t i = 0; i < a.red.size(); ++i) {
        const int d =
            std::max({std::abs(a.red[i] - b.red[i]), std::abs(a.green[i] - b.green[i]),
                      std::abs(a.blue[i] - b.blue[i]), std::abs(a.alpha[i] - b.alpha[i])});
        const auto grey = static_cast<uint8_t>((a.red[i] * 2 + a.green[i] * 5 + a.blue[i]) / 32);
        if (d == 0) {
            out.red[i] = out.green[i] = out.blue[i] = grey;
        } else {
            out.red[i] = static_cast<uint8_t>(96 + 159 * d / comparison.largest);
            out.green[i] = out.blue[i] = 0;
        }
    }
    return out;
}

int CompareFiles(const std::string& pathA, const std::string& pathB, const std::string& diffPath) {
    if (!diffPath.empty()) RefuseOutputOntoInputs("compare", diffPath, {pathA, pathB});
    // Both as the module would see them: colour by the default rules, in
    // the default working space.
    const ColourImage a = ReadFrameColour(pathA, ColourRequest{}).image;
    const ColourImage b = ReadFrameColour(pathB, ColourRequest{}).image;
    Comparison c;
    try {
        c = CompareImages(a, b);
    } catch (const ImageError& e) {
        throw ImageError(pathA + ", " + pathB + ": " + e.what());
    }
    if (c.differing == 0) {
        std::printf("identical: %dx%d, every byte the same\n", a.width, a.height);
    } else {
        std::printf(
            "differ: %zu of %zu pixels, largest difference %d of 255 at (%d, %d), "
            "all within x %d..%d, y %d..%d\n",
            c.differing, PixelCount(a.width, a.height), c.largest, c.worstX, c.worstY, c.left,
            c.right, c.top, c.bottom);
    }
    if (!diffPath.empty()) {
        WriteOutput(diffPath, DifferenceImage(a, b, c));
        std::printf("difference image: %s\n", diffPath.c_str());
    }
    return c.differing == 0 ? 0 : kExitDiffers;
}

void WriteMontage(const std::string& output, const std::vector<std::string>& items,
                  const std::vector<std::string>& givenLabels, int columns, int tileWidth) {
    if (items.empty()) throw std::invalid_argument("montage: no images");
    if (columns < 1 || tileWidth < 16)
        throw std::invalid_argument("montage: columns must be 1 or more, width 16 or more");
    if (givenLabels.size() > items.size()) {
        throw std::invalid_argument("montage: " + std::to_string(givenLabels.size()) +
                                    " labels for " + std::to_string(items.size()) + " images");
    }
    // With --label every item is a file name as it stands.
    std::vector<std::string> paths, labels;
    for (std::size_t n = 0; n < items.size(); ++n) {
        const auto [path, label] =
            givenLabels.empty() ? SplitItem(items[n]) : std::pair{items[n], std::string()};
        paths.push_back(path);
        labels.push_back(n < givenLabels.size() ? givenLabels[n] : label);
    }
    RefuseOutputOntoInputs("montage", output, paths);
    constexpr int32_t kGap = 8, kText = 2, kTextHeight = 5 * kText + 6;
    std::vector<ColourImage> tiles;
    int32_t cellW = 0, cellH = 0;
    for (const std::string& path : paths) {
        const ColourImage image = ReadFrameColour(path, ColourRequest{}).image;
        const auto factor = static_cast<int32_t>(
            std::max<int64_t>(1, (int64_t{image.width} + tileWidth - 1) / tileWidth));
        const int32_t tileW = std::max(1, image.width / factor),
                      tileH = std::max(1, image.height / factor);
        // The canvas grows with every tile: refused before the tiles kept
        // so far (never more than it holds) or the canvas outgrow it.
        const auto count = static_cast<int64_t>(tiles.size()) + 1;
        CheckMontageSize(output, count, std::min<int64_t>(columns, count), std::max(cellW, tileW),
                         std::max(cellH, tileH), kGap, kTextHeight);
        tiles.push_back(OverCheckerboard(factor > 1 ? Shrunk(image, factor) : image, 8));
        cellW = std::max(cellW, tiles.back().width);
        cellH = std::max(cellH, tiles.back().height);
    }
    const auto count = static_cast<int32_t>(tiles.size());
    const int32_t cols = std::min<int32_t>(columns, count);
    const int32_t rows = (count + cols - 1) / cols;
    ColourImage sheet =
        Blank(cols * (cellW + kGap) + kGap, rows * (cellH + kTextHeight + kGap) + kGap, 32);
    for (int32_t n = 0; n < count; ++n) {
        const int32_t x = kGap + (n % cols) * (cellW + kGap),
                      y = kGap + (n / cols) * (cellH + kTextHeight + kGap);
        Label(sheet, labels[static_cast<std::size_t>(n)], x, y, kText, 230);
        Paste(sheet, tiles[static_cast<std::size_t>(n)], x, y + kTextHeight);
    }
    WriteOutput(output, sheet);
}

}  // namespace lumafex::tool

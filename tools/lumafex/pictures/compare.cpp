#include "pictures/compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <utility>
#include <stdexcept>

#include "image_files/file_identity.h"
#include "image_files/frame_io.h"
#include "image_files/image_io.h"
#include "image_files/stored_values.h"
#include "pictures/pictures.h"

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

// How far apart two stored values are: NaN matches only NaN, and an
// infinity only the same infinity; any other mismatch of them is an
// infinite error.
double ValueError(float a, float b) {
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b) ? 0 : std::numeric_limits<double>::infinity();
    if (a == b) return 0;
    return std::fabs(static_cast<double>(a) - static_cast<double>(b));
}

std::string WindowText(const StoredChannel& c) {
    std::string text = std::to_string(c.width) + "x" + std::to_string(c.height);
    if (c.x != 0 || c.y != 0) text += " at (" + std::to_string(c.x) + ", " + std::to_string(c.y) + ")";
    return text;
}

std::map<std::string, const StoredChannel*> ByName(const std::vector<StoredChannel>& channels,
                                                   const char* which) {
    std::map<std::string, const StoredChannel*> named;
    for (const StoredChannel& c : channels) {
        if (!named.emplace(c.name, &c).second)
            throw ImageError(std::string(which) + " has two channels named " + c.name +
                             ", so they cannot be compared by name");
    }
    return named;
}

std::string NamesOnlyIn(const std::map<std::string, const StoredChannel*>& these,
                        const std::map<std::string, const StoredChannel*>& others) {
    std::string names;
    for (const auto& [name, channel] : these) {
        if (others.count(name) == 0) names += (names.empty() ? "" : ", ") + name;
    }
    return names.empty() ? "none" : names;
}

// The report of a comparison of stored values; returns the exit status.
int ReportValues(const ValueComparison& c, const StoredChannel& first, const Thresholds& limits) {
    if (c.differing == 0) {
        std::printf("identical: %zu channels of %s, every stored value the same\n", c.channels,
                    WindowText(first).c_str());
        return 0;
    }
    const auto share = [&](std::size_t n) { return 100.0 * static_cast<double>(n) / static_cast<double>(c.values); };
    std::printf("differ: %zu of %zu stored values (%zu channels of %s, compared by name)\n",
                c.differing, c.values, c.channels, WindowText(first).c_str());
    std::printf("largest error %.9g at (%d, %d) in %s: %.9g and %.9g\n", c.largest, c.worstX,
                c.worstY, c.worstChannel.c_str(), static_cast<double>(c.worstA),
                static_cast<double>(c.worstB));
    std::printf("above the warning threshold %g: %zu values (%.4g%%); above the failure threshold "
                "%g: %zu values (%.4g%%)\n",
                limits.warn, c.aboveWarn, share(c.aboveWarn), limits.fail, c.aboveFail,
                share(c.aboveFail));
    if (c.infinite == 0) {
        const double rms = std::sqrt(c.sumSquares / static_cast<double>(c.values));
        std::printf("RMS error %.6g, PSNR %.2f dB (peak 1.0)\n", rms, 20.0 * std::log10(1.0 / rms));
    } else {
        std::printf("RMS error and PSNR: none (%zu values NaN or infinite in one file and not the "
                    "other)\n",
                    c.infinite);
    }
    if (c.failed) {
        if (c.largest > limits.hardFail) {
            std::printf("FAIL: an error of %.9g is above the hard failure threshold %g\n", c.largest,
                        limits.hardFail);
        } else {
            std::printf("FAIL: %.4g%% of the values differ by more than %g (at most %g%% may)\n",
                        share(c.aboveFail), limits.fail, limits.failPercent);
        }
        return kExitDiffers;
    }
    std::printf(c.warned ? "WARNING: within the failure thresholds, but above the warning threshold\n"
                         : "PASS: within the thresholds\n");
    return 0;
}

// The difference image of stored values: the first image's colour (as the
// module would see it) dimmed to grey where it can be read at the size of
// the first channel, else black, with each differing pixel in red.
ColourImage ValueDifferenceImage(const std::string& pathA, const StoredChannel& first,
                                 const ValueComparison& c) {
    ColourImage out;
    out.Resize(first.width, first.height);
    try {
        const ColourImage a = ReadFrameColour(pathA, ColourRequest{}).image;
        if (a.width == first.width && a.height == first.height) {
            for (std::size_t i = 0; i < a.red.size(); ++i)
                out.red[i] = out.green[i] = out.blue[i] =
                    static_cast<uint8_t>((a.red[i] * 2 + a.green[i] * 5 + a.blue[i]) / 32);
        }
    } catch (const ImageError&) {
        // No colour to show: the background stays black.
    }
    float finiteLargest = 0;
    for (const float e : c.pixelErrors) {
        if (std::isfinite(e)) finiteLargest = std::max(finiteLargest, e);
    }
    for (std::size_t i = 0; i < c.pixelErrors.size(); ++i) {
        const float e = c.pixelErrors[i];
        if (e == 0) continue;
        out.red[i] = std::isfinite(e) && finiteLargest > 0
                         ? static_cast<uint8_t>(96 + std::lround(159 * (e / finiteLargest)))
                         : 255;
        out.green[i] = out.blue[i] = 0;
    }
    out.alpha.assign(out.alpha.size(), 255);
    return out;
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

ValueComparison CompareValues(const std::vector<StoredChannel>& a,
                              const std::vector<StoredChannel>& b, const Thresholds& limits,
                              bool pixelErrors) {
    const auto namedA = ByName(a, "the first image"), namedB = ByName(b, "the second image");
    if (namedA.size() != namedB.size() ||
        !std::equal(namedA.begin(), namedA.end(), namedB.begin(),
                    [](const auto& x, const auto& y) { return x.first == y.first; })) {
        throw ImageError("the images have different channels: only in the first: " +
                         NamesOnlyIn(namedA, namedB) +
                         "; only in the second: " + NamesOnlyIn(namedB, namedA));
    }
    ValueComparison c;
    if (a.empty()) return c;
    const StoredChannel& first = a.front();
    if (pixelErrors) c.pixelErrors.assign(first.values.size(), 0.0f);
    c.largest = -1;
    for (const StoredChannel& ca : a) {
        const StoredChannel& cb = *namedB.at(ca.name);
        if (ca.x != cb.x || ca.y != cb.y || ca.width != cb.width || ca.height != cb.height) {
            throw ImageError("the images differ in size: " + ca.name + " is " + WindowText(ca) +
                             " and " + WindowText(cb));
        }
        const bool mapped = pixelErrors && ca.x == first.x && ca.y == first.y && ca.width == first.width &&
                            ca.height == first.height;
        ++c.channels;
        for (std::size_t i = 0; i < ca.values.size(); ++i) {
            const double e = ValueError(ca.values[i], cb.values[i]);
            ++c.values;
            if (e > c.largest) {
                c.largest = e;
                c.worstChannel = ca.name;
                c.worstX = ca.x + static_cast<int32_t>(i % static_cast<std::size_t>(ca.width));
                c.worstY = ca.y + static_cast<int32_t>(i / static_cast<std::size_t>(ca.width));
                c.worstA = ca.values[i];
                c.worstB = cb.values[i];
            }
            if (e == 0) continue;
            ++c.differing;
            if (e > limits.warn) ++c.aboveWarn;
            if (e > limits.fail) ++c.aboveFail;
            if (std::isfinite(e)) {
                c.sumSquares += e * e;
            } else {
                ++c.infinite;
            }
            if (mapped) c.pixelErrors[i] = std::max(c.pixelErrors[i], static_cast<float>(e));
        }
    }
    c.largest = std::max(c.largest, 0.0);
    c.failed = c.largest > limits.hardFail ||
               static_cast<double>(c.aboveFail) >
                   limits.failPercent / 100.0 * static_cast<double>(c.values);
    c.warned = c.aboveWarn > 0;
    return c;
}

int CompareFiles(const std::string& pathA, const std::string& pathB, const std::string& diffPath,
                 const Thresholds& limits) {
    if (!diffPath.empty()) RefuseOutputOntoInputs("compare", diffPath, {pathA, pathB});
    if (HoldsFloatValues(pathA) || HoldsFloatValues(pathB)) {
        const std::vector<StoredChannel> a = ReadStoredValues(pathA);
        const std::vector<StoredChannel> b = ReadStoredValues(pathB);
        ValueComparison c;
        try {
            c = CompareValues(a, b, limits, !diffPath.empty());
        } catch (const ImageError& e) {
            throw ImageError(pathA + ", " + pathB + ": " + e.what());
        }
        if (a.empty()) throw ImageError(pathA + ": no channels");
        const int status = ReportValues(c, a.front(), limits);
        if (!diffPath.empty()) {
            WriteOutput(diffPath, ValueDifferenceImage(pathA, a.front(), c));
            std::printf("difference image: %s\n", diffPath.c_str());
        }
        return status;
    }
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

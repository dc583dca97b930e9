// Comparing two images (lumafex compare): 8-bit images byte for byte as the
// module sees them, files with half or float channels by their stored
// values, channel by channel, against thresholds. And laying images
// out side by side with labels (lumafex montage): for checking a render
// against a reference and for pictures in documentation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "image_files/images.h"
#include "image_files/stored_values.h"

namespace lumafex::tool {

// Exit status of compare when the images differ.
inline constexpr int kExitDiffers = 4;

struct Comparison {
    int largest = 0;            // the largest difference of one channel, 0..255
    std::size_t differing = 0;  // pixels with any channel different
    int32_t left = 0, top = 0, right = -1, bottom = -1;  // the box around them
    int32_t worstX = 0, worstY = 0;                      // a pixel with the largest difference
};

// Throws ImageError when the sizes differ.
Comparison CompareImages(const ColourImage& a, const ColourImage& b);

// The first image dimmed to grey, with each differing pixel in red as
// bright as its difference is large relative to the largest.
ColourImage DifferenceImage(const ColourImage& a, const ColourImage& b,
                            const Comparison& comparison);

// When stored values fail a comparison: more than failPercent % of them
// differ by more than fail, or one differs by more than hardFail. Values
// differing by more than warn are counted and reported without failing.
struct Thresholds {
    double fail = 1e-6;
    double warn = 1e-6;
    double failPercent = 0;
    double hardFail = std::numeric_limits<double>::infinity();
};

struct ValueComparison {
    std::size_t channels = 0, values = 0;
    std::size_t differing = 0, aboveWarn = 0, aboveFail = 0;
    double largest = 0;      // the largest error (infinite where one value is NaN or infinite)
    double sumSquares = 0;   // of the finite errors
    std::size_t infinite = 0;  // errors that are not finite
    std::string worstChannel;  // where the largest error is
    int32_t worstX = 0, worstY = 0;
    float worstA = 0, worstB = 0;
    bool failed = false, warned = false;
    // With pixelErrors asked for: the largest error at each pixel of the
    // first channel's window (for the difference image).
    std::vector<float> pixelErrors;
};

// Compares the channels by name. Throws ImageError when the channel sets or
// the channels' windows differ.
ValueComparison CompareValues(const std::vector<StoredChannel>& a,
                              const std::vector<StoredChannel>& b, const Thresholds& limits,
                              bool pixelErrors = false);

// Files with a half or float channel (either one) are compared by their
// stored values against the thresholds; others are read as 8-bit sRGB with
// unassociated alpha (a multilayer EXR by its colour layer). Prints the
// report, writes the difference image to diffPath (if not empty; refused
// before anything is read when it is A or B); returns 0 when identical (or,
// for stored values, within the failure thresholds), kExitDiffers when not.
int CompareFiles(const std::string& a, const std::string& b, const std::string& diffPath,
                 const Thresholds& limits = {});

// Writes the images in a grid of columns, each shrunk to at most tileWidth
// pixels across, over a checkerboard, labelled. Without labels, an item is
// "path" or "path=label" (an existing file's name is a path, "=" and all;
// else the label follows the last "="); with them, every item is a path
// and the labels go to the images in order. Refuses, before reading, an
// output that is one of the inputs, and before allocating, a picture
// larger than the image size limit or the memory limit.
void WriteMontage(const std::string& output, const std::vector<std::string>& items,
                  const std::vector<std::string>& labels, int columns, int tileWidth);

}  // namespace lumafex::tool

// Comparing two images byte for byte (lumafex compare), and laying images
// out side by side with labels (lumafex montage): for checking a render
// against a reference and for pictures in documentation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "images.h"

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

// Reads both as 8-bit sRGB with unassociated alpha (a multilayer EXR by its
// colour layer), prints the report, writes the difference image to diffPath
// (if not empty; refused before anything is read when it is A or B);
// returns 0 when identical, kExitDiffers when not.
int CompareFiles(const std::string& a, const std::string& b, const std::string& diffPath);

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

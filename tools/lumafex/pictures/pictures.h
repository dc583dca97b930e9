// Pictures made from frames for people to look at: thumbnails, the output
// over a checkerboard so alpha shows, depth in false colour, and labels in
// a small built-in pixel font (no font files needed on any platform).
#pragma once

#include <cstdint>
#include <string>

#include "image_files/images.h"

namespace lumafex::tool {

// The image scaled down by a whole factor (box filter).
ColourImage Shrunk(const ColourImage& image, int32_t factor);

// The image composited over a grey checkerboard of square size cells.
ColourImage OverCheckerboard(const ColourImage& image, int32_t cell);

// Depth as colour (ui/depth_colours.h): near red through yellow, green and
// cyan to far blue, by inverse distance between the nearest and farthest
// depth of the frame's objects; where frame (its alpha) is given, the
// background takes no part and shows black.
ColourImage DepthInFalseColour(const DepthImage& depth, const ColourImage* frame = nullptr);

// Copies image into sheet at (x, y), clipped to the sheet.
void Paste(ColourImage& sheet, const ColourImage& image, int32_t x, int32_t y);

// Writes text (digits, space, A-Z) at (x, y), each font pixel scale pixels.
void Label(ColourImage& sheet, const std::string& text, int32_t x, int32_t y, int32_t scale,
           uint8_t grey);

// The width of text as Label draws it.
int32_t LabelWidth(const std::string& text, int32_t scale);

// A sheet of the given size filled with one grey, opaque.
ColourImage Blank(int32_t width, int32_t height, uint8_t grey);

}  // namespace lumafex::tool

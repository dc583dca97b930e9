// Frames of any width for the module, which filters only frames whose
// width is a multiple of 8: a frame of another width is handed over padded
// on the right, each row's last pixel repeated (colour, alpha, shadow and
// depth), and what comes back is cropped to the frame's own width. The
// repeated columns are part of the frame the module sees, so a filter that
// reads neighbours (a blur) sees the last column as if it went on.
#pragma once

#include <cstdint>
#include <optional>

#include "image_files/images.h"

namespace lumafex::tool {

// The module takes frames whose width is a multiple of this.
inline constexpr int32_t kModuleWidthStep = 8;

// Whether a frame of this width goes to the module padded: its width is
// not a multiple of kModuleWidthStep, and the padded width still fits the
// module's 32-bit sizes.
bool NeedsPadding(int32_t width);

// width rounded up to the next multiple of kModuleWidthStep.
int64_t PaddedWidth(int32_t width);

// A frame's planes widened to PaddedWidth of its colour's width.
struct PaddedFrame {
    ColourImage colour;
    GreyImage shadow;  // empty when the frame has none
    std::optional<DepthImage> depth;
};

// The frame padded; shadow and depth may be null. Throws std::logic_error
// when a plane does not hold the colour's width times height values, and
// std::bad_alloc when the memory cannot be had.
PaddedFrame PadFrame(const ColourImage& colour, const GreyImage* shadow, const DepthImage* depth);

// Columns first .. first + width - 1 of padded's colour planes into to
// (width and height set). The frame's own columns are the first ones, or
// the last ones when the module flipped the frame horizontally.
void CropColour(const ColourImage& padded, int32_t first, int32_t width, ColourImage& to);
// The first columns of padded's colour and shadow planes back into the
// frame it was made from (shadow may be null), as the module left them.
void CropFrame(const PaddedFrame& padded, ColourImage& colour, GreyImage* shadow);

}  // namespace lumafex::tool

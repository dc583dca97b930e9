// Reading the frames' inputs and writing their outputs, by file extension:
// .pam/.ppm/.pgm/.pfm through the dependency-free path, everything else
// (PNG, TIFF, EXR, JPEG, ...) through OpenImageIO when the program is built
// with it. 8-bit colour and alpha reach the module exactly as stored.
#pragma once

#include <string>

#include "image_files/images.h"

namespace lumafex::tool {

// True when this build can read and write formats other than the netpbm ones.
bool HaveImageLibrary();

ColourImage ReadColour(const std::string& path);
GreyImage ReadShadow(const std::string& path);
// Depth from "Z", a channel ending ".Z", "Depth" or one ending ".Depth.V",
// else the only channel of a one-channel image.
DepthImage ReadDepth(const std::string& path);

// 8-bit RGBA with unassociated alpha: PNG or TIFF by extension, or PAM.
void WriteOutput(const std::string& path, const ColourImage& image);

// The lowercase extension of path without its dot.
std::string Extension(const std::string& path);

}  // namespace lumafex::tool

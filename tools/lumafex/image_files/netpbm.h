// The dependency-free image path: binary PAM (P7) and PPM (P6) colour,
// PGM (P5) shadow, PFM ("Pf") depth, and PAM output. Every reader checks
// the declared size before it allocates and refuses truncated files.
#pragma once

#include <ostream>
#include <string>

#include "image_files/images.h"

namespace lumafex::tool {

// Colour with alpha: PAM RGB_ALPHA or RGB (alpha 255), GRAYSCALE(_ALPHA), or PPM.
ColourImage ReadNetpbmColour(const std::string& path);
// One channel of bytes: PGM, or the first channel of a PAM.
GreyImage ReadNetpbmGrey(const std::string& path);
// One channel of floats: PFM "Pf" in either byte order, rows stored bottom-up.
DepthImage ReadPfm(const std::string& path);

// The same readers over a file's bytes held in memory; path names the file
// in messages.
ColourImage ParseNetpbmColour(const std::string& data, const std::string& path);
GreyImage ParseNetpbmGrey(const std::string& data, const std::string& path);
DepthImage ParsePfm(const std::string& data, const std::string& path);

// Writes the image as PAM RGB_ALPHA, maxval 255.
void WritePam(const std::string& path, const ColourImage& image);
// Writes a PFM "Pf" little-endian (for tests and the demo).
void WritePfm(const std::string& path, const DepthImage& image);
// Writes a PGM P5, maxval 255.
void WritePgm(const std::string& path, const GreyImage& image);

// The same files written to a stream.
void WritePamTo(std::ostream& out, const ColourImage& image);
void WritePfmTo(std::ostream& out, const DepthImage& image);
void WritePgmTo(std::ostream& out, const GreyImage& image);

}  // namespace lumafex::tool

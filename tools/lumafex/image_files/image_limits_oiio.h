// The memory budget applied to OpenImageIO's decoders: what an image's
// layout makes a reader allocate is checked before any pixel is read.
#pragma once

#include <OpenImageIO/imageio.h>

#include <string>

namespace lumafex::tool {

// Checks the channel count, a tile, the whole image in its own format and as
// four float channels against the memory budget; throws ImageError.
void CheckDecoderLayout(const std::string& path, const OIIO::ImageSpec& layout);

// Sets OpenImageIO's own limits (channels, image size) from the same budget.
void SetDecoderLimits();

}  // namespace lumafex::tool

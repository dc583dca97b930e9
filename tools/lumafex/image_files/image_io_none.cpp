// Builds without OpenImageIO read and write only the netpbm formats.
#include <string>

#include "image_files/images.h"

namespace lumafex::tool {

namespace {
[[noreturn]] void Unsupported(const std::string& path) {
    throw ImageError(path + ": this build of lumafex reads and writes only .pam, .ppm, .pgm and "
                            ".pfm images");
}
}  // namespace

bool HaveImageLibrary() { return false; }
ColourImage ReadColourWithLibrary(const std::string& path) { Unsupported(path); }
GreyImage ReadShadowWithLibrary(const std::string& path) { Unsupported(path); }
DepthImage ReadDepthWithLibrary(const std::string& path) { Unsupported(path); }
void WriteWithLibrary(const std::string& path, const ColourImage&) { Unsupported(path); }

}  // namespace lumafex::tool

// Builds without OpenImageIO have no colour management: the one colour
// space is sRGB, and only the netpbm formats are read and written.
#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "image_files/frame_io.h"

namespace lumafex::tool {

namespace {
[[noreturn]] void Unsupported(const std::string& path) {
    throw ImageError(path +
                     ": this build of lumafex reads and writes only .pam, .ppm, .pgm and "
                     ".pfm images");
}
}  // namespace

std::vector<std::string> KnownColourSpaces() {
    return {"sRGB"};
}

void ChooseColourConfiguration(const std::string& file, const std::string&) {
    throw std::runtime_error(file + ": this build has no colour management, so it reads no "
                             "colour configuration");
}

std::string ChosenColourConfigurationOrigin() { return {}; }

void ChooseOutputCompression(const std::string& name) {
    throw std::runtime_error("\"" + name + "\": this build writes only PAM images, which have no compression");
}

std::string ColourConfigurationInUse() { return "none (sRGB only)"; }

std::string ResolveColourSpace(const std::string& name, const std::string& what) {
    std::string lowered = name;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lowered == "srgb") return "sRGB";
    throw std::runtime_error(what + ": unknown colour space \"" + name +
                             "\"; this build has no colour management and knows only sRGB");
}

uint64_t StoredPartsBytes(const ColourInput&) { return 0; }

ColourInput ReadFrameColourWithLibrary(const std::string& path, const ColourRequest&) {
    Unsupported(path);
}
DepthImage ReadFrameDepthWithLibrary(const std::string& path, const std::string&) {
    Unsupported(path);
}
void CheckOutputFormatWithLibrary(const std::string& path, int) {
    Unsupported(path);
}
void WriteFrameOutputWithLibrary(const std::string& path, const ColourImage&, const ColourInput&,
                                 const OutputRequest&) {
    Unsupported(path);
}

}  // namespace lumafex::tool

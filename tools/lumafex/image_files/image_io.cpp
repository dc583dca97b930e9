#include "image_files/image_io.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "image_files/files.h"
#include "image_files/netpbm.h"

namespace lumafex::tool {

// Provided by image_io_oiio.cpp or image_io_none.cpp.
bool HaveImageLibrary();
ColourImage ReadColourWithLibrary(const std::string& path);
GreyImage ReadShadowWithLibrary(const std::string& path);
DepthImage ReadDepthWithLibrary(const std::string& path);
void WriteWithLibrary(const std::string& path, const ColourImage& image);

namespace {

bool IsNetpbm(const std::string& ext) {
    return ext == "pam" || ext == "ppm" || ext == "pgm" || ext == "pnm" || ext == "pfm";
}

}  // namespace

std::string Extension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

ColourImage ReadColour(const std::string& path) {
    CheckRegularFile(path);
    return IsNetpbm(Extension(path)) ? ReadNetpbmColour(path) : ReadColourWithLibrary(path);
}

GreyImage ReadShadow(const std::string& path) {
    CheckRegularFile(path);
    return IsNetpbm(Extension(path)) ? ReadNetpbmGrey(path) : ReadShadowWithLibrary(path);
}

DepthImage ReadDepth(const std::string& path) {
    CheckRegularFile(path);
    return Extension(path) == "pfm" ? ReadPfm(path) : ReadDepthWithLibrary(path);
}

void WriteOutput(const std::string& path, const ColourImage& image) {
    const std::string ext = Extension(path);
    if (ext == "pam") {
        WritePam(path, image);
    } else if (ext == "png" || ext == "tif" || ext == "tiff") {
        WriteWithLibrary(path, image);
    } else {
        throw ImageError(path + ": outputs are written as .png, .tif/.tiff or .pam");
    }
}

}  // namespace lumafex::tool

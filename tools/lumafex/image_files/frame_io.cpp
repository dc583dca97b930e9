#include "image_files/frame_io.h"

#include <filesystem>

#include "image_files/image_io.h"
#include "image_files/netpbm.h"

#if !defined(LUMAFEX_VERSION)
#define LUMAFEX_VERSION "unknown"
#endif

namespace lumafex::tool {

// Provided by frame_io_oiio.cpp or frame_io_none.cpp.
ColourInput ReadFrameColourWithLibrary(const std::string& path, const ColourRequest& request);
DepthImage ReadFrameDepthWithLibrary(const std::string& path, const std::string& channel);
void CheckOutputFormatWithLibrary(const std::string& path, int bits);
void WriteFrameOutputWithLibrary(const std::string& path, const ColourImage& result,
                                 const ColourInput& source, const OutputRequest& request);

namespace {

bool IsNetpbm(const std::string& ext) {
    return ext == "pam" || ext == "ppm" || ext == "pgm" || ext == "pnm" || ext == "pfm";
}

}  // namespace

const char* ProgramVersion() {
    return "lumafex " LUMAFEX_VERSION;
}

// Netpbm images carry no colour space, layers or premultiplied alpha: their
// bytes are the working space's, as stored.
ColourInput ReadFrameColour(const std::string& path, const ColourRequest& request) {
    if (!IsNetpbm(Extension(path))) return ReadFrameColourWithLibrary(path, request);
    if (!request.layer.empty())
        throw ImageError(path + ": netpbm images have no named layers (colorLayer)");
    const std::string working = ResolveColourSpace(request.workingSpace, "workingSpace");
    if (!request.colourSpace.empty() &&
        ResolveColourSpace(request.colourSpace, path + ": colorSpace") != working) {
        throw ImageError(path + ": netpbm colour is taken as stored, in the working space " +
                         working +
                         "; convert it to another format to give it another colour space");
    }
    ColourInput in;
    in.image = ReadColour(path);
    in.channels = "R, G, B, A";
    in.colourSpace = working;
    return in;
}

DepthImage ReadFrameDepth(const std::string& path, const std::string& channel) {
    if (Extension(path) != "pfm") return ReadFrameDepthWithLibrary(path, channel);
    if (!channel.empty())
        throw ImageError(path + ": a PFM holds one unnamed channel (depthChannel)");
    return ReadDepth(path);
}

void CheckOutputFormat(const std::string& path, int bits) {
    if (Extension(path) != "pam") return CheckOutputFormatWithLibrary(path, bits);
    if (bits != 0 && bits != 8) throw ImageError(path + ": PAM outputs are 8 bits (outputBits)");
}

void WriteFrameOutput(const std::string& path, const ColourImage& result, const ColourInput& source,
                      const OutputRequest& request) {
    if (Extension(path) != "pam") return WriteFrameOutputWithLibrary(path, result, source, request);
    const std::string working = ResolveColourSpace(request.workingSpace, "workingSpace");
    if (!request.colourSpace.empty() &&
        ResolveColourSpace(request.colourSpace, "outputColorSpace") != working) {
        throw ImageError(path + ": PAM outputs hold the working space's bytes (" + working + ")");
    }
    WritePam(path, result);
}

void ChooseSceneColourConfiguration(const std::string& file) {
    if (file.empty() || !ChosenColourConfigurationOrigin().empty()) return;
    ChooseColourConfiguration(std::filesystem::absolute(file).lexically_normal().string(),
                              "the scene's colorConfig");
}

}  // namespace lumafex::tool

// Frames through OpenImageIO: parts and channels by name, colour spaces
// through its colour configuration (OpenColorIO: the file named by the OCIO
// environment variable, else the built-in one), alpha through its premult
// and unpremult.
#include <OpenImageIO/color.h>
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include <unistd.h>
#include <memory>
#include <stdexcept>

#include "channels.h"
#include "files.h"
#include "frame_io.h"
#include "image_io.h"
#include "image_limits_oiio.h"
#include "interrupt.h"

namespace lumafex::tool {

struct ImageMetadata {
    OIIO::ParamValueList attributes;
};

namespace {

using OIIO::ImageBuf;
using OIIO::ImageInput;
using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

// More parts than any renderer writes; a file claiming more is refused
// before they are all walked.
constexpr int kMaxParts = 1024;

const OIIO::ColorConfig& Config() {
    static const OIIO::ColorConfig config;
    return config;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string ConfigName() {
    const char* env = std::getenv("OCIO");
    return env != nullptr && *env != '\0' ? std::string("the OCIO configuration ") + env
                                          : std::string("the built-in colour configuration");
}

// The linear space of the configuration: its scene_linear role, else
// "linear".
std::string LinearSpace() {
    const char* role = Config().getColorSpaceNameByRole("scene_linear");
    return role != nullptr ? std::string(role) : std::string("linear");
}

struct OpenedFile {
    std::unique_ptr<ImageInput> input;
    std::vector<ImageSpec> parts;
};

OpenedFile OpenParts(const std::string& path) {
    CheckRegularFile(path);
    SetDecoderLimits();
    ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    OpenedFile file;
    file.input = ImageInput::open(path, &config);
    if (!file.input) throw ImageError(path + ": cannot read image: " + OIIO::geterror());
    ImageSpec layout;
    for (int s = 0; file.input->seek_subimage(s, 0, layout); ++s) {
        if (s == kMaxParts)
            throw ImageError(path + ": more than " + std::to_string(kMaxParts) + " parts");
        // Every part's layout is checked before any pixel is read.
        CheckDecoderLayout(path, layout);
        file.parts.push_back(layout);
    }
    if (file.parts.empty()) throw ImageError(path + ": image has no parts");
    return file;
}

std::vector<NamedChannel> Channels(const OpenedFile& file) {
    std::vector<std::string> partNames;
    std::vector<std::vector<std::string>> channelNames;
    for (const ImageSpec& layout : file.parts) {
        // A one-part file's name (if any) is not a layer prefix.
        partNames.push_back(file.parts.size() > 1 ? layout.get_string_attribute("oiio:subimagename")
                                                  : "");
        channelNames.push_back(layout.channelnames);
    }
    return ListChannels(partNames, channelNames);
}

const ImageSpec& CheckedPart(const std::string& path, const OpenedFile& file, int part) {
    const ImageSpec& layout = file.parts[static_cast<std::size_t>(part)];
    CheckImageSize(path, layout.width, layout.height);
    if (layout.depth > 1) throw ImageError(path + ": volume images are not supported");
    return layout;
}

// One channel of a part into every stride-th value of out.
template <typename T>
void ReadChannel(const std::string& path, OpenedFile& file, int part, int channel, TypeDesc type,
                 T* out, int stride) {
    if (!file.input->read_image(part, 0, channel, channel + 1, type, out,
                                static_cast<OIIO::stride_t>(sizeof(T)) * stride))
        throw ImageError(path + ": cannot read pixels: " + file.input->geterror());
}

bool IsFloat(TypeDesc t) {
    return t.basetype == TypeDesc::HALF || t.basetype == TypeDesc::FLOAT ||
           t.basetype == TypeDesc::DOUBLE;
}

// Replaces the float RGBA pixels of buffer with the result of an image
// operation on them.
template <typename Operation>
void Apply(const std::string& path, std::vector<float>& rgba, int w, int h, Operation operation) {
    ImageSpec layout(w, h, 4, TypeDesc::FLOAT);
    layout.alpha_channel = 3;
    const ImageBuf source(layout, rgba.data());
    ImageBuf result;
    if (!operation(result, source) || result.has_error())
        throw ImageError(path + ": " + (result.has_error() ? result.geterror() : OIIO::geterror()));
    if (!result.get_pixels(OIIO::ROI::All(), TypeDesc::FLOAT, rgba.data()))
        throw ImageError(path + ": " + result.geterror());
}

void Convert(const std::string& path, std::vector<float>& rgba, int w, int h,
             const std::string& from, const std::string& to) {
    if (from == to) return;
    // Spaces the configuration only relates to its linear space (such as
    // "Gamma2.2" in the built-in one) go through it.
    const std::string linear = LinearSpace();
    const bool direct = static_cast<bool>(Config().createColorProcessor(from, to));
    (void)OIIO::geterror();
    for (const auto& step :
         direct ? std::vector<std::pair<std::string, std::string>>{{from, to}}
                : std::vector<std::pair<std::string, std::string>>{{from, linear}, {linear, to}}) {
        if (step.first == step.second) continue;
        Apply(path, rgba, w, h, [&](ImageBuf& dst, const ImageBuf& src) {
            return OIIO::ImageBufAlgo::colorconvert(dst, src, step.first, step.second, false);
        });
    }
}

// Attributes that describe the input file's own encoding rather than the
// picture: they would be wrong, or refused, in another file.
bool CarriedOver(const std::string& name) {
    static const char* const kDropped[] = {
        "oiio:", "tiff:",       "png:",         "jpeg:",      "openexr:", "dpx:",    "targa:",
        "bmp:",  "compression", "planarconfig", "ICCProfile", "Software", "lumafex:"};
    for (const char* prefix : kDropped) {
        if (name.rfind(prefix, 0) == 0) return false;
    }
    return true;
}

bool PremultipliedFormat(const std::string& format) {
    return format == "openexr";
}

TypeDesc OutputType(int bits, const std::string& format) {
    if (bits == 32) return TypeDesc::FLOAT;
    if (format == "openexr") return TypeDesc::HALF;
    return bits == 16 ? TypeDesc::UINT16 : TypeDesc::UINT8;
}

}  // namespace

std::vector<std::string> KnownColourSpaces() {
    return Config().getColorSpaceNames();
}

std::string ResolveColourSpace(const std::string& name, const std::string& what) {
    const std::vector<std::string> names = KnownColourSpaces();
    for (const std::string& n : names) {
        if (n == name) return n;
    }
    for (const std::string& n : names) {
        if (Lower(n) == Lower(name)) return n;
    }
    if (const char* role = Config().getColorSpaceNameByRole(name)) {
        for (const std::string& n : names) {
            if (n == role) return n;
        }
    }
    // Names the configuration converts without listing them ("Gamma2.2",
    // as PNG files with a gamma tag name their space).
    if (!name.empty() && Config().createColorProcessor(name, LinearSpace()) &&
        Config().createColorProcessor(LinearSpace(), name))
        return name;
    (void)OIIO::geterror();  // the failed attempt's message is not the one to report
    std::string known;
    for (const std::string& n : names) known += (known.empty() ? "" : ", ") + n;
    std::string roles;
    for (const std::string& r : Config().getRoles()) roles += (roles.empty() ? "" : ", ") + r;
    throw std::runtime_error(what + ": unknown colour space \"" + name + "\"; " + ConfigName() +
                             " knows " + known +
                             (roles.empty() ? "" : " (and the roles " + roles + ")"));
}

ColourInput ReadFrameColourWithLibrary(const std::string& path, const ColourRequest& request) {
    OpenedFile file = OpenParts(path);
    const ColourChannels pick = PickColourChannels(Channels(file), request.layer, path);
    const ImageSpec& layout = CheckedPart(path, file, pick.part);
    const int w = layout.width, h = layout.height;

    ColourInput in;
    in.channels = pick.description;
    const std::string working = ResolveColourSpace(request.workingSpace, "workingSpace");
    const std::string tagged = layout.get_string_attribute("oiio:ColorSpace");
    bool anyFloat = false, allBytes = true;
    for (int c : pick.index) {
        if (c < 0) continue;
        const TypeDesc t = layout.channelformat(c);
        anyFloat = anyFloat || IsFloat(t);
        allBytes = allBytes && t == TypeDesc::UINT8;
    }
    if (!request.colourSpace.empty()) {
        in.colourSpace = ResolveColourSpace(request.colourSpace, path + ": colorSpace");
    } else if (!tagged.empty()) {
        in.colourSpace = ResolveColourSpace(
            tagged, path + ": the file's colour space (\"colorSpace\" overrides it)");
    } else {
        in.colourSpace =
            ResolveColourSpace(anyFloat ? LinearSpace() : "sRGB", path + ": by its type");
    }
    // Whatever OpenImageIO does not call unassociated is premultiplied: the
    // EXR convention, and any file whose metadata says so.
    in.premultiplied =
        pick.index[3] >= 0 && layout.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    in.metadata = std::make_shared<ImageMetadata>(ImageMetadata{layout.extra_attribs});

    in.image.Resize(w, h);
    std::vector<uint8_t>* planes[4] = {&in.image.red, &in.image.green, &in.image.blue,
                                       &in.image.alpha};
    const std::size_t n = PixelCount(w, h);
    if (allBytes && in.colourSpace == working && !in.premultiplied) {
        // Bytes in the working space reach the module exactly as stored.
        for (int k = 0; k < 4; ++k) {
            if (pick.index[k] >= 0)
                ReadChannel(path, file, pick.part, pick.index[k], TypeDesc::UINT8,
                            planes[k]->data(), 1);
        }
        return in;
    }
    std::vector<float> rgba(n * 4, 1.0f);
    for (int k = 0; k < 4; ++k) {
        if (pick.index[k] >= 0)
            ReadChannel(path, file, pick.part, pick.index[k], TypeDesc::FLOAT, rgba.data() + k, 4);
    }
    if (in.premultiplied) {
        Apply(path, rgba, w, h, [](ImageBuf& dst, const ImageBuf& src) {
            return OIIO::ImageBufAlgo::unpremult(dst, src);
        });
    }
    Convert(path, rgba, w, h, in.colourSpace, working);
    for (std::size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 4; ++k)
            (*planes[k])[i] = FloatToByte(rgba[4 * i + static_cast<std::size_t>(k)]);
    }
    return in;
}

DepthImage ReadFrameDepthWithLibrary(const std::string& path, const std::string& channel) {
    OpenedFile file = OpenParts(path);
    const NamedChannel pick = PickDepthChannel(Channels(file), channel, path);
    const ImageSpec& layout = CheckedPart(path, file, pick.part);
    DepthImage depth;
    depth.width = layout.width;
    depth.height = layout.height;
    depth.channel = pick.fullName;
    depth.value.resize(PixelCount(depth.width, depth.height));
    ReadChannel(path, file, pick.part, pick.index, TypeDesc::FLOAT, depth.value.data(), 1);
    return depth;
}

void CheckOutputFormatWithLibrary(const std::string& path, int bits) {
    std::unique_ptr<ImageOutput> output = ImageOutput::create(path);
    if (!output) {
        throw ImageError(path + ": cannot write \"." + Extension(path) +
                         "\" images: " + OIIO::geterror());
    }
    const std::string format = output->format_name();
    if (bits == 32 && format != "openexr" && format != "tiff") {
        throw ImageError(path + ": " + format +
                         " cannot store 32-bit float (outputBits 32 is for EXR and TIFF)");
    }
    if (bits == 16 &&
        (format == "jpeg" || format == "gif" || format == "bmp" || format == "targa")) {
        throw ImageError(path + ": " + format + " stores only 8 bits (outputBits)");
    }
}

void WriteFrameOutputWithLibrary(const std::string& path, const ColourImage& result,
                                 const ColourInput& source, const OutputRequest& request) {
    CheckOutputFormatWithLibrary(path, request.bits);
    std::unique_ptr<ImageOutput> output = ImageOutput::create(path);
    if (!output) throw ImageError(path + ": cannot write this format: " + OIIO::geterror());
    const std::string format = output->format_name();
    const bool alpha = output->supports("alpha");
    const bool premultiply = alpha && PremultipliedFormat(format);
    const TypeDesc type = OutputType(request.bits, format);
    const std::string working = ResolveColourSpace(request.workingSpace, "workingSpace");
    std::string space = working;
    if (!request.colourSpace.empty()) {
        space = ResolveColourSpace(request.colourSpace, "outputColorSpace");
    } else if (IsFloat(type) && !source.colourSpace.empty()) {
        space = source.colourSpace;
    }

    const int w = result.width, h = result.height;
    ImageSpec layout(w, h, alpha ? 4 : 3, type);
    if (alpha) {
        layout.alpha_channel = 3;
        if (!premultiply) layout.attribute("oiio:UnassociatedAlpha", 1);
    }
    if (source.metadata) {
        for (const OIIO::ParamValue& p : source.metadata->attributes) {
            if (CarriedOver(p.name().string()))
                layout.attribute(p.name().string(), p.type(), p.data());
        }
    }
    layout.attribute("oiio:ColorSpace", space);
    layout.attribute("Software", ProgramVersion());
    std::string lines;
    for (const std::string& line : request.settingsLines)
        lines += (lines.empty() ? "" : "\n") + line;
    layout.attribute("lumafex:settings", lines);
    layout.attribute("lumafex:input", source.channels + " (" + source.colourSpace +
                                          (source.premultiplied ? ", premultiplied" : "") + ")");

    const std::size_t n = PixelCount(w, h);
    std::vector<uint8_t> bytes;
    std::vector<float> rgba;
    const void* pixels = nullptr;
    TypeDesc given = TypeDesc::UINT8;
    if (type == TypeDesc::UINT8 && space == working && !premultiply) {
        // The module's bytes, stored as they are.
        bytes.resize(n * 4);
        for (std::size_t i = 0; i < n; ++i) {
            bytes[4 * i] = result.red[i];
            bytes[4 * i + 1] = result.green[i];
            bytes[4 * i + 2] = result.blue[i];
            bytes[4 * i + 3] = result.alpha[i];
        }
        pixels = bytes.data();
    } else {
        rgba.resize(n * 4);
        const std::vector<uint8_t>* planes[4] = {&result.red, &result.green, &result.blue,
                                                 &result.alpha};
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t k = 0; k < 4; ++k)
                rgba[4 * i + k] = static_cast<float>((*planes[k])[i] / 255.0);
        }
        Convert(path, rgba, w, h, working, space);
        if (premultiply) {
            Apply(path, rgba, w, h, [](ImageBuf& dst, const ImageBuf& src) {
                return OIIO::ImageBufAlgo::premult(dst, src);
            });
        }
        pixels = rgba.data();
        given = TypeDesc::FLOAT;
    }
    const OIIO::stride_t pixelStride = static_cast<OIIO::stride_t>(given.size()) * 4;

    // Encoded in memory where the format's writer does that reliably (PNG;
    // OpenImageIO 2.4's TIFF writer drops tags when writing to memory), else
    // into a private scratch file; either way the bytes then go through the
    // one safe write (checked, flushed to the disk, renamed), so a full disk
    // or a failure never leaves a truncated output behind.
    if (format == "png" && output->supports("ioproxy")) {
        OIIO::Filesystem::IOVecOutput encoded;
        if (!output->set_ioproxy(&encoded) || !output->open(path, layout) ||
            !output->write_image(given, pixels, pixelStride) || !output->close()) {
            throw ImageError(path + ": cannot encode image: " + output->geterror());
        }
        output.reset();
        const std::vector<unsigned char>& data = encoded.buffer();
        WriteBytesSafely(path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        return;
    }
    std::error_code ec;
    const std::filesystem::path scratchDir = std::filesystem::temp_directory_path(ec);
    if (ec) throw ImageError(path + ": no folder for temporary files: " + ec.message());
    const std::filesystem::path scratch =
        scratchDir / ("lumafex-" + std::to_string(::getpid()) + "-" +
                      std::filesystem::path(path).filename().string());
    struct Remove {
        std::filesystem::path file;
        ~Remove() {
            std::error_code ignored;
            std::filesystem::remove(file, ignored);
            ForgetScratchFile();
        }
    } removeScratch{scratch};
    {
        // An interruption removes it too.
        InterruptShield shield;
        if (!RegisterScratchFile(scratch.string()))
            throw ImageError(path + ": the temporary file's path is too long");
    }
    if (!output->open(scratch.string(), layout) || !output->write_image(given, pixels, pixelStride) ||
        !output->close()) {
        throw ImageError(path + ": cannot write image: " + output->geterror());
    }
    output.reset();
    WriteBytesSafely(path, ReadWholeFile(scratch.string()));
}

}  // namespace lumafex::tool

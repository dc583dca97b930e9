// Image files through OpenImageIO. Alpha is read and written unassociated:
// the module sees exactly the colour bytes a PNG stores, and the bytes it
// hands back are stored as they are.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image_files/files.h"
#include "image_files/image_io.h"
#include "image_files/image_limits_oiio.h"

namespace lumafex::tool {

namespace {

using OIIO::ImageInput;
using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

struct OpenedImage {
    std::unique_ptr<ImageInput> input;
    ImageSpec layout;
};

// More channels, parts or mip levels than any renderer's image holds are
// taken for a damaged or hostile file.
constexpr int kMaxChannels = 1024;
constexpr int kMaxSubimages = 256;
constexpr int kMaxMipLevels = 32;

// The library's own limits, from the same memory budget.
void SetLibraryLimits() {
    OIIO::attribute("limits:channels", kMaxChannels);
    const uint64_t megabytes = std::max<uint64_t>(MemoryBudget() >> 20, 1);
    OIIO::attribute("limits:imagesize_MB", static_cast<int>(std::min<uint64_t>(megabytes, 1u << 30)));
}

uint64_t BytesPerChannel(const ImageSpec& layout) {
    std::size_t most = layout.format.size();
    for (const TypeDesc& t : layout.channelformats) most = std::max(most, t.size());
    return most;
}

// Counts the parts (subimages) and the mip levels of the first one, stopping
// past the limits, and leaves the reader on the first part's full level.
void CheckPartsAndLevels(const std::string& path, ImageInput& input) {
    int parts = 1;
    while (parts <= kMaxSubimages && input.seek_subimage(parts, 0)) ++parts;
    if (parts > kMaxSubimages)
        throw ImageError(path + ": more than " + std::to_string(kMaxSubimages) + " subimages");
    int levels = 1;
    while (levels <= kMaxMipLevels && input.seek_subimage(0, levels)) ++levels;
    if (levels > kMaxMipLevels)
        throw ImageError(path + ": more than " + std::to_string(kMaxMipLevels) + " mip levels");
    if (!input.seek_subimage(0, 0)) throw ImageError(path + ": cannot read image: " + input.geterror());
}

}  // namespace

void CheckDecoderLayout(const std::string& path, const ImageSpec& l) {
    CheckImageSize(path, l.width, l.height);
    if (l.depth > 1) throw ImageError(path + ": volume images are not supported");
    if (l.nchannels < 1 || l.nchannels > kMaxChannels) {
        throw ImageError(path + ": " + std::to_string(l.nchannels) + " channels (1 to " +
                         std::to_string(kMaxChannels) + " are accepted)");
    }
    const auto channels = static_cast<uint64_t>(l.nchannels);
    const uint64_t bytes = BytesPerChannel(l);
    if (l.tile_width > 0 || l.tile_height > 0) {
        if (l.tile_width <= 0 || l.tile_height <= 0 || l.tile_depth < 0)
            throw ImageError(path + ": bad tile size");
        CheckAllocation(path, "a tile of " + std::to_string(l.tile_width) + "x" + std::to_string(l.tile_height),
                        {static_cast<uint64_t>(l.tile_width), static_cast<uint64_t>(l.tile_height),
                         static_cast<uint64_t>(std::max(l.tile_depth, 1)), channels, bytes});
    }
    // The whole image in its own format, and up to four channels as floats.
    CheckAllocation(path, "the image", {static_cast<uint64_t>(l.width), static_cast<uint64_t>(l.height), channels, bytes});
    CheckAllocation(path, "the image", {static_cast<uint64_t>(l.width), static_cast<uint64_t>(l.height), 4, 4});
}

void SetDecoderLimits() { SetLibraryLimits(); }

namespace {

OpenedImage Open(const std::string& path) {
    CheckRegularFile(path);
    SetLibraryLimits();
    ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    OpenedImage image;
    // Opening fills in the image's layout (size, channels, format, tiles)
    // without reading a pixel, so every size the decoder will allocate is
    // checked before anything is allocated.
    image.input = ImageInput::create(path, false, &config);
    if (!image.input || !image.input->open(path, image.layout, config)) {
        const std::string why = image.input ? image.input->geterror() : OIIO::geterror();
        throw ImageError(path + ": cannot read image: " + why);
    }
    CheckDecoderLayout(path, image.layout);
    CheckPartsAndLevels(path, *image.input);
    return image;
}

// Channels [first, first + count) as bytes: 8-bit images as stored, other
// bit depths converted from float with the documented rule.
std::vector<uint8_t> ReadBytes(const std::string& path, OpenedImage& image, int first, int count) {
    const std::size_t n = PixelCount(image.layout.width, image.layout.height) * static_cast<std::size_t>(count);
    std::vector<uint8_t> bytes(n);
    if (image.layout.format == TypeDesc::UINT8) {
        if (!image.input->read_image(0, 0, first, first + count, TypeDesc::UINT8, bytes.data()))
            throw ImageError(path + ": cannot read pixels: " + image.input->geterror());
        return bytes;
    }
    std::vector<float> values(n);
    if (!image.input->read_image(0, 0, first, first + count, TypeDesc::FLOAT, values.data()))
        throw ImageError(path + ": cannot read pixels: " + image.input->geterror());
    for (std::size_t i = 0; i < n; ++i) bytes[i] = FloatToByte(values[i]);
    return bytes;
}

}  // namespace

bool HaveImageLibrary() { return true; }

ColourImage ReadColourWithLibrary(const std::string& path) {
    OpenedImage image = Open(path);
    const int channels = image.layout.nchannels;
    if (channels < 1) throw ImageError(path + ": image has no channels");
    const int used = channels >= 4 ? 4 : channels;
    const std::vector<uint8_t> bytes = ReadBytes(path, image, 0, used);
    ColourImage out;
    out.Resize(image.layout.width, image.layout.height);
    const auto step = static_cast<std::size_t>(used);
    for (std::size_t i = 0; i < out.red.size(); ++i) {
        const uint8_t* px = &bytes[i * step];
        if (used >= 3) {
            out.red[i] = px[0];
            out.green[i] = px[1];
            out.blue[i] = px[2];
            if (used == 4) out.alpha[i] = px[3];
        } else {
            out.red[i] = out.green[i] = out.blue[i] = px[0];
            if (used == 2) out.alpha[i] = px[1];
        }
    }
    return out;
}

GreyImage ReadShadowWithLibrary(const std::string& path) {
    OpenedImage image = Open(path);
    if (image.layout.nchannels < 1) throw ImageError(path + ": image has no channels");
    GreyImage out;
    out.width = image.layout.width;
    out.height = image.layout.height;
    out.value = ReadBytes(path, image, 0, 1);
    return out;
}

DepthImage ReadDepthWithLibrary(const std::string& path) {
    OpenedImage image = Open(path);
    const auto& names = image.layout.channelnames;
    auto endsWith = [](const std::string& s, const std::string& tail) {
        return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    };
    int channel = -1;
    // In order of preference: Z, *.Z (covers *.Depth.Z), Depth, *.Depth.V.
    const std::vector<std::function<bool(const std::string&)>> rules = {
        [](const std::string& n) { return n == "Z"; },
        [&](const std::string& n) { return endsWith(n, ".Z"); },
        [](const std::string& n) { return n == "Depth"; },
        [&](const std::string& n) { return endsWith(n, ".Depth.V"); },
    };
    for (const auto& rule : rules) {
        for (std::size_t i = 0; i < names.size() && channel < 0; ++i) {
            if (rule(names[i])) channel = static_cast<int>(i);
        }
        if (channel >= 0) break;
    }
    if (channel < 0 && image.layout.nchannels == 1) channel = 0;
    if (channel < 0) {
        throw ImageError(path + ": no depth channel (Z, *.Z, Depth or *.Depth.V) and more than one channel");
    }
    DepthImage out;
    out.width = image.layout.width;
    out.height = image.layout.height;
    out.channel = static_cast<std::size_t>(channel) < names.size() ? names[static_cast<std::size_t>(channel)] : "0";
    out.value.resize(PixelCount(out.width, out.height));
    if (!image.input->read_image(0, 0, channel, channel + 1, TypeDesc::FLOAT, out.value.data()))
        throw ImageError(path + ": cannot read pixels: " + image.input->geterror());
    return out;
}

void WriteWithLibrary(const std::string& path, const ColourImage& image) {
    std::unique_ptr<ImageOutput> output = ImageOutput::create(path);
    if (!output) throw ImageError(path + ": cannot write this format: " + OIIO::geterror());
    ImageSpec layout(image.width, image.height, 4, TypeDesc::UINT8);
    layout.alpha_channel = 3;
    layout.attribute("oiio:UnassociatedAlpha", 1);
    std::vector<uint8_t> rgba(PixelCount(image.width, image.height) * 4);
    for (std::size_t i = 0; i < image.red.size(); ++i) {
        rgba[4 * i] = image.red[i];
        rgba[4 * i + 1] = image.green[i];
        rgba[4 * i + 2] = image.blue[i];
        rgba[4 * i + 3] = image.alpha[i];
    }
    // Encoded in memory, then written safely (checked, flushed, renamed).
    OIIO::Filesystem::IOVecOutput encoded;
    if (!output->supports("ioproxy") || !output->set_ioproxy(&encoded) || !output->open(path, layout) ||
        !output->write_image(TypeDesc::UINT8, rgba.data()) || !output->close()) {
        throw ImageError(path + ": cannot encode image: " + output->geterror());
    }
    output.reset();
    const std::vector<unsigned char>& data = encoded.buffer();
    WriteBytesSafely(path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

}  // namespace lumafex::tool

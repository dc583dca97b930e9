#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <exception>
#include <memory>

#include "image_files/channels.h"
#include "image_files/files.h"
#include "image_files/image_limits_oiio.h"
#include "image_files/images.h"
#include "image_files/stored_values.h"

namespace lumafex::tool {

namespace {

using OIIO::ImageInput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

constexpr int kMaxParts = 1024;

bool IsFloat(TypeDesc t) {
    return t.basetype == TypeDesc::HALF || t.basetype == TypeDesc::FLOAT ||
           t.basetype == TypeDesc::DOUBLE;
}

}  // namespace

bool HoldsFloatValues(const std::string& path) {
    // A folder, device or pipe is left to the usual reader to refuse.
    try {
        CheckRegularFile(path);
    } catch (const std::exception&) {
        return false;
    }
    SetDecoderLimits();
    std::unique_ptr<ImageInput> input = ImageInput::open(path);
    if (!input) {
        (void)OIIO::geterror();  // reported by the usual reader
        return false;
    }
    ImageSpec layout;
    for (int s = 0; s < kMaxParts && input->seek_subimage(s, 0, layout); ++s) {
        if (IsFloat(layout.format)) return true;
        for (const TypeDesc& t : layout.channelformats) {
            if (IsFloat(t)) return true;
        }
    }
    return false;
}

std::vector<StoredChannel> ReadStoredValues(const std::string& path) {
    CheckRegularFile(path);
    SetDecoderLimits();
    std::unique_ptr<ImageInput> input = ImageInput::open(path);
    if (!input) throw ImageError(path + ": cannot read image: " + OIIO::geterror());
    std::vector<ImageSpec> parts;
    ImageSpec layout;
    uint64_t total = 0, largest = 0;
    for (int s = 0; input->seek_subimage(s, 0, layout); ++s) {
        if (s == kMaxParts) throw ImageError(path + ": more than " + std::to_string(kMaxParts) + " parts");
        // Every part's layout, and all of them as floats together with the
        // largest part once more (decoded whole before it is split), are
        // checked before any pixel is read.
        CheckDecoderLayout(path, layout);
        const uint64_t values = static_cast<uint64_t>(layout.width) * static_cast<uint64_t>(layout.height) *
                                static_cast<uint64_t>(layout.nchannels);
        total += values;
        largest = std::max(largest, values);
        CheckAllocation(path, "its values as floats", {total + largest, sizeof(float)});
        parts.push_back(layout);
    }
    if (parts.empty()) throw ImageError(path + ": image has no parts");
    std::vector<std::string> partNames;
    std::vector<std::vector<std::string>> channelNames;
    for (const ImageSpec& part : parts) {
        partNames.push_back(parts.size() > 1 ? part.get_string_attribute("oiio:subimagename") : "");
        channelNames.push_back(part.channelnames);
    }
    // Each part is decoded once, all its channels together, and then split.
    std::vector<StoredChannel> channels;
    int decodedPart = -1;
    std::vector<float> decoded;
    for (const NamedChannel& named : ListChannels(partNames, channelNames)) {
        const ImageSpec& part = parts[static_cast<std::size_t>(named.part)];
        const std::size_t pixels = static_cast<std::size_t>(part.width) * static_cast<std::size_t>(part.height);
        const auto stride = static_cast<std::size_t>(part.nchannels);
        if (named.part != decodedPart) {
            decoded.assign(pixels * stride, 0.0f);
            if (!input->read_image(named.part, 0, 0, part.nchannels, TypeDesc::FLOAT, decoded.data()))
                throw ImageError(path + ": cannot read pixels: " + input->geterror());
            decodedPart = named.part;
        }
        StoredChannel c;
        c.name = named.fullName;
        c.x = part.x;
        c.y = part.y;
        c.width = part.width;
        c.height = part.height;
        c.values.resize(pixels);
        const auto channel = static_cast<std::size_t>(named.index);
        for (std::size_t i = 0; i < pixels; ++i) c.values[i] = decoded[i * stride + channel];
        channels.push_back(std::move(c));
    }
    return channels;
}

}  // namespace lumafex::tool

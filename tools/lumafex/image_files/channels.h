// Choosing the colour and depth channels of a rendered image by name, over
// every part (subimage) of the file: a renderer's multilayer EXR holds
// colour, depth, normals, denoising data and more side by side, and the
// module must get the right ones or none.
#pragma once

#include <string>
#include <vector>

namespace lumafex::tool {

struct NamedChannel {
    int part = 0;          // subimage
    int index = 0;         // channel within the part
    std::string name;      // as stored in the part
    std::string fullName;  // "<part name>.<name>" when the part has a name the channel lacks
};

// The channels of a file from each part's name (empty for an unnamed part)
// and its channel names.
std::vector<NamedChannel> ListChannels(const std::vector<std::string>& partNames,
                                       const std::vector<std::vector<std::string>>& channelNames);

struct ColourChannels {
    int part = 0;
    int index[4] = {-1, -1, -1, -1};  // R, G, B, A (A -1: opaque); grey: R = G = B
    std::string description;          // the channel names used, for messages
};

// By request (one layer name, or 3 or 4 channel names R, G, B, A) or, with
// none, by the default rules: the unprefixed R, G, B (A); else the one layer
// named "Combined"; else the only layer with R, G and B; else a one- or
// two-channel image as grey (and alpha). Throws ImageError naming path and
// listing the candidates when there are several or none.
ColourChannels PickColourChannels(const std::vector<NamedChannel>& channels,
                                  const std::vector<std::string>& request, const std::string& path);

// By name, or by the default rules: exactly "Z", "depth.Z"/"Depth.Z",
// "<layer>.Depth.Z" or "<layer>.Depth.V"; else the only channel of a
// one-channel image.
NamedChannel PickDepthChannel(const std::vector<NamedChannel>& channels, const std::string& request,
                              const std::string& path);

}  // namespace lumafex::tool

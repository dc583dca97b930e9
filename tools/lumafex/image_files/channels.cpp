#include "image_files/channels.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "image_files/images.h"

namespace lumafex::tool {

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool Matches(const NamedChannel& c, const std::string& name) {
    return c.fullName == name || c.name == name;
}

std::string Joined(const std::vector<std::string>& names, std::size_t most = 24) {
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < most; ++i) out += (i ? ", " : "") + names[i];
    if (names.size() > most) out += ", ... (" + std::to_string(names.size()) + " in all)";
    return out.empty() ? "(none)" : out;
}

std::vector<std::string> FullNames(const std::vector<NamedChannel>& channels) {
    std::vector<std::string> names;
    for (const NamedChannel& c : channels) names.push_back(c.fullName);
    return names;
}

// A layer: the channels of one part sharing a prefix, by their last name.
struct Layer {
    int part = 0;
    std::string name;        // "" for unprefixed channels
    bool storedBare = true;  // the part stores its names without a prefix
    std::map<std::string, int> components;
    bool HasColour() const {
        return components.count("R") && components.count("G") && components.count("B");
    }
};

std::vector<Layer> Layers(const std::vector<NamedChannel>& channels) {
    std::map<std::pair<int, std::string>, Layer> byName;
    std::vector<std::pair<int, std::string>> order;
    for (const NamedChannel& c : channels) {
        const std::size_t dot = c.fullName.rfind('.');
        const std::string prefix = dot == std::string::npos ? "" : c.fullName.substr(0, dot);
        const std::string last = dot == std::string::npos ? c.fullName : c.fullName.substr(dot + 1);
        const auto key = std::make_pair(c.part, prefix);
        if (!byName.count(key)) order.push_back(key);
        Layer& layer = byName[key];
        layer.part = c.part;
        layer.name = prefix;
        layer.storedBare = layer.storedBare && c.name.find('.') == std::string::npos;
        layer.components.emplace(last, c.index);
    }
    std::vector<Layer> layers;
    for (const auto& key : order) layers.push_back(byName[key]);
    return layers;
}

ColourChannels FromLayer(const Layer& layer) {
    ColourChannels out;
    out.part = layer.part;
    const char* parts[4] = {"R", "G", "B", "A"};
    for (int i = 0; i < 4; ++i) {
        const auto it = layer.components.find(parts[i]);
        if (it != layer.components.end()) out.index[i] = it->second;
    }
    const std::string prefix = layer.name.empty() ? "" : layer.name + ".";
    out.description = prefix + "R, " + prefix + "G, " + prefix + "B" +
                      (out.index[3] >= 0 ? ", " + prefix + "A" : "");
    return out;
}

std::vector<std::string> LayerNames(const std::vector<const Layer*>& layers) {
    std::vector<std::string> names;
    for (const Layer* l : layers) names.push_back(l->name.empty() ? "R, G, B" : l->name);
    return names;
}

}  // namespace

std::vector<NamedChannel> ListChannels(const std::vector<std::string>& partNames,
                                       const std::vector<std::vector<std::string>>& channelNames) {
    std::vector<NamedChannel> channels;
    for (std::size_t p = 0; p < channelNames.size(); ++p) {
        const std::string part = p < partNames.size() ? partNames[p] : std::string();
        for (std::size_t i = 0; i < channelNames[p].size(); ++i) {
            NamedChannel c;
            c.part = static_cast<int>(p);
            c.index = static_cast<int>(i);
            c.name = channelNames[p][i];
            const bool prefixed = !part.empty() && c.name.rfind(part + ".", 0) != 0;
            c.fullName = prefixed ? part + "." + c.name : c.name;
            channels.push_back(std::move(c));
        }
    }
    return channels;
}

ColourChannels PickColourChannels(const std::vector<NamedChannel>& channels,
                                  const std::vector<std::string>& request,
                                  const std::string& path) {
    const std::vector<Layer> layers = Layers(channels);
    std::vector<const Layer*> colourLayers;
    for (const Layer& l : layers) {
        if (l.HasColour()) colourLayers.push_back(&l);
    }
    if (request.size() == 1) {
        for (const Layer* l : colourLayers) {
            if (l->name == request[0]) return FromLayer(*l);
        }
        throw ImageError(
            path + ": no colour layer \"" + request[0] +
            "\" (R, G and B); layers with colour: " + Joined(LayerNames(colourLayers)));
    }
    if (request.size() == 3 || request.size() == 4) {
        ColourChannels out;
        for (std::size_t i = 0; i < request.size(); ++i) {
            std::vector<const NamedChannel*> found;
            for (const NamedChannel& c : channels) {
                if (Matches(c, request[i])) found.push_back(&c);
            }
            if (found.empty())
                throw ImageError(path + ": no channel \"" + request[i] + "\"; it has " +
                                 Joined(FullNames(channels)));
            if (found.size() > 1) {
                throw ImageError(path + ": channel \"" + request[i] +
                                 "\" is in more than one part; name it in full (" +
                                 found[0]->fullName + ", " + found[1]->fullName + ")");
            }
            if (i > 0 && found[0]->part != out.part) {
                throw ImageError(path +
                                 ": the colour channels must come from one part of the file (" +
                                 request[0] + " and " + request[i] + " do not)");
            }
            out.part = found[0]->part;
            out.index[i] = found[0]->index;
            out.description += (i ? ", " : "") + found[0]->fullName;
        }
        return out;
    }

    // Unprefixed R, G, B (in a part of its own, under the part's name), then
    // the layer named Combined, then the only colour layer.
    std::vector<const Layer*> bare, combined;
    for (const Layer* l : colourLayers) {
        const std::size_t dot = l->name.rfind('.');
        const std::string last = dot == std::string::npos ? l->name : l->name.substr(dot + 1);
        if (l->storedBare) bare.push_back(l);
        if (last == "Combined") combined.push_back(l);
    }
    for (const std::vector<const Layer*>* tier : {&bare, &combined, &colourLayers}) {
        if (tier->size() == 1) return FromLayer(*tier->front());
        if (tier->size() > 1) {
            throw ImageError(path + ": more than one colour layer (" + Joined(LayerNames(*tier)) +
                             "); name one with \"colorLayer\"");
        }
    }
    // A grey image, with alpha as its second channel.
    if (!channels.empty() && channels.back().part == 0 && channels.size() <= 2) {
        ColourChannels out;
        out.index[0] = out.index[1] = out.index[2] = 0;
        out.description = channels[0].fullName + " (grey)";
        if (channels.size() == 2) {
            out.index[3] = 1;
            out.description += ", " + channels[1].fullName;
        }
        return out;
    }
    throw ImageError(path + ": no colour channels (R, G and B of one layer) among " +
                     Joined(FullNames(channels)) + "; name them with \"colorLayer\"");
}

NamedChannel PickDepthChannel(const std::vector<NamedChannel>& channels, const std::string& request,
                              const std::string& path) {
    std::vector<const NamedChannel*> found;
    for (const NamedChannel& c : channels) {
        const std::string& n = c.fullName;
        const bool wanted = request.empty() ? (n == "Z" || n == "depth.Z" || n == "Depth.Z" ||
                                               EndsWith(n, ".Depth.Z") || EndsWith(n, ".Depth.V"))
                                            : Matches(c, request);
        if (wanted) found.push_back(&c);
    }
    if (found.size() == 1) return *found.front();
    if (found.size() > 1) {
        std::vector<std::string> names;
        for (const NamedChannel* c : found) names.push_back(c->fullName);
        throw ImageError(path + ": more than one depth channel (" + Joined(names) +
                         "); name one with \"depthChannel\"");
    }
    if (!request.empty()) {
        throw ImageError(path + ": no channel \"" + request + "\"; it has " +
                         Joined(FullNames(channels)));
    }
    if (channels.size() == 1) return channels.front();
    throw ImageError(path +
                     ": no depth channel (Z, Depth.Z, <layer>.Depth.Z or <layer>.Depth.V) among " +
                     Joined(FullNames(channels)) + "; name one with \"depthChannel\"");
}

}  // namespace lumafex::tool

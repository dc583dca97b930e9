// The null-object channels: the object names that animate the filter and the
// rule each one applies to the frame's working values and the record.
#pragma once

#include <array>
#include <cstddef>

#include "pipeline/frame/frame_parameters.h"
#include "settings/filter_settings.h"

namespace lumafex {

// What the channel rules of one frame read and write.
struct NullChannelTarget {
    FilterSettings& settings;
    FrameParameters& params;
    // The point "3FocalRange" measures from: (0, 0, 1) at the start of every
    // frame, then the vector of the latest "3FocalPoint" object.
    double focalPosition[3];
};

struct NullChannel {
    const char* name;  // the whole object name, case included
    // Applies the channel to the object's parameter-code-8 vector; the
    // channel value v is its third component.
    void (*apply)(const double vector[3], NullChannelTarget& target);
};

inline constexpr std::size_t kNullChannelCount = 35;

// The channels in the order names are compared with them.
const std::array<NullChannel, kNullChannelCount>& NullChannels();

// The channel whose name equals name exactly, character for character and
// to its end, or null.
const NullChannel* FindNullChannel(const char* name);

}  // namespace lumafex

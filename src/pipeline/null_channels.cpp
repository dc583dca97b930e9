#include "pipeline/null_channels.h"

#include "pipeline/null_channel_table.h"

namespace lumafex {

void ApplyNullChannels(const SceneObjects& objects, double time, FilterSettings& frame,
                       FrameParameters& params) {
    // Every frame starts measuring focal ranges from (0, 0, 1).
    NullChannelTarget target{frame, params, {0.0, 0.0, 1.0}};
    for (void* object = objects.FirstObject(); object != nullptr;
         object = objects.NextObject(object)) {
        const char* name = objects.Name(object);
        if (name == nullptr) continue;
        const NullChannel* channel = FindNullChannel(name);
        if (channel == nullptr) continue;
        double vector[3] = {0.0, 0.0, 0.0};
        objects.Position(object, time, vector);
        channel->apply(vector, target);
    }
}

}  // namespace lumafex

#include "pipeline/null_channels.h"

#include "pipeline/null_channel_table.h"

namespace lumafex {

void ReadNullChannels(const ItemInfo& items, double time, FilterSettings& settings,
                      FrameParameters& params) {
    if (items.firstItem == nullptr || items.nextItem == nullptr || items.itemName == nullptr ||
        items.itemVector == nullptr) {
        return;
    }
    // Every frame starts measuring focal ranges from (0, 0, 1).
    NullChannelTarget target{settings, params, {0.0, 0.0, 1.0}};
    for (void* item = items.firstItem(host::kItemObject, nullptr); item != nullptr;
         item = items.nextItem(item)) {
        const char* name = items.itemName(item);
        if (name == nullptr) continue;
        const NullChannel* channel = FindNullChannel(name);
        if (channel == nullptr) continue;
        double vector[3] = {0.0, 0.0, 0.0};
        items.itemVector(item, host::kParamPosition, time, vector);
        channel->apply(vector, target);
    }
}

}  // namespace lumafex

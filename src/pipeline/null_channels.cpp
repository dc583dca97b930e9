#include "pipeline/null_channels.h"

namespace lumafex {

void ReadNullChannels(const ItemInfo&, double, FilterSettings&, FrameParameters&) {}

}  // namespace lumafex

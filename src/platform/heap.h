// Asks the runtime heap to hand its free memory back to the system; called
// after every processed frame and when the settings record is released.
#pragma once

namespace lumafex::platform {

void TrimHeap();

}  // namespace lumafex::platform

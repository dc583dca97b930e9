// The module-wide values: one of each per loaded module. The host calls the
// module's entries one at a time, so none of them is guarded.
#pragma once

#include <cstdint>

#include "abi/host_interface.h"
#include "host/frame_adapter.h"
#include "host/shared_record.h"
#include "pipeline/frame/random_generator.h"
#include "pipeline/null_channels.h"
#include "pipeline/preview_frame.h"

namespace lumafex {

struct Module {
    GlobalLookup lookup = nullptr;  // from the latest handler activation
    void* hostWindow = nullptr;     // owner of the settings dialog
    void* instanceHandle = nullptr; // this module, for its dialog resources
    SharedRecord record;
    int32_t UseNulls = kUseNullsAtLoad;
    HostGlobals globals;     // fetched by every frame
    RandomGenerator random;  // state 1 at load, never reseeded
    PreviewFrame lastFrame;  // reduced copy of the latest frame, for the preview
};

// The loaded module's values.
Module& TheModule();

}  // namespace lumafex

// The frame driver: runs once per rendered frame. It fetches the host
// globals, refuses frames whose width is not a multiple of 8, derives the
// frame's working values (and, with "Use Nulls", the null channels), then
// runs the optional blur passes and the final pass in a fixed order.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "host/host_interface.h"
#include "pipeline/final/random_generator.h"
#include "pipeline/frame_parameters.h"
#include "pipeline/frame_view.h"
#include "settings/filter_settings.h"

namespace lumafex {

// Outcome of one frame; nothing acts on it, but tests and hosts can read it.
enum class FrameOutcome : int {
    Refused = 0,        // width not a multiple of 8; nothing written
    Processed = 1,      // every pixel written
    GlobalMissing = 2,  // a host global or frame operation missing; nothing written
};

// The module-wide values the driver keeps between frames.
struct DriverGlobals {
    const SceneInfo* sceneInfo = nullptr;
    const ItemInfo* itemInfo = nullptr;
    const void* objectInfo = nullptr;
    double FrameEndTime = 0.0;  // time of the latest frame
};

// The texts of the odd-width refusal.
inline constexpr const char* kOddWidthText = "Image width must be a multiple of 8";
inline constexpr const char* kOddWidthCaption = "Odd Sized Frame";
inline constexpr const char* kOutOfMemoryText = "Out Of Memory";
inline constexpr const char* kOutOfMemoryCaption = "ERROR";

// One optional pass before the final pass, with the gate that runs it.
struct OptionalPass {
    const char* name;
    bool (*runs)(const FilterSettings&);
    bool (*run)(const FrameView&, const FilterSettings&, const FrameParameters&);
};

// The optional passes in the order the driver tries them.
const std::array<OptionalPass, 4>& OptionalPasses();

// Runs the optional passes whose gates are open, then the final pass. When
// stop is given and becomes true, the passes not yet started are skipped
// (the preview abandons work a newer request has overtaken); returns false
// then.
[[nodiscard]] bool RunPasses(const FrameView& frame, const FilterSettings& settings,
                             const FrameParameters& params, RandomGenerator& random, FrameOutput& out,
                             const std::atomic<bool>* stop = nullptr);

// The frame's working values: derived from the record, with the camera's
// position at time and, with "Use Nulls" on, the null channels at time
// (which write into settings too).
FrameParameters PrepareFrameParameters(const ItemInfo& items, double time,
                                       int32_t fieldRendering, int32_t useNulls,
                                       FilterSettings& settings);

struct PreviewFrame;

// Processes one host frame with the module's record and state. With keep,
// a reduced copy of the frame as it came is kept there for the preview.
[[nodiscard]] FrameOutcome ProcessFrame(const FrameAccess& frame, GlobalLookup lookup, int32_t useNulls,
                                        FilterSettings& settings, DriverGlobals& globals,
                                        RandomGenerator& random, PreviewFrame* keep = nullptr);

}  // namespace lumafex

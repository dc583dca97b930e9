// Turns the host's records into what the filter chain works on: a frame
// view over the host's planes, an output through its putRGB and putAlpha,
// and the scene's items; then runs one frame over a copy of the record.
#pragma once

#include <cstdint>

#include "abi/host_interface.h"
#include "pipeline/frame/frame_view.h"
#include "pipeline/frame/random_generator.h"
#include "pipeline/preview_frame.h"
#include "settings/filter_settings.h"

namespace lumafex {

// Outcome of one frame; nothing acts on it, but tests and hosts can read it.
enum class FrameOutcome : int {
    Refused = 0,        // width not a multiple of 8; nothing written
    Processed = 1,      // every pixel written
    GlobalMissing = 2,  // a host global or frame operation missing; nothing written
};

// The host globals a frame fetches, kept between frames.
struct HostGlobals {
    const SceneInfo* sceneInfo = nullptr;
    const ItemInfo* itemInfo = nullptr;
    const void* objectInfo = nullptr;
    double FrameEndTime = 0.0;  // time of the latest frame
};

// The texts of the odd-width refusal.
inline constexpr const char* kOddWidthText = "Image width must be a multiple of 8";
inline constexpr const char* kOddWidthCaption = "Odd Sized Frame";

// The frame's planes as fetched at row 0 (see getLine's contract) and its
// depth rows on demand; a plane the host does not give is null.
FrameView HostFrameView(const FrameAccess& frame);

// A reduced copy of the host's frame as it is, for the dialog's preview;
// fieldRendering as the scene renders.
[[nodiscard]] bool KeepHostFrame(const FrameAccess& frame, int32_t fieldRendering, PreviewFrame& kept);

// Fetches the host globals and processes one host frame: the frame works on
// a copy of record, and what the null channels set in it (and Passes, back
// at 1 unless a channel raised it) is written back to record at the end.
// With keep, a reduced copy of the frame as it came is kept there for the
// preview.
[[nodiscard]] FrameOutcome ProcessFrame(const FrameAccess& access, GlobalLookup lookup, int32_t useNulls,
                          FilterSettings& record, HostGlobals& globals, RandomGenerator& random,
                          PreviewFrame* keep = nullptr);

}  // namespace lumafex

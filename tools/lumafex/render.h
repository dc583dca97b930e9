// The render command: every frame of a scene through the module, exactly
// as the renderer would hand it over, with the outputs written safely.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "progress.h"

namespace lumafex::tool {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFramesRefused = 3;
inline constexpr int kExitFramesSkipped = 4;  // skipped, or inputs missing

// What happens to a frame whose input file is not there.
enum class MissingFrames {
    Error,  // reported; no output; the others render; exit status 4
    Skip,   // no output, noted in the log; exit status 4
    Black,  // rendered from a black, transparent frame; exit status 4
    Hold,   // rendered from the last frame read (or the next one there); exit status 4
};

struct RenderOptions {
    std::string scene;
    std::string module;
    std::optional<std::vector<int64_t>> frames;  // in this order; empty: the scene's
    std::string outputDir;                               // empty: as the scene says
    std::string saveScene;                               // empty: not saved
    Verbosity verbosity = Verbosity::Normal;
    LogFormat logFormat = LogFormat::Text;
    MissingFrames missingFrames = MissingFrames::Error;
    bool noClobber = false;  // skip frames whose output exists
    bool readAhead = true;   // read the next frame and write the last on other threads
};

struct Scene;
struct SceneFrame;
// The scene's frames in the list's order (all of them without a list);
// listed frames the scene does not have are left out. Throws when none is
// left.
std::vector<const SceneFrame*> SelectFrames(const Scene& scene,
                                            const std::optional<std::vector<int64_t>>& list);

// The first input of the frame that is not there, or empty.
std::string MissingInput(const SceneFrame& f);


// Renders; returns an exit status. Throws std::runtime_error (with the file
// and what is wrong) on errors that stop the run.
int Render(const RenderOptions& options);

}  // namespace lumafex::tool

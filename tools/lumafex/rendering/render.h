// The render command: every frame of a scene through the module, exactly
// as the renderer would hand it over, with the outputs written safely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "process/progress.h"

namespace lumafex::tool {

// The zlib level of PNG outputs unless the scene or the command line says
// (docs/performance.md has the sizes and times it was chosen from).
inline constexpr int kDefaultPngCompression = 4;

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;  // also: frames failed (inputs that cannot be read)
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

// What happens to a frame whose input is there but cannot be read (a
// truncated or corrupt file, an image of the wrong size).
enum class UnreadableFrames {
    Fail,   // reported; no output; the others render; counted as failed, exit status 1
    Skip,   // no output, reported; counted as missing, exit status 4
    Black,  // as for MissingFrames::Black; counted as missing, exit status 4
    Hold,   // as for MissingFrames::Hold; counted as missing, exit status 4
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
    UnreadableFrames unreadableFrames = UnreadableFrames::Fail;
    bool noClobber = false;  // skip frames whose output exists
    bool existingDone = false;  // with noClobber: such frames count as done, not skipped
    bool readAhead = true;   // read the next frames and write the last ones on other threads
    std::size_t framesInFlight = 0;  // frames read, filtered and written at once; 0: from the frame size
    bool dryRun = false;     // print what would be read and written, write nothing
    std::optional<int> pngCompression;  // PNG outputs' zlib level (0-9) instead of the scene's
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

// Where the frame's output goes: as the scene says, or under outputDir
// (with the scene's file name) when that is not empty.
std::string OutputPath(const SceneFrame& f, const std::string& outputDir);

// Refuses (std::runtime_error naming both, "nothing was written") an output
// of any of the scene's frames, or saveScene, that is the same file as an
// input (colour, shadow or depth) of any frame or as the scene itself, and
// two of them that are one file. Files are compared as FileIdentity does.
// Every frame of the scene is checked, whichever are rendered, so a render
// of some frames (a farm task's chunk) cannot replace another frame's input.
// Each output is looked at once, the inputs only when an output exists
// already; the cost grows with the frame count times its logarithm.
void CheckSceneOutputs(const Scene& scene, const std::string& outputDir,
                       const std::string& saveScene = {});

// Renders; returns an exit status. Throws std::runtime_error (with the file
// and what is wrong) on errors that stop the run.
int Render(const RenderOptions& options);

}  // namespace lumafex::tool

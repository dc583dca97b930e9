// The render command: every frame of a scene through the module, exactly
// as the renderer would hand it over, with the outputs written safely.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "progress.h"

namespace lumafex::tool {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFramesRefused = 3;

struct RenderOptions {
    std::string scene;
    std::string module;
    std::optional<std::pair<int64_t, int64_t>> frames;  // inclusive range
    std::string outputDir;                               // empty: as the scene says
    std::string saveScene;                               // empty: not saved
    Verbosity verbosity = Verbosity::Normal;
    LogFormat logFormat = LogFormat::Text;
};

// Parses "A-B" or "A" (negative numbers allowed: "-5--1"); throws
// std::invalid_argument on anything else.
std::pair<int64_t, int64_t> ParseFrameRange(const std::string& text);

// Renders; returns an exit status. Throws std::runtime_error (with the file
// and what is wrong) on errors that stop the run.
int Render(const RenderOptions& options);

}  // namespace lumafex::tool

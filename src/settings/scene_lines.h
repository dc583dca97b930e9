// The settings record as a block of scene lines: a version line and one
// "Key value" line per stored field, in record order.
#pragma once

#include <cstdint>

#include "settings/filter_settings.h"
#include "settings/line_io.h"

namespace lumafex {

// Size of the line buffer, and the length passed with every written line.
inline constexpr int32_t kSceneLineSize = 80;

// Writes "Version 1" and the 37 stored fields, each as an 80-character
// buffer.
void SaveSceneLines(const FilterSettings& settings, LineSink& sink);

// Reads a block written by SaveSceneLines. Fields are taken by position,
// whatever their keys say; a line without a number keeps its field, a number
// beyond the 32-bit range saturates at the range's end, and reading stops
// at the end of the block, leaving the remaining fields as they were.
// PosterizePercent is never touched; SofterExtraFlag follows the loaded
// SofterBlurFlag (1 for its third state, 2, and 0 otherwise).
void LoadSceneLines(FilterSettings& settings, LineSource& source);

}  // namespace lumafex

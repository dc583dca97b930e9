// The settings record as a block of scene lines: a version line and one
// "Key value" line per stored field, in record order.
#pragma once

#include "host/host_interface.h"
#include "settings/filter_settings.h"

namespace lumafex {

// Size of the line buffer, and the length passed with every written line.
inline constexpr int32_t kSceneLineSize = 80;

void SaveSceneLines(const FilterSettings& settings, const SaveState& state);
void LoadSceneLines(FilterSettings& settings, const LoadState& state);

}  // namespace lumafex

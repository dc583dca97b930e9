// The stored settings lines of a scene, read and edited the way the module
// reads them: by position, through the module's own line reader.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "settings/filter_settings.h"
#include "settings/settings_fields.h"

namespace lumafex::tool {

// The record the lines give, starting from the create defaults.
FilterSettings SettingsFromLines(const std::vector<std::string>& lines);

// The 38 lines of a record, as the module's save writes them.
std::vector<std::string> LinesFromSettings(const FilterSettings& settings);

// The values a setting may take: a number box's range in the settings
// dialog, any 32-bit value for the other fields.
std::pair<int64_t, int64_t> SettingRange(const SettingsField& field);

// "RedPercent -5 is outside 0 to 2147483647" for each stored setting
// outside its SettingRange: such values load and filter as they always
// have, but the dialog would not take them.
std::vector<std::string> SettingsOutsideRange(const FilterSettings& settings);

// "GammaPercent 30000 acts as 25500: ..." for each edit beyond the range
// in which its filter still changes the image (the value is stored as given).
std::vector<std::string> EditsBeyondEffect(const std::vector<std::pair<std::string, int32_t>>& edits);

// Parses "KEY=VALUE" edits; throws std::invalid_argument naming the bad one:
// the key must be one of the stored settings (with the closest name), the
// value within its SettingRange.
std::vector<std::pair<std::string, int32_t>> ParseEdits(const std::vector<std::string>& edits);

// Applies edits to the lines (or to the defaults when there are none) and
// returns the rewritten block.
std::vector<std::string> EditLines(const std::vector<std::string>* lines,
                                   const std::vector<std::pair<std::string, int32_t>>& edits);

// A readable table: key, value, meaning, one setting a line.
std::string SettingsTable(const FilterSettings& settings);

}  // namespace lumafex::tool

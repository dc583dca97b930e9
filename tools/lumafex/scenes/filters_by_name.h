// Filter settings by name, as a scene's "filters" object gives them, and the
// check that a stored block's lines carry the names of the fields the module
// reads them into.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace lumafex::tool {

// The setting a scene keeps by name only: the module's scene lines leave it
// out (the hosts that read them expect them so), but the host program keeps
// it in "filters" and hands it to the module's record itself.
inline constexpr const char* kNamedOnlySetting = "PosterizePercent";

// The stored lines for {"Name": value, ...}: unnamed fields keep their
// defaults, and kNamedOnlySetting is left to PosterizeFromFilters. Throws
// std::runtime_error with where in front for a name that is not a stored
// setting (with the closest one), or a value that is not a 32-bit whole
// number.
std::vector<std::string> LinesFromNamedFilters(const nlohmann::ordered_json& filters,
                                               const std::string& where);

// The kNamedOnlySetting of a "filters" object, if it names it (checked as
// LinesFromNamedFilters checks values).
std::optional<int32_t> PosterizeFromFilters(const nlohmann::ordered_json& filters,
                                            const std::string& where);

// Throws std::runtime_error when a line's key is not the field the module's
// load reads that line into (a missing or extra line shifts every value
// after it), so a render never runs with shifted settings.
void CheckStoredLineNames(const std::vector<std::string>& lines, const std::string& where);

}  // namespace lumafex::tool

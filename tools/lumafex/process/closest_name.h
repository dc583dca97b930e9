// "Did you mean": the known name nearest a misspelt one, for the messages
// that refuse a command, an option, a setting or a compression by name.
#pragma once

#include <string>
#include <vector>

namespace lumafex::tool {

// The known name closest to name (case and edit distance), else the only
// one it begins ("Contrast", "Contrast%": ContrastPercent), for "did you
// mean"; empty when none is near.
std::string ClosestName(const std::string& name, const std::vector<std::string>& known);

}  // namespace lumafex::tool

// A block of settings lines held as strings, offered to the module through
// the host's line reader and writer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/host_interface.h"

namespace lumafex::tool {

// Lines handed out one at a time to the module's load.
struct LineSource {
    const std::vector<std::string>* lines;
    std::size_t next = 0;
};

// A LoadState reading from source, and a SaveState appending to lines.
LoadState LoadStateOver(LineSource& source);
SaveState SaveStateInto(std::vector<std::string>& lines);

}  // namespace lumafex::tool

// A block of settings lines held as strings: read and written directly by
// the settings code, or offered to the module through the host's line
// reader and writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "abi/host_interface.h"
#include "settings/line_io.h"

namespace lumafex::tool {

class StringLines final : public LineSource, public LineSink {
public:
    StringLines() = default;
    explicit StringLines(std::vector<std::string> from) : lines(std::move(from)) {}

    // Stores at most size - 1 characters and a terminating zero; -1 at the end.
    int32_t ReadLine(char* buffer, int32_t size) override;
    // The text ends at its zero or after length characters, whichever is first.
    void WriteLine(const char* text, int32_t length) override;

    std::vector<std::string> lines;
    std::size_t next = 0;  // the line ReadLine hands out next
};

// A LoadState reading from lines, and a SaveState appending to them.
LoadState LoadStateOver(StringLines& lines);
SaveState SaveStateInto(StringLines& lines);

}  // namespace lumafex::tool

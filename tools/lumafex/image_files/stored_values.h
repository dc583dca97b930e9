// The values an image file stores, channel by channel and by name, for
// comparing renders as they are (half and float values untouched, not as
// the 8-bit bytes the module sees).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumafex::tool {

struct StoredChannel {
    std::string name;            // "<part name>.<channel>" where the part has a name it lacks
    int32_t x = 0, y = 0;        // the data window's origin
    int32_t width = 0, height = 0;
    std::vector<float> values;   // row by row; integer types as 0..1, as the library reads them
};

// True when the file holds at least one half or float channel (then it is
// compared by its stored values). False without an image library, and for
// a file the library cannot open (the usual reader then reports it).
bool HoldsFloatValues(const std::string& path);

// Every channel of every part. Refuses (ImageError) what every reader
// refuses: sizes, parts, channels or memory beyond the limits, volumes.
std::vector<StoredChannel> ReadStoredValues(const std::string& path);

}  // namespace lumafex::tool

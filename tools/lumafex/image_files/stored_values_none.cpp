// Without an image library every file is compared as the module sees it.
#include <stdexcept>

#include "image_files/stored_values.h"

namespace lumafex::tool {

bool HoldsFloatValues(const std::string&) { return false; }

std::vector<StoredChannel> ReadStoredValues(const std::string& path) {
    throw std::logic_error(path + ": stored values need OpenImageIO");
}

}  // namespace lumafex::tool

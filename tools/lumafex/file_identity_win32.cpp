#include <cctype>

#include "file_identity.h"

namespace lumafex::tool {

// Windows file names are compared without regard to case.
std::string FileIdentity(const std::string& path) {
    std::string text = PathIdentity(path);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace lumafex::tool

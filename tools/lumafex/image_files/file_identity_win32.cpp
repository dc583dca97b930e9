#include <cctype>

#include "image_files/file_identity.h"

namespace lumafex::tool {

// Windows files are known by their names, compared without regard to case.
std::optional<std::string> ExistingFileIdentity(const std::string& /*path*/) { return std::nullopt; }

std::string FoldIdentity(std::string identity) {
    for (char& c : identity) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return identity;
}

std::string FileIdentity(const std::string& path) { return FoldIdentity(PathIdentity(path)); }

}  // namespace lumafex::tool

#include "file_identity.h"

#include <filesystem>

namespace lumafex::tool {

std::string PathIdentity(const std::string& path) {
    // Symbolic links in the existing part of the path are resolved.
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    if (ec) p = path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(p, ec);
    return "path " + (ec ? p : resolved).lexically_normal().generic_string();
}

}  // namespace lumafex::tool

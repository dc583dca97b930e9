#include <sys/stat.h>

#include "image_files/file_identity.h"

namespace lumafex::tool {

std::optional<std::string> ExistingFileIdentity(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return "inode " + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
}

std::string FoldIdentity(std::string identity) { return identity; }

std::string FileIdentity(const std::string& path) {
    if (std::optional<std::string> id = ExistingFileIdentity(path)) return std::move(*id);
    return PathIdentity(path);
}

}  // namespace lumafex::tool

#include "file_identity.h"

#include <cctype>
#include <filesystem>

#include <sys/stat.h>

namespace lumafex::tool {

std::string FileIdentity(const std::string& path) {
#if !defined(_WIN32)
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        return "inode " + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
               std::to_string(static_cast<unsigned long long>(st.st_ino));
    }
#endif
    // Symbolic links in the existing part of the path are resolved.
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    if (ec) p = path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(p, ec);
    std::string text = "path " + (ec ? p : resolved).lexically_normal().generic_string();
#if defined(_WIN32)
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#endif
    return text;
}

}  // namespace lumafex::tool

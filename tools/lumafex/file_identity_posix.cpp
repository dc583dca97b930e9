#include <sys/stat.h>

#include "file_identity.h"

namespace lumafex::tool {

std::string FileIdentity(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        return "inode " + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
               std::to_string(static_cast<unsigned long long>(st.st_ino));
    }
    return PathIdentity(path);
}

}  // namespace lumafex::tool

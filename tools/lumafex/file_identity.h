// Whether two paths name the same file: an existing file is known by its
// device and inode (so hard links, symbolic links and different spellings
// agree), a file still to be written by its normalised absolute path.
#pragma once

#include <string>

namespace lumafex::tool {

// A text equal for two paths exactly when they name the same file
// (file_identity_posix.cpp, file_identity_win32.cpp).
std::string FileIdentity(const std::string& path);

// The path made absolute and normal, with the symbolic links of its
// existing part resolved: the identity of a file not yet written.
std::string PathIdentity(const std::string& path);

}  // namespace lumafex::tool

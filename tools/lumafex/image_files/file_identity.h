// Whether two paths name the same file: an existing file is known by its
// device and inode (so hard links, symbolic links and different spellings
// agree), a file still to be written by its normalised absolute path.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>

namespace lumafex::tool {

// A text equal for two paths exactly when they name the same file
// (file_identity_posix.cpp, file_identity_win32.cpp).
std::string FileIdentity(const std::string& path);

// The path made absolute and normal, with the symbolic links of its
// existing part resolved: the identity of a file not yet written.
std::string PathIdentity(const std::string& path);

// The identity of an existing file by what the system knows it by (device
// and inode), or nothing where the file is not there or the system has no
// such identity (Windows, where names are the identity).
[[nodiscard]] std::optional<std::string> ExistingFileIdentity(const std::string& path);
// A path identity as the system compares names: Windows ignores case.
std::string FoldIdentity(std::string identity);

// Identities of many files, as FileIdentity gives them, with each folder
// resolved only once: a scene of thousands of frames keeps its outputs in a
// handful of folders.
class FileIdentities {
public:
    // FileIdentity(path); exists (if given) says whether it is a file's own
    // identity. A path that is not there but names an existing file once a
    // ".." after a missing folder is taken away ("new/../old.png", where
    // new will be made to write into) gets that file's identity.
    std::string Of(const std::string& path, bool* exists = nullptr);
    // FileIdentity(path) as it is while path does not exist, without looking
    // at the file itself (its folder is resolved).
    std::string OfAbsent(const std::string& path);

private:
    std::unordered_map<std::string, std::string> folders_;  // folder -> resolved, with a final "/"
};

}  // namespace lumafex::tool

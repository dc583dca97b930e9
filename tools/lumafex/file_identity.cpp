#include "file_identity.h"

#include <algorithm>
#include <filesystem>

namespace lumafex::tool {

namespace {

std::filesystem::path Resolved(const std::filesystem::path& path) {
    // Symbolic links in the existing part of the path are resolved.
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    if (ec) p = path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(p, ec);
    return (ec ? p : resolved).lexically_normal();
}

}  // namespace

std::string PathIdentity(const std::string& path) {
    return "path " + Resolved(path).generic_string();
}

std::string FileIdentities::Of(const std::string& path, bool* exists) {
    std::optional<std::string> id = ExistingFileIdentity(path);
    if (!id) {
        const std::filesystem::path p(path);
        if (std::find(p.begin(), p.end(), "..") != p.end()) id = ExistingFileIdentity(Resolved(p).string());
    }
    if (exists != nullptr) *exists = id.has_value();
    return id ? std::move(*id) : OfAbsent(path);
}

std::string FileIdentities::OfAbsent(const std::string& path) {
    // While the last part of the path does not exist, resolving the path is
    // resolving its folder; a path ending in "." or ".." is left whole.
    const std::filesystem::path p(path);
    const std::filesystem::path name = p.filename();
    if (name.empty() || name == "." || name == "..") return FoldIdentity(PathIdentity(path));
    const std::string folder = p.parent_path().string();
    auto it = folders_.find(folder);
    if (it == folders_.end()) it = folders_.emplace(folder, Resolved(folder.empty() ? "." : folder)).first;
    return FoldIdentity("path " + (it->second / name).generic_string());
}

}  // namespace lumafex::tool

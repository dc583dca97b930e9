#include "image_files/file_identity.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

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
    if (!id && path.find("..") != std::string::npos) {
        const std::filesystem::path p(path);
        if (std::find(p.begin(), p.end(), "..") != p.end()) id = ExistingFileIdentity(Resolved(p).string());
    }
    if (exists != nullptr) *exists = id.has_value();
    return id ? std::move(*id) : OfAbsent(path);
}

std::string FileIdentities::OfAbsent(const std::string& path) {
    // While the last part of the path does not exist, resolving the path is
    // resolving its folder. Split as text: a scene may have a million frames.
#if defined(_WIN32)
    const std::size_t cut = path.find_last_of("/\\:");
#else
    const std::size_t cut = path.find_last_of('/');
#endif
    const std::string_view name = cut == std::string::npos ? std::string_view(path)
                                                           : std::string_view(path).substr(cut + 1);
    // "." and "..", a bare drive ("C:x") are left to the whole path.
    if (name.empty() || name == "." || name == ".." || (cut != std::string::npos && path[cut] == ':'))
        return FoldIdentity(PathIdentity(path));
    // The folder keeps its separator where it is a root ("/x", "C:/x").
    const bool root = cut != std::string::npos && (cut == 0 || path[cut - 1] == ':');
    const std::string folder = cut == std::string::npos ? "." : path.substr(0, root ? cut + 1 : cut);
    auto it = folders_.find(folder);
    if (it == folders_.end()) {
        std::string resolved = Resolved(folder).generic_string();
        if (resolved.empty() || resolved.back() != '/') resolved += '/';
        it = folders_.emplace(folder, std::move(resolved)).first;
    }
    std::string identity = "path ";
    identity.reserve(5 + it->second.size() + name.size());
    identity += it->second;
    identity += name;
    return FoldIdentity(std::move(identity));
}

}  // namespace lumafex::tool

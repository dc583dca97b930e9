// The edit command: the module's own settings dialog over a scene's stored
// settings, previewing one of the scene's frames, with the result written
// back into the scene.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumafex::tool {

struct Scene;

struct EditOptions {
    std::string scene;
    std::string module;
    std::string saveScene;  // empty: the scene itself, rewritten safely
    // The frame the dialog previews, by number; none: the scene's first.
    std::optional<int64_t> frame;
};

// Returns an exit status; throws std::runtime_error on errors.
int Edit(const EditOptions& options);

// What set and edit do with the settings they made: print each change on
// standard output ("ContrastPercent: 100 -> 120", nothing with --quiet) and
// write the scene to path; or, when no value changes, say so and leave
// every file untouched. Returns the number of changes.
std::size_t SaveChangedSettings(const Scene& scene, const std::vector<std::string>& lines,
                                const std::string& path,
                                std::optional<int32_t> posterizePercent = std::nullopt);

}  // namespace lumafex::tool

// The edit command: the module's own settings dialog over a scene's stored
// settings, previewing one of the scene's frames, with the result written
// back into the scene.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumafex::tool {

struct EditOptions {
    std::string scene;
    std::string module;
    std::string saveScene;  // empty: the scene itself, rewritten safely
    // The frame the dialog previews, by number; none: the scene's first.
    std::optional<int64_t> frame;
};

// Returns an exit status; throws std::runtime_error on errors.
int Edit(const EditOptions& options);

}  // namespace lumafex::tool

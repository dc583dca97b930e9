// The edit command: the module's own settings dialog over a scene's stored
// settings, with the result written back into the scene.
#pragma once

#include <string>

namespace lumafex::tool {

struct EditOptions {
    std::string scene;
    std::string module;
    std::string saveScene;  // empty: the scene itself, rewritten safely
};

// Returns an exit status; throws std::runtime_error on errors.
int Edit(const EditOptions& options);

}  // namespace lumafex::tool

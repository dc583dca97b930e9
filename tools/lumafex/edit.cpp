#include "edit.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "host.h"
#include "module_loader.h"
#include "render.h"
#include "scene.h"

namespace lumafex::tool {

int Edit(const EditOptions& options) {
    const Scene scene = LoadScene(options.scene);
    std::string error;
    const std::unique_ptr<LoadedModule> module = LoadedModule::Open(options.module, error);
    if (!module) throw std::runtime_error(error);
    std::vector<std::string> before;
    std::vector<std::string> lines;
    {
        Host host(*module, scene);
        if (scene.settings) host.Load(*scene.settings);
        before = host.Save();
        const int result = host.RunSettingsDialog(*module);
        if (result != 0) {
            throw std::runtime_error("the module's settings dialog could not be opened (code " +
                                     std::to_string(result) + ")");
        }
        lines = host.Save();
    }
    // Cancel, or OK with nothing changed, leaves every file as it was.
    if (lines == before) {
        std::fprintf(stderr, "lumafex: the settings are unchanged; nothing written\n");
        return kExitOk;
    }
    WriteSceneWithSettings(scene, lines, options.saveScene.empty() ? options.scene : options.saveScene);
    return kExitOk;
}

}  // namespace lumafex::tool

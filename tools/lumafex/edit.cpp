#include "edit.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

#include "host.h"
#include "image_io.h"
#include "module_loader.h"
#include "render.h"
#include "scene.h"

namespace lumafex::tool {

namespace {

// The images of the frame the dialog previews.
struct PreviewImages {
    ColourImage colour;
    std::optional<GreyImage> shadow;
    std::optional<DepthImage> depth;
    double time = 0.0;
};

void CheckSize(const std::string& path, int32_t w, int32_t h, const ColourImage& colour) {
    if (w != colour.width || h != colour.height) {
        throw std::runtime_error(path + ": " + std::to_string(w) + "x" + std::to_string(h) +
                                 " does not match the frame's colour image (" +
                                 std::to_string(colour.width) + "x" +
                                 std::to_string(colour.height) + ")");
    }
}

PreviewImages ReadPreviewImages(const SceneFrame& frame) {
    PreviewImages images;
    images.time = frame.time;
    images.colour = ReadColour(frame.colour);
    if (!frame.shadow.empty()) {
        images.shadow = ReadShadow(frame.shadow);
        CheckSize(frame.shadow, images.shadow->width, images.shadow->height, images.colour);
    }
    if (!frame.depth.empty()) {
        images.depth = ReadDepth(frame.depth);
        CheckSize(frame.depth, images.depth->width, images.depth->height, images.colour);
    }
    return images;
}

// The frame asked for (an error when the scene has no such frame), or the
// scene's first; its images, or nothing when the scene has no frames or
// the first frame cannot be read (the dialog then opens without a preview).
std::optional<PreviewImages> PreviewFor(const Scene& scene, const EditOptions& options) {
    if (options.frame) {
        for (const SceneFrame& f : scene.frames) {
            if (f.number == *options.frame) return ReadPreviewImages(f);
        }
        throw std::invalid_argument(options.scene + ": the scene has no frame " +
                                    std::to_string(*options.frame) + " to preview");
    }
    if (scene.frames.empty()) return std::nullopt;
    try {
        return ReadPreviewImages(scene.frames.front());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumafex: no preview: %s\n", e.what());
        return std::nullopt;
    }
}

}  // namespace

int Edit(const EditOptions& options) {
    const Scene scene = LoadScene(options.scene);
    std::optional<PreviewImages> preview = PreviewFor(scene, options);
    std::string error;
    const std::unique_ptr<LoadedModule> module = LoadedModule::Open(options.module, error);
    if (!module) throw std::runtime_error(error);
    std::vector<std::string> before;
    std::vector<std::string> lines;
    {
        Host host(*module, scene);
        if (scene.settings) host.Load(*scene.settings);
        before = host.Save();
        if (preview) {
            host.OfferPreviewFrame(preview->colour, preview->shadow ? &*preview->shadow : nullptr,
                                   preview->depth ? &*preview->depth : nullptr, preview->time);
        }
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

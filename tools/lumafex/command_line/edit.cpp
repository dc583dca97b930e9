#include "command_line/edit.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

#include "farm/farm.h"
#include "image_files/frame_io.h"
#include "image_files/image_io.h"
#include "process/progress.h"
#include "rendering/host.h"
#include "rendering/module_loader.h"
#include "rendering/render.h"
#include "scenes/scene.h"

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

// The frame the dialog previews: its images, or why it has none.
struct Preview {
    std::optional<PreviewImages> images;
    std::string problem;  // empty: there is simply no frame (the dialog's hint says why)
};

Preview ReadOrSayWhy(const SceneFrame& frame) {
    Preview preview;
    try {
        preview.images = ReadPreviewImages(frame);
    } catch (const std::exception& e) {
        // The dialog still opens: the settings do not need the images.
        preview.problem = "frame " + std::to_string(frame.number) + ": " + e.what();
        std::fprintf(stderr, "lumafex: no preview: %s\n", preview.problem.c_str());
    }
    return preview;
}

// The frame asked for (an error when the scene has no such frame), or the
// scene's first.
Preview PreviewFor(const Scene& scene, const EditOptions& options) {
    if (options.frame) {
        for (const SceneFrame& f : scene.frames) {
            if (f.number == *options.frame) return ReadOrSayWhy(f);
        }
        throw std::invalid_argument(options.scene + ": the scene has no frame " +
                                    std::to_string(*options.frame) + " to preview");
    }
    if (scene.frames.empty()) return {};
    return ReadOrSayWhy(scene.frames.front());
}

}  // namespace

std::size_t SaveChangedSettings(const Scene& scene, const std::vector<std::string>& lines,
                                const std::string& path, std::optional<int32_t> posterizePercent) {
    const std::vector<SettingChange> changes = ChangedSettings(scene, lines, posterizePercent);
    if (changes.empty()) {
        if (!QuietLog()) std::printf("no setting changed; %s is left as it was\n", TerminalSafe(path).c_str());
        return 0;
    }
    WriteSceneWithSettings(scene, lines, path, posterizePercent);
    if (!QuietLog()) {
        for (const SettingChange& c : changes) std::printf("%s: %d -> %d\n", c.name.c_str(), c.before, c.after);
    }
    std::fflush(stdout);
    return changes.size();
}

int Edit(const EditOptions& options) {
    const Scene scene = LoadScene(options.scene);
    // The preview converts colour as a render of the scene would.
    ChooseSceneColourConfiguration(scene.colour.colourConfig);
    Preview preview = PreviewFor(scene, options);
    std::string error;
    const std::unique_ptr<LoadedModule> module = LoadedModule::Open(options.module, error);
    if (!module) throw std::runtime_error(error);
    std::vector<std::string> before;
    std::vector<std::string> lines;
    int32_t posterize = ScenePosterizePercent(scene);
    int outcome = -1;
    {
        Host host(*module, scene);
        if (scene.settings) host.Load(*scene.settings);
        host.SetPosterizePercent(posterize);
        before = host.Save();
        if (PreviewImages* images = preview.images ? &*preview.images : nullptr) {
            host.OfferPreviewFrame(images->colour, images->shadow ? &*images->shadow : nullptr,
                                   images->depth ? &*images->depth : nullptr, images->time);
        } else if (!preview.problem.empty()) {
            host.SayNoPreview(preview.problem);
        }
        const int result = host.RunSettingsDialog(*module);
        if (result != 0) {
            const std::string scenePath = ShellQuote(options.scene);
            throw std::runtime_error(
                "the module's settings dialog could not be opened (code " +
                std::to_string(result) +
                "); without a display, list the stored settings with `lumafex show " + scenePath +
                "` and change them with `lumafex set " + scenePath + " KEY=VALUE`");
        }
        outcome = host.DialogOutcome();
        lines = host.Save();
        posterize = host.PosterizePercent();
    }
    // Cancel writes nothing, even when a colour chooser already changed the
    // module's record; OK with nothing changed leaves every file as it was.
    if (outcome == 0) {
        std::fprintf(stderr, "lumafex: cancelled; nothing written\n");
        return kExitOk;
    }
    if (lines == before && posterize == ScenePosterizePercent(scene)) {
        std::fprintf(stderr, "lumafex: the settings are unchanged; nothing written\n");
        return kExitOk;
    }
    SaveChangedSettings(scene, lines, options.saveScene.empty() ? options.scene : options.saveScene,
                        posterize);
    return kExitOk;
}

}  // namespace lumafex::tool

#include "rendering/render.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "image_files/file_identity.h"
#include "image_files/frame_io.h"
#include "image_files/image_io.h"
#include "process/interrupt.h"
#include "rendering/host.h"
#include "rendering/module_loader.h"
#include "rendering/render_steps.h"
#include "scenes/scene.h"
#include "scenes/sequence.h"
#include "scenes/settings_block.h"

namespace lumafex::tool {

namespace {

std::string FrameName(const SceneFrame& f) { return "frame " + std::to_string(f.number); }

}  // namespace

std::vector<const SceneFrame*> SelectFrames(const Scene& scene,
                                            const std::optional<std::vector<int64_t>>& list) {
    std::vector<const SceneFrame*> frames;
    if (!list) {
        for (const SceneFrame& f : scene.frames) frames.push_back(&f);
    } else {
        std::unordered_map<int64_t, const SceneFrame*> byNumber;
        for (const SceneFrame& f : scene.frames) byNumber.emplace(f.number, &f);
        for (const int64_t n : *list) {
            if (const auto it = byNumber.find(n); it != byNumber.end()) frames.push_back(it->second);
        }
    }
    if (frames.empty()) throw std::runtime_error(scene.path + ": no frames in the range asked for");
    return frames;
}

std::string OutputPath(const SceneFrame& f, const std::string& outputDir) {
    if (outputDir.empty()) return f.output;
    return (std::filesystem::path(outputDir) / std::filesystem::path(f.output).filename()).string();
}

void CheckSceneOutputs(const Scene& scene, const std::string& outputDir, const std::string& saveScene) {
    FileIdentities identities;
    // Every file to be written, in the scene's order; --save-scene last.
    struct Claim {
        std::string path;
        std::size_t frame;  // index into scene.frames; frames.size(): --save-scene
        std::string identity;
    };
    const std::size_t saving = scene.frames.size();
    std::vector<Claim> claims;
    claims.reserve(scene.frames.size() + 1);
    for (std::size_t i = 0; i < scene.frames.size(); ++i) claims.push_back({OutputPath(scene.frames[i], outputDir), i, {}});
    if (!saveScene.empty()) claims.push_back({saveScene, saving, {}});
    // Two names of one file both exist or both do not: while no output
    // exists, no input needs looking at, only its name resolving.
    bool anOutputExists = false;
    for (Claim& c : claims) {
        bool exists = false;
        c.identity = identities.Of(c.path, &exists);
        anOutputExists = anOutputExists || exists;
    }
    auto who = [&](std::size_t frame) {
        return frame == saving ? std::string("--save-scene") : FrameName(scene.frames[frame]);
    };

    constexpr std::size_t kTheScene = std::numeric_limits<std::size_t>::max();
    std::unordered_map<std::string, std::size_t> inputs;  // identity -> the frame that reads it
    inputs.reserve(3 * scene.frames.size() + 1);
    auto addInput = [&](const std::string& path, std::size_t frame) {
        if (!path.empty())
            inputs.emplace(anOutputExists ? identities.Of(path) : identities.OfAbsent(path), frame);
    };
    addInput(scene.path, kTheScene);
    for (std::size_t i = 0; i < scene.frames.size(); ++i) {
        const SceneFrame& f = scene.frames[i];
        const SceneFrame* before = i > 0 ? &scene.frames[i - 1] : nullptr;
        // A shadow or depth image shared by every frame is looked at once.
        for (const auto member : {&SceneFrame::colour, &SceneFrame::shadow, &SceneFrame::depth}) {
            if (before == nullptr || f.*member != before->*member) addInput(f.*member, i);
        }
    }

    std::unordered_map<std::string_view, std::size_t> outputs;  // identity -> its claim
    outputs.reserve(claims.size());
    for (std::size_t k = 0; k < claims.size(); ++k) {
        const Claim& c = claims[k];
        if (const auto in = inputs.find(c.identity); in != inputs.end()) {
            const std::string reader = in->second == kTheScene ? std::string("the input scene")
                                                               : "an input of " + FrameName(scene.frames[in->second]);
            throw std::runtime_error(c.path + ": " + who(c.frame) + " would overwrite " + reader +
                                     "; name another file (nothing was written)");
        }
        if (const auto [it, isNew] = outputs.emplace(c.identity, k); !isNew) {
            throw std::runtime_error(c.path + ": " + who(claims[it->second].frame) + " and " + who(c.frame) +
                                     " would write the same file (nothing was written)");
        }
    }
}

std::string MissingInput(const SceneFrame& f) {
    for (const std::string* in : {&f.colour, &f.shadow, &f.depth}) {
        std::error_code ec;
        if (!in->empty() && !std::filesystem::exists(*in, ec)) return *in;
    }
    return {};
}

namespace {

// What a render would do, frame by frame, on standard output: the inputs
// found or missing, the output and whether it is there, and the colour
// path. The checks that stop a render run as they would; nothing is
// written. Returns the exit status the render would have as far as it can
// be told without reading a pixel.
int DryRun(const RenderOptions& options, const Scene& scene, const std::vector<FrameFiles>& frames) {
    const std::unique_ptr<LoadedModule> module = [&] {
        std::string error;
        auto opened = LoadedModule::Open(options.module, error);
        if (!opened) throw std::runtime_error(error);
        return opened;
    }();
    const std::string working =
        ResolveColourSpace(scene.colour.workingSpace, options.scene + ": workingSpace");
    const std::string output =
        scene.colour.outputColourSpace.empty()
            ? std::string("float outputs in the input's space, others in the working space")
            : ResolveColourSpace(scene.colour.outputColourSpace, options.scene + ": outputColorSpace");
    std::set<std::string> checkedFormats;
    std::size_t missing = 0, skipped = 0;
    auto state = [](const std::string& path) {
        std::error_code ec;
        return std::filesystem::exists(path, ec) ? "found" : "MISSING";
    };
    for (const FrameFiles& files : frames) {
        if (checkedFormats.insert(Extension(files.output)).second)
            CheckOutputFormat(files.output, scene.colour.outputBits);
        const SceneFrame& f = *files.frame;
        const std::string input =
            f.colourSpace.empty() ? std::string("as the file says")
                                  : ResolveColourSpace(f.colourSpace, options.scene + ": colorSpace");
        std::printf("frame %lld\n", static_cast<long long>(f.number));
        std::printf("  colour  %s (%s)\n", f.colour.c_str(), state(f.colour));
        if (!f.shadow.empty()) std::printf("  shadow  %s (%s)\n", f.shadow.c_str(), state(f.shadow));
        if (!f.depth.empty()) std::printf("  depth   %s (%s)\n", f.depth.c_str(), state(f.depth));
        std::error_code ec;
        const bool exists = std::filesystem::exists(files.output, ec);
        const bool skip = exists && options.noClobber;
        std::printf("  output  %s (%s)\n", files.output.c_str(),
                    skip ? (options.existingDone ? "exists: done, --existing-done"
                                                 : "exists: skipped, --no-clobber")
                         : exists ? "exists: replaced" : "new");
        std::printf("  colour path  %s -> working space %s -> %s\n", input.c_str(), working.c_str(),
                    output.c_str());
        if (skip) {
            if (!options.existingDone) ++skipped;
        } else if (!MissingInput(f).empty()) {
            ++missing;
        }
    }
    std::printf("dry run: %zu frames, %zu with inputs missing, %zu skipped; nothing was written\n",
                frames.size(), missing, skipped);
    std::fflush(stdout);
    return missing > 0 || skipped > 0 ? kExitFramesSkipped : kExitOk;
}

}  // namespace

namespace {

// The output request of a scene, with every name and format checked before
// the first frame, so a long render does not stop at its end for a
// misspelt colour space.
OutputRequest CheckedOutputRequest(const RenderOptions& options, const Scene& scene,
                                   const std::vector<FrameFiles>& frames) {
    OutputRequest request;
    request.workingSpace = ResolveColourSpace(scene.colour.workingSpace, options.scene + ": workingSpace");
    if (!scene.colour.outputColourSpace.empty())
        request.colourSpace =
            ResolveColourSpace(scene.colour.outputColourSpace, options.scene + ": outputColorSpace");
    request.bits = scene.colour.outputBits;
    request.pngCompression = options.pngCompression.value_or(scene.colour.pngCompression.value_or(kDefaultPngCompression));
    request.settingsLines = scene.settings ? *scene.settings : EditLines(nullptr, {});
    std::set<std::string> checkedFormats, checkedSpaces;
    for (const FrameFiles& files : frames) {
        if (checkedFormats.insert(Extension(files.output)).second) CheckOutputFormat(files.output, request.bits);
        const SceneFrame* f = files.frame;
        if (!f->colourSpace.empty() && checkedSpaces.insert(f->colourSpace).second)
            ResolveColourSpace(f->colourSpace, options.scene + ": colorSpace");
    }
    return request;
}

// Stored values the dialog would refuse still filter as they always have.
void WarnOutsideRange(const RenderOptions& options, const Scene& scene) {
    FilterSettings stored = SettingsFromLines(scene.settings ? *scene.settings : std::vector<std::string>{});
    if (scene.posterizePercent) stored.PosterizePercent = *scene.posterizePercent;
    for (const std::string& outside : SettingsOutsideRange(stored)) {
        LogMessage(LogLevel::Warning, options.scene + ": " + outside +
                                          " (kept and used as stored; lumafex set and the settings "
                                          "dialog would not take it)");
    }
}

int ExitStatus(const FramesRendered& rendered, const RunCounts& counts, std::size_t frameCount) {
    const std::string ofAll = " of " + std::to_string(frameCount) + " frames ";
    if (rendered.refused > 0)
        LogMessage(LogLevel::Error, std::to_string(rendered.refused) + ofAll + "were refused by the module");
    if (counts.failed > 0) {
        LogMessage(LogLevel::Error, std::to_string(counts.failed) + ofAll + "failed: their inputs could not be read");
        return kExitError;
    }
    if (rendered.refused > 0) return kExitFramesRefused;
    if (counts.missing > 0 || counts.skipped > rendered.existing) return kExitFramesSkipped;
    return kExitOk;
}

}  // namespace

int Render(const RenderOptions& options) {
    const Scene scene = LoadScene(options.scene);
    // The scene's colour configuration, unless --colorconfig named one.
    ChooseSceneColourConfiguration(scene.colour.colourConfig);
    std::vector<FrameFiles> frames;
    for (const SceneFrame* f : SelectFrames(scene, options.frames))
        frames.push_back({f, OutputPath(*f, options.outputDir)});
    CheckSceneOutputs(scene, options.outputDir, options.saveScene);
    WarnOutsideRange(options, scene);
    if (options.dryRun) return DryRun(options, scene, frames);

    // From here what the module and the image libraries print is held and
    // passed on with the frame it belongs to (it outlives every thread below).
    const HeldPrinting held;
    std::string error;
    const std::unique_ptr<LoadedModule> module = LoadedModule::Open(options.module, error);
    if (!module) throw std::runtime_error(error);
    Host host(*module, scene);
    if (scene.settings) host.Load(*scene.settings);
    if (scene.posterizePercent) host.SetPosterizePercent(*scene.posterizePercent);
    const OutputRequest outputRequest = CheckedOutputRequest(options, scene, frames);
    if (options.verbosity == Verbosity::Verbose) {
        LogMessage(LogLevel::Passed, "lumafex: colour configuration " + ColourConfigurationInUse());
        LogMessage(LogLevel::Passed, "lumafex: threads " + std::to_string(RenderThreads()));
    }
    Progress progress(frames.size(), options.verbosity, options.logFormat, LogStream());
    const FramesRendered rendered = RenderFrames(options, frames, host, outputRequest, progress);
    SetInterruptContext("");
    std::vector<std::string> notes;
    for (const std::string& u : rendered.used) notes.push_back(u + "; working space " + outputRequest.workingSpace);
    progress.Finish(notes);

    const std::vector<std::string> lines = host.Save();
    if (!options.saveScene.empty()) {
        SetInterruptContext("saving the scene");
        WriteSceneWithSettings(scene, lines, options.saveScene, host.PosterizePercent());
        SetInterruptContext("");
    }
    return ExitStatus(rendered, progress.Counts(), frames.size());
}

}  // namespace lumafex::tool

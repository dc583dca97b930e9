#include "render.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "frame_io.h"
#include "host.h"
#include "image_io.h"
#include "module_loader.h"
#include "scene.h"
#include "settings_block.h"

namespace lumafex::tool {

namespace {

int64_t ParseInteger(const std::string& text, const std::string& whole) {
    std::size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size()) {
        throw std::invalid_argument("bad frame range \"" + whole + "\": expected A-B or A");
    }
    return v;
}

void CheckSameSize(const std::string& colourPath, const ColourImage& colour,
                   const std::string& otherPath, int32_t w, int32_t h) {
    if (w != colour.width || h != colour.height) {
        throw std::runtime_error(otherPath + ": " + std::to_string(w) + "x" + std::to_string(h) +
                                 " does not match the colour image " + colourPath + " (" +
                                 std::to_string(colour.width) + "x" +
                                 std::to_string(colour.height) + ")");
    }
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::exists(b, ec) && std::filesystem::equivalent(a, b, ec);
}

}  // namespace

std::pair<int64_t, int64_t> ParseFrameRange(const std::string& text) {
    // The separator is the first '-' that is not a sign.
    const std::size_t dash = text.find('-', 1);
    if (dash == std::string::npos) {
        const int64_t f = ParseInteger(text, text);
        return {f, f};
    }
    const int64_t a = ParseInteger(text.substr(0, dash), text);
    const int64_t b = ParseInteger(text.substr(dash + 1), text);
    if (b < a) throw std::invalid_argument("bad frame range \"" + text + "\": B comes before A");
    return {a, b};
}

int Render(const RenderOptions& options) {
    const Scene scene = LoadScene(options.scene);
    if (!options.saveScene.empty() && SameFile(options.scene, options.saveScene)) {
        throw std::runtime_error(options.saveScene +
                                 ": --save-scene would overwrite the input scene; name another file");
    }
    std::vector<const SceneFrame*> frames;
    for (const SceneFrame& f : scene.frames) {
        if (!options.frames || (f.number >= options.frames->first && f.number <= options.frames->second))
            frames.push_back(&f);
    }
    if (frames.empty()) throw std::runtime_error(options.scene + ": no frames in the range asked for");

    std::string error;
    const std::unique_ptr<LoadedModule> module = LoadedModule::Open(options.module, error);
    if (!module) throw std::runtime_error(error);
    Host host(*module, scene);
    if (scene.settings) host.Load(*scene.settings);

    // Names and formats are checked before the first frame, so a long
    // render does not stop at its end for a misspelt colour space.
    OutputRequest outputRequest;
    outputRequest.workingSpace =
        ResolveColourSpace(scene.colour.workingSpace, options.scene + ": workingSpace");
    if (!scene.colour.outputColourSpace.empty())
        outputRequest.colourSpace = ResolveColourSpace(scene.colour.outputColourSpace,
                                                       options.scene + ": outputColorSpace");
    outputRequest.bits = scene.colour.outputBits;
    outputRequest.settingsLines = scene.settings ? *scene.settings : EditLines(nullptr, {});
    auto outputPath = [&](const SceneFrame& f) {
        if (options.outputDir.empty()) return f.output;
        return (std::filesystem::path(options.outputDir) /
                std::filesystem::path(f.output).filename())
            .string();
    };
    std::set<std::string> checkedFormats, checkedSpaces;
    for (const SceneFrame* f : frames) {
        if (checkedFormats.insert(Extension(outputPath(*f))).second)
            CheckOutputFormat(outputPath(*f), outputRequest.bits);
        if (!f->colourSpace.empty() && checkedSpaces.insert(f->colourSpace).second)
            ResolveColourSpace(f->colourSpace, options.scene + ": colorSpace");
    }
    std::set<std::string> used;  // which channels and colour spaces the frames came from

    Progress progress(frames.size(), options.verbosity);
    std::size_t refused = 0;
    for (const SceneFrame* f : frames) {
        ColourRequest request;
        request.colourSpace = f->colourSpace;
        request.layer = f->colourLayer;
        request.workingSpace = outputRequest.workingSpace;
        const ColourInput input = ReadFrameColour(f->colour, request);
        ColourImage colour = input.image;
        std::optional<GreyImage> shadow;
        if (!f->shadow.empty()) {
            shadow = ReadShadow(f->shadow);
            CheckSameSize(f->colour, colour, f->shadow, shadow->width, shadow->height);
        }
        std::optional<DepthImage> depth;
        if (!f->depth.empty()) {
            depth = ReadFrameDepth(f->depth, f->depthChannel);
            CheckSameSize(f->colour, colour, f->depth, depth->width, depth->height);
        }
        const std::string output = outputPath(*f);
        const std::string source = "colour from " + input.channels + " (" + input.colourSpace +
                                   (input.premultiplied ? ", premultiplied" : "") + ")" +
                                   (depth ? ", depth from " + depth->channel : std::string());
        used.insert(source);
        ColourImage result;
        const bool written = host.Process(colour, shadow ? &*shadow : nullptr,
                                          depth ? &*depth : nullptr, f->time, result);
        if (!written) {
            ++refused;
            std::fprintf(stderr, "lumafex: frame %lld (%s): the module refused the frame; no output written\n",
                         static_cast<long long>(f->number), f->colour.c_str());
            progress.FrameDone(f->number, "refused by the module");
            continue;
        }
        const std::filesystem::path parent = std::filesystem::path(output).parent_path();
        if (!parent.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(parent, ec);
            if (ec) throw std::runtime_error(parent.string() + ": cannot create folder: " + ec.message());
        }
        WriteFrameOutput(output, result, input, outputRequest);
        const std::string what = "wrote " + output + " (" + source + ")";
        progress.FrameDone(f->number, what.c_str());
    }
    progress.Finish();
    if (options.verbosity != Verbosity::Quiet) {
        for (const std::string& u : used) {
            std::fprintf(stderr, "lumafex: %s; working space %s\n", u.c_str(),
                         outputRequest.workingSpace.c_str());
        }
    }

    const std::vector<std::string> lines = host.Save();
    if (!options.saveScene.empty()) WriteSceneWithSettings(scene, lines, options.saveScene);
    if (refused > 0) {
        std::fprintf(stderr, "lumafex: %zu of %zu frames were refused by the module\n", refused,
                     frames.size());
        return kExitFramesRefused;
    }
    return kExitOk;
}

}  // namespace lumafex::tool

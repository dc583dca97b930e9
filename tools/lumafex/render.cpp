#include "render.h"

#include <cstdio>
#include <filesystem>
#include <limits>
#include <set>
#include <unordered_map>
#include <vector>
#include <stdexcept>

#include "file_identity.h"
#include "frame_io.h"
#include "host.h"
#include "interrupt.h"
#include "image_io.h"
#include "module_loader.h"
#include "scene.h"
#include "sequence.h"
#include "settings_block.h"

namespace lumafex::tool {

namespace {

int64_t ParseInteger(const std::string& text, const std::string& whole) {
    std::size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(text, &used);
    } catch (const std::out_of_range&) {
        // Digits beyond any integer: refused below as out of range.
        v = std::numeric_limits<long long>::max();
        used = text.find_first_not_of("+-0123456789") == std::string::npos ? text.size() : 0;
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size()) {
        throw std::invalid_argument("bad frame range \"" + whole + "\": expected A-B or A");
    }
    if (v < -kMaxFrameNumber || v > kMaxFrameNumber) {
        throw std::invalid_argument("bad frame range \"" + whole +
                                    "\": frame numbers go from -1000000000 to 1000000000");
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

struct FrameFiles {
    const SceneFrame* frame;
    std::string output;  // after --output-dir
};

std::string FrameName(const SceneFrame& f) { return "frame " + std::to_string(f.number); }

// Refuses, before anything is written, an output that would replace an
// input of any frame (or the scene), and two writes to the same file.
void CheckOutputsAreDistinct(const RenderOptions& options, const std::vector<FrameFiles>& frames) {
    std::unordered_map<std::string, std::string> inputs;  // identity -> what reads it
    inputs.emplace(FileIdentity(options.scene), "the input scene");
    for (const FrameFiles& f : frames) {
        for (const std::string* in : {&f.frame->colour, &f.frame->shadow, &f.frame->depth}) {
            if (!in->empty()) inputs.emplace(FileIdentity(*in), "an input of " + FrameName(*f.frame));
        }
    }
    std::unordered_map<std::string, std::string> outputs;
    auto claim = [&](const std::string& path, const std::string& who) {
        const std::string id = FileIdentity(path);
        if (const auto in = inputs.find(id); in != inputs.end()) {
            throw std::runtime_error(path + ": " + who + " would overwrite " + in->second +
                                     "; name another file (nothing was written)");
        }
        if (const auto [it, isNew] = outputs.emplace(id, who); !isNew) {
            throw std::runtime_error(path + ": " + it->second + " and " + who +
                                     " would write the same file (nothing was written)");
        }
    };
    for (const FrameFiles& f : frames) claim(f.output, FrameName(*f.frame));
    if (!options.saveScene.empty()) claim(options.saveScene, "--save-scene");
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
    std::vector<FrameFiles> frames;
    for (const SceneFrame& f : scene.frames) {
        if (options.frames && (f.number < options.frames->first || f.number > options.frames->second))
            continue;
        std::string output = f.output;
        if (!options.outputDir.empty()) {
            output = (std::filesystem::path(options.outputDir) /
                      std::filesystem::path(f.output).filename()).string();
        }
        frames.push_back({&f, std::move(output)});
    }
    if (frames.empty()) throw std::runtime_error(options.scene + ": no frames in the range asked for");
    CheckOutputsAreDistinct(options, frames);

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
    std::set<std::string> checkedFormats, checkedSpaces;
    for (const FrameFiles& files : frames) {
        if (checkedFormats.insert(Extension(files.output)).second)
            CheckOutputFormat(files.output, outputRequest.bits);
        const SceneFrame* f = files.frame;
        if (!f->colourSpace.empty() && checkedSpaces.insert(f->colourSpace).second)
            ResolveColourSpace(f->colourSpace, options.scene + ": colorSpace");
    }
    std::set<std::string> used;  // which channels and colour spaces the frames came from

    Progress progress(frames.size(), options.verbosity, options.logFormat);
    std::size_t refused = 0;
    for (const FrameFiles& files : frames) {
        const SceneFrame* f = files.frame;
        SetInterruptContext(FrameName(*f));
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
        const std::string& output = files.output;
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
            progress.FrameDone(f->number, FrameOutcome::Refused, "refused by the module");
            continue;
        }
        const std::filesystem::path parent = std::filesystem::path(output).parent_path();
        if (!parent.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(parent, ec);
            if (ec) throw std::runtime_error(parent.string() + ": cannot create folder: " + ec.message());
        }
        try {
            WriteFrameOutput(output, result, input, outputRequest);
        } catch (const std::exception& e) {
            throw std::runtime_error(FrameName(*f) + ": " + e.what());
        }
        const std::string what = "wrote " + output + " (" + source + ")";
        progress.FrameDone(f->number, FrameOutcome::Written, what);
    }
    SetInterruptContext("");
    std::vector<std::string> notes;
    for (const std::string& u : used) notes.push_back(u + "; working space " + outputRequest.workingSpace);
    progress.Finish(notes);

    const std::vector<std::string> lines = host.Save();
    if (!options.saveScene.empty()) {
        SetInterruptContext("saving the scene");
        WriteSceneWithSettings(scene, lines, options.saveScene);
        SetInterruptContext("");
    }
    if (refused > 0) {
        std::fprintf(stderr, "lumafex: %zu of %zu frames were refused by the module\n", refused,
                     frames.size());
        return kExitFramesRefused;
    }
    return kExitOk;
}

}  // namespace lumafex::tool

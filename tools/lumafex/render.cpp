#include "render.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <future>
#include <limits>
#include <memory>
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

std::string MissingInput(const SceneFrame& f) {
    for (const std::string* in : {&f.colour, &f.shadow, &f.depth}) {
        std::error_code ec;
        if (!in->empty() && !std::filesystem::exists(*in, ec)) return *in;
    }
    return {};
}

int Render(const RenderOptions& options) {
    const Scene scene = LoadScene(options.scene);
    std::vector<FrameFiles> frames;
    for (const SceneFrame* f : SelectFrames(scene, options.frames)) {
        std::string output = f->output;
        if (!options.outputDir.empty()) {
            output = (std::filesystem::path(options.outputDir) /
                      std::filesystem::path(f->output).filename()).string();
        }
        frames.push_back({f, std::move(output)});
    }
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
    Progress progress(frames.size(), options.verbosity, options.logFormat);
    // A frame's inputs, shared between the frame, a frame it stands in for
    // and the read that made them.
    struct Inputs {
        ColourInput colour;
        std::optional<GreyImage> shadow;
        std::optional<DepthImage> depth;
    };
    using SharedInputs = std::shared_ptr<const Inputs>;
    auto read = [&](const SceneFrame& f) -> SharedInputs {
        ColourRequest request;
        request.colourSpace = f.colourSpace;
        request.layer = f.colourLayer;
        request.workingSpace = outputRequest.workingSpace;
        auto in = std::make_shared<Inputs>(Inputs{ReadFrameColour(f.colour, request), std::nullopt, std::nullopt});
        const ColourImage& colour = in->colour.image;
        if (!f.shadow.empty()) {
            in->shadow = ReadShadow(f.shadow);
            CheckSameSize(f.colour, colour, f.shadow, in->shadow->width, in->shadow->height);
        }
        if (!f.depth.empty()) {
            in->depth = ReadFrameDepth(f.depth, f.depthChannel);
            CheckSameSize(f.colour, colour, f.depth, in->depth->width, in->depth->height);
        }
        return in;
    };

    // While the module works on a frame on this thread (its calls stay in
    // frame order: it keeps state from frame to frame), the next frame to
    // be read is read on another thread and the frame before is written on
    // a third. Without read-ahead each task runs here, in turn. Everything
    // a frame prints, and its line in the log, comes after the frame before
    // it is written, so the log reads as if the frames ran one by one.
    const std::launch launch = options.readAhead ? std::launch::async : std::launch::deferred;
    // Whether the frame at index will be read when its turn comes (the
    // files are looked at again then).
    auto willRead = [&](std::size_t index) {
        std::error_code ec;
        if (options.noClobber && std::filesystem::exists(frames[index].output, ec)) return false;
        return MissingInput(*frames[index].frame).empty();
    };
    struct ReadAhead {
        std::size_t index;
        std::shared_future<SharedInputs> inputs;
    };
    std::optional<ReadAhead> ahead;
    auto readAfter = [&](std::size_t index) {
        ahead.reset();
        for (std::size_t k = index + 1; k < frames.size(); ++k) {
            if (!willRead(k)) continue;
            const SceneFrame& f = *frames[k].frame;
            ahead = ReadAhead{k, std::async(launch, [&read, &f] { return read(f); }).share()};
            return;
        }
    };
    // The inputs of the frame at index: read ahead, or read now.
    auto inputsOf = [&](std::size_t index) -> SharedInputs {
        if (ahead && ahead->index == index) return ahead->inputs.get();
        return read(*frames[index].frame);
    };

    struct Writing {
        int64_t frame;
        FrameOutcome outcome;
        std::string what;  // the log's detail once written
        std::future<void> done;
    };
    std::optional<Writing> writing;
    // Waits for the write in flight and logs its frame; a failed write stops
    // the run, naming its frame.
    auto finishWrite = [&] {
        if (!writing) return;
        Writing w = std::move(*writing);
        writing.reset();
        try {
            w.done.get();
        } catch (const std::exception& e) {
            throw std::runtime_error("frame " + std::to_string(w.frame) + ": " + e.what());
        }
        progress.FrameDone(w.frame, w.outcome, w.what);
    };

    // The inputs of the last frame read, which stand in for missing frames.
    const bool standIns =
        options.missingFrames == MissingFrames::Hold || options.missingFrames == MissingFrames::Black;
    SharedInputs last;
    // The inputs that stand in for a missing frame: the last frame read, or
    // the next one that is there; all black (and transparent) for "black".
    auto standIn = [&](std::size_t index) -> SharedInputs {
        SharedInputs near = last;
        for (std::size_t k = index + 1; !near && k < frames.size(); ++k) {
            if (MissingInput(*frames[k].frame).empty()) near = inputsOf(k);
        }
        if (!near || options.missingFrames == MissingFrames::Hold) return near;
        auto black = std::make_shared<Inputs>(*near);
        ColourImage& c = black->colour.image;
        for (auto* plane : {&c.red, &c.green, &c.blue, &c.alpha}) std::fill(plane->begin(), plane->end(), 0);
        black->colour.channels = "a black frame";
        black->shadow.reset();
        black->depth.reset();
        return black;
    };

    std::set<std::string> used;  // which channels and colour spaces the frames came from
    std::size_t refused = 0;
    for (std::size_t index = 0; index < frames.size(); ++index) {
        try {
            const SceneFrame* f = frames[index].frame;
            const std::string& output = frames[index].output;
            SetInterruptContext(FrameName(*f));
            std::error_code ec;
            if (options.noClobber && std::filesystem::exists(output, ec)) {
                finishWrite();
                progress.FrameDone(f->number, FrameOutcome::Skipped, output + " exists (--no-clobber)");
                continue;
            }
            SharedInputs in;
            std::string note;
            if (const std::string missing = MissingInput(*f); !missing.empty()) {
                const std::string what = FrameName(*f) + ": " + missing + " is missing";
                if (options.missingFrames == MissingFrames::Error || options.missingFrames == MissingFrames::Skip) {
                    finishWrite();
                    if (options.missingFrames == MissingFrames::Error)
                        std::fprintf(stderr, "lumafex: %s; no output written\n", what.c_str());
                    progress.FrameDone(f->number, FrameOutcome::Missing, missing + " is missing");
                    continue;
                }
                try {
                    in = standIn(index);
                } catch (const std::exception& e) {
                    throw std::runtime_error(FrameName(*f) + ": " + e.what());
                }
                if (!in) {
                    finishWrite();
                    std::fprintf(stderr, "lumafex: %s, and no frame is there to stand in\n", what.c_str());
                    progress.FrameDone(f->number, FrameOutcome::Missing, missing + " is missing");
                    continue;
                }
                note = options.missingFrames == MissingFrames::Hold ? " (input missing: held)"
                                                                     : " (input missing: black)";
            } else {
                try {
                    in = inputsOf(index);
                } catch (const std::exception& e) {
                    throw std::runtime_error(FrameName(*f) + ": " + e.what());
                }
                if (standIns) last = in;
            }
            // The next frame is read while the module works on this one.
            if (!ahead || ahead->index <= index) readAfter(index);

            const ColourInput& input = in->colour;
            ColourImage colour = input.image;  // the module gets planes it may write to
            const std::optional<DepthImage>& depth = in->depth;
            const std::string source = "colour from " + input.channels + " (" + input.colourSpace +
                                       (input.premultiplied ? ", premultiplied" : "") + ")" +
                                       (depth ? ", depth from " + depth->channel : std::string());
            if (note.empty()) used.insert(source);
            ColourImage result;
            GreyImage shadow = in->shadow ? *in->shadow : GreyImage{};
            const bool written = host.Process(colour, in->shadow ? &shadow : nullptr,
                                              depth ? &*depth : nullptr, f->time, result);
            finishWrite();
            if (!written) {
                ++refused;
                std::fprintf(stderr, "lumafex: frame %lld (%s): the module refused the frame; no output written\n",
                             static_cast<long long>(f->number), f->colour.c_str());
                progress.FrameDone(f->number, FrameOutcome::Refused, "refused by the module");
                continue;
            }
            const std::filesystem::path parent = std::filesystem::path(output).parent_path();
            if (!parent.empty()) {
                std::filesystem::create_directories(parent, ec);
                if (ec) throw std::runtime_error(parent.string() + ": cannot create folder: " + ec.message());
            }
            // The write keeps what the output records of its input, not its pixels.
            ColourInput recorded{{}, input.channels, input.colourSpace, input.premultiplied, input.metadata};
            in.reset();
            writing = Writing{f->number, note.empty() ? FrameOutcome::Written : FrameOutcome::Missing,
                              "wrote " + output + note + " (" + source + ")",
                              std::async(launch, [&output, &outputRequest, result = std::move(result),
                                                  recorded = std::move(recorded)] {
                                  WriteFrameOutput(output, result, recorded, outputRequest);
                              })};
            if (!options.readAhead) finishWrite();
        } catch (...) {
            // The frame before this one is written (or its error reported) first.
            finishWrite();
            throw;
        }
    }
    finishWrite();
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
    const RunCounts& counts = progress.Counts();
    if (counts.missing > 0 || counts.skipped > 0) return kExitFramesSkipped;
    return kExitOk;
}

}  // namespace lumafex::tool

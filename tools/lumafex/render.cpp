#include "render.h"

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

// A frame's input that cannot be read, with what the image libraries
// printed while trying.
class UnreadableInput : public std::runtime_error {
public:
    UnreadableInput(const std::string& what, std::string printedThen, double readMsThen)
        : std::runtime_error(what), printed(std::move(printedThen)), readMs(readMsThen) {}
    std::string printed;
    double readMs;  // how long the attempt took
};

using StepClock = std::chrono::steady_clock;

double MillisecondsSince(StepClock::time_point start) {
    return std::chrono::duration<double, std::milli>(StepClock::now() - start).count();
}

struct FrameFiles {
    const SceneFrame* frame;
    std::string output;  // after --output-dir
};

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

int Render(const RenderOptions& options) {
    const Scene scene = LoadScene(options.scene);
    // The scene's colour configuration, unless --colorconfig named one.
    ChooseSceneColourConfiguration(scene.colour.colourConfig);
    std::vector<FrameFiles> frames;
    for (const SceneFrame* f : SelectFrames(scene, options.frames))
        frames.push_back({f, OutputPath(*f, options.outputDir)});
    CheckSceneOutputs(scene, options.outputDir, options.saveScene);
    // Stored values the dialog would refuse still filter as they always have.
    FilterSettings stored = SettingsFromLines(scene.settings ? *scene.settings : std::vector<std::string>{});
    if (scene.posterizePercent) stored.PosterizePercent = *scene.posterizePercent;
    for (const std::string& outside : SettingsOutsideRange(stored)) {
        LogMessage(LogLevel::Warning, options.scene + ": " + outside +
                                          " (kept and used as stored; lumafex set and the settings "
                                          "dialog would not take it)");
    }
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
    if (options.verbosity == Verbosity::Verbose) {
        LogMessage(LogLevel::Passed, "lumafex: colour configuration " + ColourConfigurationInUse());
        // main sets it from --threads or the CPUs this process may run on.
        const char* threads = std::getenv("LUMAFEX_THREADS");
        LogMessage(LogLevel::Passed, std::string("lumafex: threads ").append(threads != nullptr ? threads : "?"));
    }
    std::set<std::string> checkedFormats, checkedSpaces;
    for (const FrameFiles& files : frames) {
        if (checkedFormats.insert(Extension(files.output)).second)
            CheckOutputFormat(files.output, outputRequest.bits);
        const SceneFrame* f = files.frame;
        if (!f->colourSpace.empty() && checkedSpaces.insert(f->colourSpace).second)
            ResolveColourSpace(f->colourSpace, options.scene + ": colorSpace");
    }
    Progress progress(frames.size(), options.verbosity, options.logFormat, LogStream());
    // A frame's inputs, shared between the frame, a frame it stands in for
    // and the read that made them.
    struct Inputs {
        ColourInput colour;
        std::optional<GreyImage> shadow;
        std::optional<DepthImage> depth;
        mutable std::string printed;  // by the image libraries while reading; passed on once
        double readMs = 0.0;          // how long reading them took
    };
    using SharedInputs = std::shared_ptr<const Inputs>;
    auto read = [&](const SceneFrame& f) -> SharedInputs {
        auto in = std::make_shared<Inputs>();
        const StepClock::time_point start = StepClock::now();
        try {
            const PrintingInto printing(in->printed);
            ColourRequest request;
            request.colourSpace = f.colourSpace;
            request.layer = f.colourLayer;
            request.workingSpace = outputRequest.workingSpace;
            in->colour = ReadFrameColour(f.colour, request);
            const ColourImage& colour = in->colour.image;
            if (!f.shadow.empty()) {
                in->shadow = ReadShadow(f.shadow);
                CheckSameSize(f.colour, colour, f.shadow, in->shadow->width, in->shadow->height);
            }
            if (!f.depth.empty()) {
                in->depth = ReadFrameDepth(f.depth, f.depthChannel);
                CheckSameSize(f.colour, colour, f.depth, in->depth->width, in->depth->height);
            }
        } catch (const std::runtime_error& e) {
            throw UnreadableInput(e.what(), std::move(in->printed), MillisecondsSince(start));
        }
        in->readMs = MillisecondsSince(start);
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
        FrameTimes times;  // the write's own time is added once it is done
        std::shared_ptr<std::string> printed;
        std::future<double> done;  // how long the write took
    };
    std::optional<Writing> writing;
    // Waits for the write in flight and logs its frame; a failed write stops
    // the run, naming its frame.
    auto finishWrite = [&] {
        if (!writing) return;
        Writing w = std::move(*writing);
        writing.reset();
        try {
            w.times.writeMs = w.done.get();
        } catch (const std::exception& e) {
            PassOnPrinted(w.printed.get(), w.frame);
            throw std::runtime_error("frame " + std::to_string(w.frame) + ": " + e.what());
        }
        PassOnPrinted(w.printed.get(), w.frame);
        progress.FrameDone(w.frame, w.outcome, w.what, w.times);
    };

    // The inputs of the last frame read, which stand in for missing and
    // unreadable frames.
    const bool standIns =
        options.missingFrames == MissingFrames::Hold || options.missingFrames == MissingFrames::Black ||
        options.unreadableFrames == UnreadableFrames::Hold || options.unreadableFrames == UnreadableFrames::Black;
    SharedInputs last;
    // The inputs that stand in for a frame: the last frame read, or the next
    // one that is there and can be read; all black (and transparent) unless
    // held.
    auto standIn = [&](std::size_t index, bool hold) -> SharedInputs {
        SharedInputs near = last;
        for (std::size_t k = index + 1; !near && k < frames.size(); ++k) {
            if (!MissingInput(*frames[k].frame).empty()) continue;
            try {
                near = inputsOf(k);
            } catch (const std::runtime_error&) {
                // Cannot stand in; its own turn reports it.
            }
        }
        if (!near || hold) return near;
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
    std::size_t existing = 0;  // skipped under --no-clobber --existing-done
    for (std::size_t index = 0; index < frames.size(); ++index) {
        try {
            const SceneFrame* f = frames[index].frame;
            const std::string& output = frames[index].output;
            SetInterruptContext(FrameName(*f));
            std::error_code ec;
            if (options.noClobber && std::filesystem::exists(output, ec)) {
                finishWrite();
                PassOnPrinted();
                progress.FrameDone(f->number, FrameOutcome::Skipped, output + " exists (--no-clobber)");
                if (options.existingDone) ++existing;
                continue;
            }
            SharedInputs in;
            std::string note;
            FrameTimes times;
            if (const std::string missing = MissingInput(*f); !missing.empty()) {
                const std::string what = FrameName(*f) + ": " + missing + " is missing";
                if (options.missingFrames == MissingFrames::Error || options.missingFrames == MissingFrames::Skip) {
                    finishWrite();
                    PassOnPrinted();
                    if (options.missingFrames == MissingFrames::Error)
                        LogMessage(LogLevel::Error, what + "; no output written", f->number);
                    progress.FrameDone(f->number, FrameOutcome::Missing, missing + " is missing");
                    continue;
                }
                in = standIn(index, options.missingFrames == MissingFrames::Hold);
                if (!in) {
                    finishWrite();
                    PassOnPrinted();
                    LogMessage(LogLevel::Error, what + ", and no frame is there to stand in", f->number);
                    progress.FrameDone(f->number, FrameOutcome::Missing, missing + " is missing");
                    continue;
                }
                note = options.missingFrames == MissingFrames::Hold ? " (input missing: held)"
                                                                     : " (input missing: black)";
            } else {
                std::optional<std::string> unreadable;  // why the inputs cannot be read
                std::string printed;                    // and what the libraries printed then
                try {
                    in = inputsOf(index);
                } catch (const UnreadableInput& e) {
                    unreadable = e.what();
                    printed = e.printed;
                    times.readMs = e.readMs;
                }
                if (unreadable) {
                    // The next frame is read while this one is reported.
                    if (!ahead || ahead->index <= index) readAfter(index);
                    const UnreadableFrames policy = options.unreadableFrames;
                    const bool hold = policy == UnreadableFrames::Hold;
                    if (policy == UnreadableFrames::Black || hold) in = standIn(index, hold);
                    finishWrite();
                    PassOnPrinted(&printed, f->number);
                    PassOnPrinted();
                    const std::string what = FrameName(*f) + ": " + *unreadable;
                    if (policy == UnreadableFrames::Fail) {
                        LogMessage(LogLevel::Error, what + "; no output written", f->number);
                        progress.FrameDone(f->number, FrameOutcome::Failed, *unreadable, times);
                        continue;
                    }
                    if (!in) {
                        LogMessage(policy == UnreadableFrames::Skip ? LogLevel::Warning : LogLevel::Error,
                                   what + (policy == UnreadableFrames::Skip
                                               ? "; skipped (--unreadable-frames skip)"
                                               : "; no frame is there to stand in, no output written"),
                                   f->number);
                        progress.FrameDone(f->number, FrameOutcome::Missing, "unreadable: " + *unreadable, times);
                        continue;
                    }
                    LogMessage(LogLevel::Warning,
                               what + (hold ? "; the last frame read (or the next one) stands in" : "; a black frame stands in"),
                               f->number);
                    note = hold ? " (input unreadable: held)" : " (input unreadable: black)";
                } else {
                    times.readMs = in->readMs;
                    if (standIns) last = in;
                }
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
            const StepClock::time_point filterStart = StepClock::now();
            const bool written = host.Process(colour, in->shadow ? &shadow : nullptr,
                                              depth ? &*depth : nullptr, f->time, result);
            times.filterMs = MillisecondsSince(filterStart);
            times.filtered = true;
            finishWrite();
            // What reading this frame printed, then what the module did.
            if (note.empty()) PassOnPrinted(&in->printed, f->number);
            PassOnPrinted(nullptr, f->number);
            if (!written) {
                ++refused;
                LogMessage(LogLevel::Error,
                           FrameName(*f) + " (" + f->colour + "): the module refused the frame; no output written",
                           f->number);
                progress.FrameDone(f->number, FrameOutcome::Refused, "refused by the module", times);
                continue;
            }
            const std::filesystem::path parent = std::filesystem::path(output).parent_path();
            if (!parent.empty()) {
                std::filesystem::create_directories(parent, ec);
                if (ec) throw std::runtime_error(parent.string() + ": cannot create folder: " + ec.message());
            }
            // The write keeps what the output records of its input; its pixels
            // only when the input held more than bytes, for the output to keep
            // the values the module did not change.
            ColourInput recorded{input.values ? input.image : ColourImage{}, input.channels,
                                 input.colourSpace, input.premultiplied, input.metadata, input.values};
            in.reset();
            auto printed = std::make_shared<std::string>();
            writing = Writing{f->number, note.empty() ? FrameOutcome::Written : FrameOutcome::Missing,
                              "wrote " + output + note + " (" + source + ")", times, printed,
                              std::async(launch, [&output, &outputRequest, printed, result = std::move(result),
                                                  recorded = std::move(recorded)] {
                                  const PrintingInto printing(*printed);
                                  const StepClock::time_point start = StepClock::now();
                                  WriteFrameOutput(output, result, recorded, outputRequest);
                                  return MillisecondsSince(start);
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
        WriteSceneWithSettings(scene, lines, options.saveScene, host.PosterizePercent());
        SetInterruptContext("");
    }
    const RunCounts& counts = progress.Counts();
    const std::string ofAll = " of " + std::to_string(frames.size()) + " frames ";
    if (refused > 0) LogMessage(LogLevel::Error, std::to_string(refused) + ofAll + "were refused by the module");
    if (counts.failed > 0) {
        LogMessage(LogLevel::Error, std::to_string(counts.failed) + ofAll + "failed: their inputs could not be read");
        return kExitError;
    }
    if (refused > 0) return kExitFramesRefused;
    if (counts.missing > 0 || counts.skipped > existing) return kExitFramesSkipped;
    return kExitOk;
}

}  // namespace lumafex::tool

// lumafex: a substitute host for the Lumafex3 image filter module. It loads
// the module from its file exactly as the renderer does and drives image
// sequences through it.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "command_line/edit.h"
#include "farm/farm.h"
#include "image_files/frame_io.h"
#include "image_files/images.h"
#include "pictures/compare.h"
#include "pictures/demo.h"
#include "process/closest_name.h"
#include "process/interrupt.h"
#include "process/system.h"
#include "rendering/module_loader.h"
#include "rendering/render.h"
#include "scenes/filters_by_name.h"
#include "scenes/frame_list.h"
#include "scenes/scene.h"
#include "scenes/settings_block.h"

namespace {

using namespace lumafex::tool;

int Show(const std::string& scenePath) {
    const Scene scene = LoadScene(scenePath);
    if (!scene.settings) std::printf("(the scene stores no settings: these are the defaults)\n");
    const std::vector<std::string> none;
    lumafex::FilterSettings settings = SettingsFromLines(scene.settings ? *scene.settings : none);
    settings.PosterizePercent = ScenePosterizePercent(scene);
    std::fputs(SettingsTable(settings).c_str(), stdout);
    std::printf("While \"Use Nulls\" is on, an object named in NULL OBJECTS replaces that value "
                "for the frame.\n");
    std::printf("pngCompression %d: PNG outputs' zlib level, 0 (none, fastest) to 9 (smallest)%s\n",
                scene.colour.pngCompression.value_or(kDefaultPngCompression),
                scene.colour.pngCompression ? "" : " (the default)");
    return kExitOk;
}

// pngCompression=N, the scene's own key beside the filter settings: set in
// the file first; the edits left are the filter settings'.
std::vector<std::string> SetPngCompression(const std::string& scenePath, const std::vector<std::string>& edits) {
    constexpr std::string_view kKey = "pngCompression=";
    std::optional<int> level;
    std::vector<std::string> rest;
    for (const std::string& e : edits) {
        if (e.rfind(kKey, 0) != 0) {
            rest.push_back(e);
            continue;
        }
        const std::string value = e.substr(kKey.size());
        int n = -1;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (ec != std::errc() || end != value.data() + value.size() || n < 0 || n > 9)
            throw std::invalid_argument(e + ": pngCompression is a whole number from 0 (none, fastest) to 9 (smallest)");
        level = n;
    }
    if (!level) return rest;
    const Scene scene = LoadScene(scenePath);
    const int before = scene.colour.pngCompression.value_or(kDefaultPngCompression);
    if (scene.colour.pngCompression == level) {
        if (rest.empty() && !QuietLog())
            std::printf("no setting changed; %s is left as it was\n", TerminalSafe(scenePath).c_str());
        return rest;
    }
    WriteScenePngCompression(scene, *level, scenePath);
    if (!QuietLog()) std::printf("pngCompression: %d -> %d\n", before, *level);
    std::fflush(stdout);
    return rest;
}

int Set(const std::string& scenePath, const std::vector<std::string>& allEdits) {
    const std::vector<std::string> edits = SetPngCompression(scenePath, allEdits);
    if (edits.empty() && !allEdits.empty()) return kExitOk;
    const Scene scene = LoadScene(scenePath);
    const auto parsed = ParseEdits(edits);
    for (const std::string& beyond : EditsBeyondEffect(parsed))
        LogMessage(LogLevel::Warning, beyond);
    const std::vector<std::string> lines =
        EditLines(scene.settings ? &*scene.settings : nullptr, parsed);
    // The posterize strength is kept by name, beside the lines.
    std::optional<int32_t> posterize;
    for (const auto& [key, value] : parsed) {
        if (key == kNamedOnlySetting) posterize = value;
    }
    SaveChangedSettings(scene, lines, scenePath, posterize);
    return kExitOk;
}

// The names of app's commands, comma-separated.
std::string CommandList(CLI::App& app) {
    std::string out;
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
        out += (out.empty() ? "" : ", ") + sub->get_name();
    return out;
}

// After a command line CLI11 refused: "did you mean" for a misspelt
// command or option, the list of commands for an unknown or missing one
// (empty when there is nothing to add).
std::string SuggestFor(CLI::App& app, int argc, char** argv) {
    std::vector<CLI::App*> active{&app};
    auto names = [](CLI::App* parent) {
        std::vector<std::string> out;
        for (CLI::App* sub : parent->get_subcommands([](CLI::App*) { return true; }))
            out.push_back(sub->get_name());
        return out;
    };
    bool commandSeen = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.rfind("--", 0) == 0) {
            const std::string name = word.substr(0, word.find('='));
            std::vector<std::string> known;
            bool found = false;
            for (CLI::App* a : active) {
                for (const CLI::Option* opt : a->get_options()) {
                    for (const std::string& l : opt->get_lnames()) {
                        known.push_back("--" + l);
                        if ("--" + l != name) continue;
                        found = true;
                        // Its value is the next word unless given with "=".
                        if (opt->get_type_size_min() > 0 && word.find('=') == std::string::npos) ++i;
                    }
                }
            }
            if (!found) {
                const std::string near = ClosestName(name, known);
                return near.empty() ? std::string() : "did you mean \"" + near + "\"?";
            }
            continue;
        }
        if (word.rfind('-', 0) == 0) continue;
        CLI::App* sub = nullptr;
        for (CLI::App* candidate : active.back()->get_subcommands([](CLI::App*) { return true; })) {
            if (candidate->get_name() == word) sub = candidate;
        }
        if (sub != nullptr) {
            active.push_back(sub);
            commandSeen = true;
            continue;
        }
        if (!commandSeen || active.back()->get_subcommands([](CLI::App*) { return true; }).size() > 0) {
            const std::vector<std::string> commands = names(active.back());
            if (commands.empty()) continue;
            const std::string near = ClosestName(word, commands);
            if (!near.empty()) return "\"" + word + "\" is not a command; did you mean \"" + near + "\"?";
            return "\"" + word + "\" is not a command; the commands are: " + CommandList(*active.back());
        }
    }
    // No command where one is needed: name them.
    if (names(active.back()).empty()) return {};
    const std::string path = active.size() > 1 ? " " + active.back()->get_name() : "";
    return "a command is needed: " + CommandList(*active.back()) + " (lumafex" + path +
           " COMMAND --help for one)";
}

// The options above the commands, which every command may use.
struct HostOptions {
    std::string modulePath = DefaultModulePath();
    bool verbose = false, quiet = false;
    uint64_t memoryLimitMb = kDefaultMemoryBudget >> 20;
    std::string colourConfig;
    LogFormat logFormat = LogFormat::Text;
};

Verbosity LogVerbosity(const HostOptions& host) {
    return host.quiet ? Verbosity::Quiet : (host.verbose ? Verbosity::Verbose : Verbosity::Normal);
}

// A command of the command line: the CLI11 command it was parsed into and
// what runs it once it was (with the values its options were given).
struct Command {
    CLI::App* cli = nullptr;
    std::function<int()> run;
};

void SetUpProgram(CLI::App& app, HostOptions& host) {
    app.require_subcommand(1);
    // The options above the commands may stand anywhere on the line.
    app.fallthrough();
    app.set_version_flag("--version", std::string("lumafex ") + LUMAFEX_VERSION);
    app.footer("Exit status: 0 done, 1 error or frames whose inputs could not be read, 2 bad usage,\n"
               "3 some frames were refused by the module, 4 frames skipped or missing (compare: the\n"
               "images differ), 128 + the signal's number when a signal ends it: 130 SIGINT, 143\n"
               "SIGTERM, 129 SIGHUP (no unfinished file is left behind).\n"
               "Scene files are described in docs/scene-format.md.");

    app.add_option("--colorconfig", host.colourConfig,
                   "the OpenColorIO configuration file colour is converted with (render, demo, "
                   "compare, montage; farm submit passes it to every task); it wins over a "
                   "scene's colorConfig, which wins over $OCIO");
    app.add_option("--module", host.modulePath,
                   "the module file (default: lumafex3.p beside this program, else in "
                   "../lib/lumafex/, else $LUMAFEX_MODULE); a name without a folder is a file in "
                   "the current folder");
    app.add_option("--memory-limit", host.memoryLimitMb,
                   "the memory in MB any one image may make a reader allocate (pixels, a "
                   "decoder's tile); larger images are refused before a pixel is read")
        ->envname("LUMAFEX_MEMORY_LIMIT_MB")
        ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 20))
        ->capture_default_str();
    app.add_flag("-v,--verbose", host.verbose,
                 "one line per frame, also on a terminal (elsewhere, as in farm logs, that is "
                 "the default)");
    app.add_flag("-q,--quiet", host.quiet, "errors only: no progress, no summary");
    app.add_option("--log-format", host.logFormat,
                   "text, or json: every line on standard error (the per-frame records, the "
                   "summary, errors and warnings) a JSON record")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, LogFormat>{{"text", LogFormat::Text}, {"json", LogFormat::Json}},
            CLI::ignore_case))
        ->option_text("text|json");
}

constexpr const char* kCompressionHelp =
    "write EXR and TIFF outputs with this compression instead of their input's (EXR) or the "
    "format's default: none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa, dwab (zip, dwaa and dwab "
    "take a level: dwaa:45), lzw, packbits";

// --compression's check: empty when the name is known, else what is wrong.
std::string CompressionName(const std::string& name) {
    try {
        ChooseOutputCompression(name);
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

// The render command's values, as the command line gives them.
struct RenderCommand {
    RenderOptions render;
    std::string range;
    bool noReadAhead = false;
    int threads = 0;
    std::string compression;  // empty: each output as its input (EXR) or its format's default
};

// --missing-frames and --unreadable-frames: what a frame without a usable input becomes.
void AddFramePolicyOptions(CLI::App* renderCmd, RenderOptions& render) {
    renderCmd->add_option("--missing-frames", render.missingFrames,
                          "a frame whose input is missing: error (report it, render the rest, "
                          "exit 4), skip (exit 4), black or hold (render from a black frame or "
                          "the last one read, exit 4)")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, MissingFrames>{{"error", MissingFrames::Error},
                                                 {"skip", MissingFrames::Skip},
                                                 {"black", MissingFrames::Black},
                                                 {"hold", MissingFrames::Hold}},
            CLI::ignore_case))
        ->option_text("error|skip|black|hold");
    renderCmd->add_option("--unreadable-frames", render.unreadableFrames,
                          "a frame whose input is there but cannot be read (truncated, corrupt, "
                          "the wrong size): fail (report it, render the rest, exit 1), skip "
                          "(exit 4), black or hold (as for --missing-frames, exit 4)")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, UnreadableFrames>{{"fail", UnreadableFrames::Fail},
                                                    {"skip", UnreadableFrames::Skip},
                                                    {"black", UnreadableFrames::Black},
                                                    {"hold", UnreadableFrames::Hold}},
            CLI::ignore_case))
        ->option_text("fail|skip|black|hold");
}

int RunRender(RenderCommand& command, const HostOptions& host) {
    RenderOptions& render = command.render;
    render.module = host.modulePath;
    render.verbosity = LogVerbosity(host);
    render.logFormat = host.logFormat;
    render.readAhead = !command.noReadAhead;
    if (!command.range.empty()) render.frames = ParseFrameList(command.range);
    if (!command.compression.empty()) ChooseOutputCompression(command.compression);
    // The module reads its thread count from the environment.
    int threads = command.threads;
    const char* threadsVariable = std::getenv("LUMAFEX_THREADS");
    if (threads == 0 && (threadsVariable == nullptr || *threadsVariable == '\0'))
        threads = std::min(AllowedProcessors(), 256);
    if (threads > 0) {
        const std::string count = std::to_string(threads);
        if (!SetEnvironment("LUMAFEX_THREADS", count.c_str()))
            throw std::runtime_error("cannot pass --threads to the module through its environment");
    }
    KeepFreedMemoryForReuse(MemoryBudget());
    return Render(render);
}

Command AddRenderCommand(CLI::App& app, const HostOptions& host) {
    auto command = std::make_shared<RenderCommand>();
    RenderOptions& render = command->render;
    CLI::App* renderCmd = app.add_subcommand("render", "filter every frame of a scene");
    renderCmd->add_option("scene", render.scene, "the scene file (JSON)")->required();
    renderCmd->add_option("--frames", command->range,
                          "these frames, in this order: 7, 1-10, 1-10x2 (every second), 1-10y2 (the "
                          "others), 10-1 (backwards), or a comma list of these");
    AddFramePolicyOptions(renderCmd, render);
    renderCmd->add_flag("--no-clobber", render.noClobber,
                        "skip frames whose output exists (counted in the summary; exit 4)");
    renderCmd->add_flag("--existing-done", render.existingDone,
                        "with --no-clobber, frames whose output exists count as done (exit 0, "
                        "not 4), as for a farm task run again after a requeue");
    renderCmd->add_flag("--no-read-ahead", command->noReadAhead,
                        "read, filter and write each frame in turn (by default the next frame "
                        "is read and the last one written while the module works on a frame)");
    renderCmd->add_option("--frames-in-flight", render.framesInFlight,
                          "frames read, filtered and written at once (default: 3, and up to the "
                          "threads plus 2 while their images fit in --memory-limit)")
        ->check(CLI::Range(1, 64));
    renderCmd->add_option("--png-compression", render.pngCompression,
                          "the zlib level of PNG outputs, 0 (none, fastest) to 9 (smallest) "
                          "(default: the scene's pngCompression, else " +
                              std::to_string(kDefaultPngCompression) + ")")
        ->check(CLI::Range(0, 9));
    renderCmd->add_option("--compression", command->compression, kCompressionHelp)->check(CompressionName);
    renderCmd->add_flag("--dry-run", render.dryRun,
                        "print each frame's inputs (found or missing), its output (new, replaced "
                        "or skipped) and colour path, run the checks a render runs and exit as it "
                        "would; write nothing");
    renderCmd->add_option("--output-dir", render.outputDir,
                          "write the outputs into DIR instead of where the scene says");
    renderCmd->add_option("--save-scene", render.saveScene,
                          "write a copy of the scene with the module's settings after the "
                          "render to OUT (the input scene is never changed)");
    renderCmd->add_option("--threads", command->threads,
                          "threads the module filters each frame with (default: "
                          "LUMAFEX_THREADS, else one per CPU this process may run on: "
                          "SLURM_CPUS_PER_TASK in a Slurm job, else its CPU affinity)")
        ->check(CLI::Range(1, 256));
    return {renderCmd, [command, &host] { return RunRender(*command, host); }};
}

Command AddShowCommand(CLI::App& app) {
    auto scene = std::make_shared<std::string>();
    CLI::App* showCmd = app.add_subcommand("show", "list a scene's stored filter settings");
    showCmd->add_option("scene", *scene, "the scene file (JSON)")->required();
    return {showCmd, [scene] { return Show(*scene); }};
}

Command AddSetCommand(CLI::App& app) {
    struct Values {
        std::string scene;
        std::vector<std::string> edits;
    };
    auto values = std::make_shared<Values>();
    CLI::App* setCmd = app.add_subcommand("set", "change a scene's stored filter settings");
    setCmd->add_option("scene", values->scene,
                       "the scene file (JSON): each change is printed, and only the text of the "
                       "values that change is rewritten (safely)")
        ->required();
    setCmd->add_option("edits", values->edits, "KEY=VALUE, for example ContrastPercent=120")->required();
    return {setCmd, [values] { return Set(values->scene, values->edits); }};
}

Command AddEditCommand(CLI::App& app, const HostOptions& host) {
    auto edit = std::make_shared<EditOptions>();
    CLI::App* editCmd = app.add_subcommand(
        "edit", "change a scene's stored filter settings in the module's own settings dialog");
    editCmd->add_option("scene", edit->scene, "the scene file (JSON)")->required();
    editCmd->add_option("--save-scene", edit->saveScene,
                        "write the result to OUT instead of rewriting the scene");
    editCmd->add_option("--frame", edit->frame,
                        "the frame the dialog previews, with the null objects at its time "
                        "(default: the scene's first frame)");
    return {editCmd, [edit, &host] {
                edit->module = host.modulePath;
                return Edit(*edit);
            }};
}

Command AddDemoCommand(CLI::App& app, const HostOptions& host) {
    auto demo = std::make_shared<DemoOptions>();
    CLI::App* demoCmd = app.add_subcommand(
        "demo", "generate a small sequence and a scene that pulls focus with null objects, "
                "render it and write a contact sheet");
    demoCmd->add_option("dir", demo->dir, "the output folder")->capture_default_str();
    return {demoCmd, [demo, &host] {
                demo->module = host.modulePath;
                demo->verbosity = LogVerbosity(host);
                return RunDemo(*demo);
            }};
}

// farm submit, farm status and farm resume.
void AddFarmCommands(CLI::App& app, const HostOptions& host, std::vector<Command>& commands) {
    struct Values {
        FarmOptions farm;
        std::string farmRange;
        std::string farmFolder;
        bool resumeDryRun = false;
    };
    auto values = std::make_shared<Values>();
    FarmOptions& farm = values->farm;
    CLI::App* farmCmd = app.add_subcommand("farm", "render a scene's frames on a render farm (Slurm)");
    farmCmd->require_subcommand(1);
    CLI::App* submitCmd = farmCmd->add_subcommand(
        "submit", "split the frames into chunks and submit them as a Slurm job array, one "
                  "`lumafex render` per chunk; prints the job id (docs/farm.md)");
    submitCmd->add_option("scene", farm.scene, "the scene file (JSON)")->required();
    submitCmd->add_option("--chunk", farm.chunk, "frames per array task")
        ->capture_default_str()
        ->check(CLI::Range(int64_t{1}, int64_t{1000000000}));
    submitCmd->add_option("--frames", values->farmRange,
                          "only these frames: 7, 1-10, 1-10x2, 1-10y2, 10-1, or a comma list");
    submitCmd->add_option("--output-dir", farm.outputDir, "the tasks write their outputs into DIR");
    submitCmd->add_option("--farm-dir", farm.farmDir,
                          "job script, task logs and results (default: lumafex-farm beside the scene)");
    submitCmd->add_option("--partition", farm.partition, "the Slurm partition");
    submitCmd->add_option("--sbatch-arg", farm.sbatchArgs,
                          "one more argument for sbatch, repeatable (--sbatch-arg=--time=30)");
    submitCmd->add_option("--max-running", farm.maxRunning,
                          "run at most N of the job's tasks at a time (the array's %N)")
        ->check(CLI::Range(1, 100000));
    submitCmd->add_option("--cpus-per-task", farm.cpusPerTask,
                          "CPUs each task asks for; the task renders with that many threads")
        ->check(CLI::Range(1, 256));
    submitCmd->add_option("--time", farm.timeLimit, "each task's time limit, as sbatch reads it (30, 1:30:00)");
    submitCmd->add_option("--mem", farm.memory, "the memory each task asks for, as sbatch reads it (4G)");
    submitCmd->add_flag("--wait", farm.wait,
                        "wait for every task; exit non-zero naming the chunks that failed");
    submitCmd->add_option("--compression", farm.compression,
                          "the tasks write their outputs with this compression (as render --compression)")
        ->check(CompressionName);
    submitCmd->add_flag("--dry-run", farm.dryRun, "print the job script, submit nothing");
    commands.push_back({submitCmd, [values, &host] {
                            values->farm.module = host.modulePath;
                            values->farm.quiet = host.quiet;
                            if (!values->farmRange.empty()) values->farm.frames = ParseFrameList(values->farmRange);
                            return FarmSubmit(values->farm);
                        }});
    CLI::App* statusCmd = farmCmd->add_subcommand(
        "status", "each chunk of the jobs in a farm folder: done, failed (with its log), running, pending "
                  "or not run; exit 0 when every chunk is done, else 4");
    statusCmd->add_option("dir", values->farmFolder, "the farm folder (--farm-dir of the submit)")->required();
    commands.push_back({statusCmd, [values] { return FarmStatus(values->farmFolder); }});
    CLI::App* resumeCmd = farmCmd->add_subcommand(
        "resume", "submit again only the chunks of a farm folder's jobs that failed or never ran");
    resumeCmd->add_option("dir", values->farmFolder, "the farm folder (--farm-dir of the submit)")->required();
    resumeCmd->add_flag("--dry-run", values->resumeDryRun, "print the sbatch command, submit nothing");
    commands.push_back({resumeCmd, [values] { return FarmResume(values->farmFolder, values->resumeDryRun); }});
}

Command AddCompareCommand(CLI::App& app) {
    struct Values {
        std::string compareA, compareB, compareDiff;
        Thresholds compareLimits;
    };
    auto values = std::make_shared<Values>();
    CLI::App* compareCmd = app.add_subcommand(
        "compare", "compare two images: files with half or float channels by their stored values, "
                   "channel by channel by name (the largest error and where, how many values exceed "
                   "the thresholds, the PSNR; exit status 4 above the failure threshold), others byte "
                   "for byte as the module sees them (the largest difference, how many pixels differ "
                   "and where; exit status 0 identical, 4 different)");
    compareCmd->add_option("a", values->compareA, "the first image")->required();
    compareCmd->add_option("b", values->compareB, "the second image")->required();
    compareCmd->add_option("-o,--output", values->compareDiff,
                           "write a difference image: differing pixels in red over the first image in grey");
    Thresholds& compareLimits = values->compareLimits;
    const std::string storedOnly = " (files with half or float channels, compared by their stored values)";
    compareCmd->add_option("--fail", compareLimits.fail, "the failure threshold: a larger error fails" + storedOnly)
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    compareCmd->add_option("--warn", compareLimits.warn, "the warning threshold: a larger error warns" + storedOnly)
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    compareCmd->add_option("--fail-percent,--failpercent", compareLimits.failPercent,
                           "the share of values in percent that may be above --fail without failing" + storedOnly)
        ->check(CLI::Range(0.0, 100.0))
        ->capture_default_str();
    compareCmd->add_option("--hard-fail,--hardfail", compareLimits.hardFail,
                           "any error above this fails, whatever --fail-percent allows (default: none)" +
                               storedOnly)
        ->check(CLI::NonNegativeNumber);
    return {compareCmd, [values] {
                return CompareFiles(values->compareA, values->compareB, values->compareDiff,
                                    values->compareLimits);
            }};
}

Command AddMontageCommand(CLI::App& app) {
    struct Values {
        std::string montageOut;
        std::vector<std::string> montageItems, montageLabels;
        int montageColumns = 4, montageWidth = 320;
    };
    auto values = std::make_shared<Values>();
    CLI::App* montageCmd = app.add_subcommand(
        "montage", "lay images out in a labelled grid over a checkerboard (alpha shows)");
    montageCmd->add_option("-o,--output", values->montageOut, "the picture to write")->required();
    montageCmd->add_option("images", values->montageItems,
                           "IMAGE or IMAGE=LABEL (digits, A-Z); a name that is an existing file "
                           "is a file, \"=\" and all")
        ->required();
    montageCmd->add_option("--label", values->montageLabels,
                           "a label, repeatable: the labels go to the images in order, and every "
                           "IMAGE is then a file name as it stands")
        ->allow_extra_args(false);
    montageCmd->add_option("--columns", values->montageColumns, "images a row")->capture_default_str();
    montageCmd->add_option("--width", values->montageWidth, "largest tile width; larger images are shrunk")
        ->capture_default_str();
    return {montageCmd, [values] {
                WriteMontage(values->montageOut, values->montageItems, values->montageLabels,
                             values->montageColumns, values->montageWidth);
                return kExitOk;
            }};
}

// Parses the command line; an exit status when that is all there is to do
// (help, the version, or bad usage, reported).
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv) {
    // Alone, the program lists its commands and options (and, having done
    // nothing, exits as for bad usage).
    if (argc <= 1) {
        std::fputs(app.help().c_str(), stdout);
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version print and succeed; every other parse error is bad
        // usage, whatever CLI11's own code for it.
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            app.exit(e);
            return kExitOk;
        }
        // CLI11's "A subcommand is required" says less than the suggestion
        // or the list of commands that replaces it.
        const std::string hint = SuggestFor(app, argc, argv);
        const bool noCommand = dynamic_cast<const CLI::RequiredError*>(&e) != nullptr &&
                               std::string(e.what()).find("subcommand") != std::string::npos;
        if (!noCommand || hint.empty()) app.exit(e);
        if (!hint.empty()) std::fprintf(stderr, "lumafex: %s\n", hint.c_str());
        return kExitUsage;
    }
    return std::nullopt;
}

// Runs the command the line chose; its exit status, or the error's.
int RunCommand(const HostOptions& host, const std::vector<Command>& commands) {
    try {
        if (!host.colourConfig.empty())
            ChooseColourConfiguration(std::filesystem::absolute(host.colourConfig).lexically_normal().string(),
                                      "--colorconfig");
        for (const Command& command : commands) {
            if (*command.cli) return command.run();
        }
    } catch (const std::invalid_argument& e) {
        LogMessage(LogLevel::Error, e.what());
        return kExitUsage;
    } catch (const std::bad_alloc&) {
        LogMessage(LogLevel::Error, "out of memory (nothing was written; --memory-limit refuses "
                                    "large images before they are read)");
        return kExitError;
    } catch (const std::exception& e) {
        LogMessage(LogLevel::Error, e.what());
        return kExitError;
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"lumafex: render image sequences through the Lumafex3 filter module, "
                 "exactly as the renderer would"};
    HostOptions host;
    SetUpProgram(app, host);
    // One entry per command, in the order of the help text.
    std::vector<Command> commands;
    commands.push_back(AddRenderCommand(app, host));
    commands.push_back(AddShowCommand(app));
    commands.push_back(AddSetCommand(app));
    commands.push_back(AddEditCommand(app, host));
    commands.push_back(AddDemoCommand(app, host));
    AddFarmCommands(app, host, commands);
    commands.push_back(AddCompareCommand(app));
    commands.push_back(AddMontageCommand(app));

    if (const std::optional<int> status = ParseCommandLine(app, argc, argv)) return *status;
    SetMemoryBudget(host.memoryLimitMb << 20);
    InstallInterruptHandlers();
    SetLogStyle(host.logFormat, LogVerbosity(host));
    return RunCommand(host, commands);
}

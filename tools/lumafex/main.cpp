// lumafex: a substitute host for the Lumafex3 image filter module. It loads
// the module from its file exactly as the renderer does and drives image
// sequences through it.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "demo.h"
#include "edit.h"
#include "module_loader.h"
#include "render.h"
#include "scene.h"
#include "settings_block.h"

namespace {

using namespace lumafex::tool;

int Show(const std::string& scenePath) {
    const Scene scene = LoadScene(scenePath);
    if (!scene.settings) std::printf("(the scene stores no settings: these are the defaults)\n");
    const std::vector<std::string> none;
    std::fputs(SettingsTable(SettingsFromLines(scene.settings ? *scene.settings : none)).c_str(),
               stdout);
    return kExitOk;
}

int Set(const std::string& scenePath, const std::vector<std::string>& edits) {
    const Scene scene = LoadScene(scenePath);
    const auto parsed = ParseEdits(edits);
    const std::vector<std::string> lines =
        EditLines(scene.settings ? &*scene.settings : nullptr, parsed);
    WriteSceneWithSettings(scene, lines, scenePath);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"lumafex: render image sequences through the Lumafex3 filter module, "
                 "exactly as the renderer would"};
    app.require_subcommand(1);
    app.footer("Exit status: 0 done, 1 error, 2 bad usage, 3 some frames were refused by the module.\n"
               "Scene files are described in docs/scene-format.md.");

    std::string modulePath = DefaultModulePath();
    bool verbose = false, quiet = false;
    app.add_option("--module", modulePath, "the module file (default: beside this program)")
        ->capture_default_str();
    app.add_flag("-v,--verbose", verbose, "one line per frame");
    app.add_flag("-q,--quiet", quiet, "no progress output");

    RenderOptions render;
    std::string range;
    CLI::App* renderCmd = app.add_subcommand("render", "filter every frame of a scene");
    renderCmd->add_option("scene", render.scene, "the scene file (JSON)")->required();
    renderCmd->add_option("--frames", range, "only frames A to B (A-B, or one frame A)");
    renderCmd->add_option("--output-dir", render.outputDir,
                          "write the outputs into DIR instead of where the scene says");
    renderCmd->add_option("--save-scene", render.saveScene,
                          "write a copy of the scene with the module's settings after the "
                          "render to OUT (the input scene is never changed)");

    std::string showScene;
    CLI::App* showCmd = app.add_subcommand("show", "list a scene's stored filter settings");
    showCmd->add_option("scene", showScene, "the scene file (JSON)")->required();

    std::string setScene;
    std::vector<std::string> edits;
    CLI::App* setCmd = app.add_subcommand("set", "change a scene's stored filter settings");
    setCmd->add_option("scene", setScene, "the scene file (JSON), rewritten safely")->required();
    setCmd->add_option("edits", edits, "KEY=VALUE, for example ContrastPercent=120")->required();

    EditOptions edit;
    CLI::App* editCmd = app.add_subcommand(
        "edit", "change a scene's stored filter settings in the module's own settings dialog");
    editCmd->add_option("scene", edit.scene, "the scene file (JSON)")->required();
    editCmd->add_option("--save-scene", edit.saveScene,
                        "write the result to OUT instead of rewriting the scene");
    editCmd->add_option("--frame", edit.frame,
                        "the frame the dialog previews, with the null objects at its time "
                        "(default: the scene's first frame)");

    DemoOptions demo;
    CLI::App* demoCmd = app.add_subcommand(
        "demo", "generate a small sequence and a scene that pulls focus with null objects, "
                "render it and write a contact sheet");
    demoCmd->add_option("dir", demo.dir, "the output folder")->capture_default_str();

    CLI11_PARSE(app, argc, argv);
    const Verbosity verbosity = quiet ? Verbosity::Quiet : (verbose ? Verbosity::Verbose : Verbosity::Normal);
    try {
        if (*renderCmd) {
            render.module = modulePath;
            render.verbosity = verbosity;
            if (!range.empty()) render.frames = ParseFrameRange(range);
            return Render(render);
        }
        if (*showCmd) return Show(showScene);
        if (*setCmd) return Set(setScene, edits);
        if (*editCmd) {
            edit.module = modulePath;
            return Edit(edit);
        }
        if (*demoCmd) {
            demo.module = modulePath;
            demo.verbosity = verbosity;
            return RunDemo(demo);
        }
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "lumafex: %s\n", e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumafex: %s\n", e.what());
        return kExitError;
    }
    return kExitUsage;
}

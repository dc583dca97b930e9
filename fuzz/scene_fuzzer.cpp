// Fuzz target for the host program's scene files.
//
// Input: the text of a scene file. Each run loads it from memory. A scene
// the loader refuses must give a SceneError that names the file; a scene it
// accepts must hold what the checks promise: frames with a colour and an
// output path, finite times, items with keys sorted by time and finite
// positions, and a document that writes back and loads as the same scene;
// the text edited in place for new settings reads as that document.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "scene_limits.h"
#include "scenes/json_text_edit.h"
#include "scenes/scene.h"

namespace {

using namespace lumafex::tool;

const std::string kPath = "/fuzz/scene.json";

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "scene check failed: %s\n", what);
        std::abort();
    }
}

void CheckItems(const std::vector<SceneItem>& items) {
    for (const SceneItem& item : items) {
        Check(!item.keys.empty(), "an item without keys");
        for (std::size_t k = 0; k < item.keys.size(); ++k) {
            const PositionKey& key = item.keys[k];
            Check(std::isfinite(key.time), "a key time is not finite");
            for (double p : key.position) Check(std::isfinite(p), "a key position is not finite");
            Check(k == 0 || item.keys[k - 1].time <= key.time, "keys are not sorted by time");
        }
        double at[3];
        item.PositionAt(item.keys.front().time - 1.0, at);
        for (double p : at) Check(std::isfinite(p), "a position before the keys is not finite");
    }
}

void CheckScene(const Scene& scene) {
    CheckItems(scene.cameras);
    CheckItems(scene.objects);
    for (const SceneFrame& frame : scene.frames) {
        Check(!frame.colour.empty() && !frame.output.empty(), "a frame without colour or output");
        Check(!std::isnan(frame.time), "a frame time is NaN");
    }
}

bool SameFrames(const Scene& a, const Scene& b) {
    if (a.frames.size() != b.frames.size()) return false;
    for (std::size_t i = 0; i < a.frames.size(); ++i) {
        const SceneFrame& x = a.frames[i];
        const SceneFrame& y = b.frames[i];
        if (x.number != y.number || x.colour != y.colour || x.shadow != y.shadow ||
            x.depth != y.depth || x.output != y.output) {
            return false;
        }
        // The same number in the same text: the times match to the bit.
        if (std::memcmp(&x.time, &y.time, sizeof x.time) != 0) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!lumafex::fuzz::WithinLimits(text)) return 0;
    Scene scene;
    try {
        scene = ParseScene(text, kPath);
    } catch (const SceneError& e) {
        const std::string message = e.what();
        Check(message.compare(0, kPath.size() + 2, kPath + ": ") == 0, "error does not name the file");
        return 0;
    }
    CheckScene(scene);

    // Writing the scene back keeps everything but the settings lines.
    const std::vector<std::string> lines = {"Version 1", "Passes 2"};
    nlohmann::ordered_json doc = scene.document;
    doc["settings"] = lines;
    const Scene again = ParseScene(doc.dump(2) + "\n", kPath);
    Check(again.settings && *again.settings == lines, "settings lines do not write back");
    Check(SameFrames(scene, again), "frames differ after writing back");
    Check(again.cameras.size() == scene.cameras.size() && again.objects.size() == scene.objects.size(),
          "items differ after writing back");

    // Only the changed values' text rewritten: the same document as the
    // whole one written out.
    const nlohmann::ordered_json full = SceneDocumentWithSettings(scene, lines);
    if (const std::optional<std::string> edited = EditJsonText(text, scene.document, full)) {
        const nlohmann::ordered_json read = nlohmann::ordered_json::parse(*edited, nullptr, false);
        Check(!read.is_discarded() && read == full, "the edited text does not read as the new document");
    }
    return 0;
}

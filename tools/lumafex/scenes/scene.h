// A scene for the host program, kept in a JSON file: whether it renders
// fields, its cameras and objects with position keys, the filter's stored
// settings lines, and the frames with their input and output images.
// docs/scene-format.md describes the format.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace lumafex::tool {

class SceneError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PositionKey {
    double time = 0.0;
    double position[3] = {0.0, 0.0, 0.0};
};

struct SceneItem {
    std::string name;
    std::vector<PositionKey> keys;  // sorted by time

    // Linear between keys, held before the first and after the last.
    void PositionAt(double time, double out[3]) const;
};

struct SceneFrame {
    int64_t number = 0;
    double time = 0.0;
    std::string colour;  // resolved paths
    std::string shadow;  // empty: no shadow image
    std::string depth;   // empty: no depth buffer
    std::string output;
    // How the colour input is read (docs/scene-format.md): its colour space
    // (empty: from the file's metadata, else by its type), the layer or
    // channel names of colour, and the depth channel (empty: the default
    // rules).
    std::string colourSpace;
    std::vector<std::string> colourLayer;  // one layer name, or 3 or 4 channel names
    std::string depthChannel;
};

// How the module's bytes are made and written back.
struct SceneColour {
    std::string workingSpace = "sRGB";  // the module's bytes are in this space
    std::string outputColourSpace;      // empty: float outputs go back to the input's space
    int outputBits = 0;                 // 0: the format's default (EXR half, others 8)
    std::optional<int> pngCompression;  // PNG outputs' zlib level, 0 to 9; absent: the default
    std::string colourConfig;           // the OpenColorIO file; empty: --colorconfig, else $OCIO
};

struct Scene {
    std::string path;
    bool renderFields = false;
    std::vector<SceneItem> cameras;
    std::vector<SceneItem> objects;
    std::optional<std::vector<std::string>> settings;  // the stored lines, if any
    bool settingsByName = false;  // the lines were made from a "filters" object
    // The posterize strength, kept by name in "filters" (the stored lines
    // leave it out); absent: the module's default.
    std::optional<int32_t> posterizePercent;
    SceneColour colour;
    std::vector<SceneFrame> frames;
    nlohmann::ordered_json document;  // the file as read, for writing back
    std::string text;                 // and its text, whose layout a write keeps
};

// Limits on what a scene may ask for, each refused with a clear error.
inline constexpr uint64_t kMaxSceneFileBytes = uint64_t{64} << 20;  // 64 MB
inline constexpr int kMaxJsonDepth = 64;            // arrays and objects nested in each other
inline constexpr int64_t kMaxSceneFrames = 1000000;  // frames in one scene
inline constexpr double kMinFps = 0.001;
inline constexpr double kMaxFps = 10000.0;
inline constexpr std::size_t kMaxPathLength = 4096;  // an image path after expansion

// Reads and checks a scene file (a regular file of at most
// kMaxSceneFileBytes). Errors name the file and, for JSON syntax, the line,
// column and the JSON library's reason; unknown keys are refused.
Scene LoadScene(const std::string& path);
// The same checks on a scene's text held in memory; path names it in
// messages, and relative image paths are relative to path's folder.
Scene ParseScene(const std::string& text, const std::string& path);

// The scene's document with the given settings lines. A scene that gave
// its settings by name gets them back by name: the names it gave keep their
// place (and stay when set back to their defaults), others that differ
// from their defaults follow them. Stored lines whose values did not
// change keep their text. A scene without settings gets the lines before
// its colour keys and frames. posterizePercent, when given and not what the
// scene holds, goes into "filters" by name (after the stored lines, for a
// scene that has them).
nlohmann::ordered_json SceneDocumentWithSettings(const Scene& scene, const std::vector<std::string>& lines,
                                                 std::optional<int32_t> posterizePercent = std::nullopt);

// The text of that document: the scene's own text with only the values
// that changed rewritten (and new ones inserted at the file's indentation),
// or, for a layout that cannot be followed, the whole document written out.
std::string SceneTextWithSettings(const Scene& scene, const std::vector<std::string>& lines,
                                  std::optional<int32_t> posterizePercent = std::nullopt);

// Writes SceneTextWithSettings to path, safely (whole or not at all).
void WriteSceneWithSettings(const Scene& scene, const std::vector<std::string>& lines,
                            const std::string& path,
                            std::optional<int32_t> posterizePercent = std::nullopt);

// Writes the scene to path (whole or not at all) with its pngCompression set
// to level, the rest of its text as it was.
void WriteScenePngCompression(const Scene& scene, int level, const std::string& path);

// A stored setting whose value the lines change.
struct SettingChange {
    std::string name;
    int32_t before = 0;
    int32_t after = 0;
};
std::vector<SettingChange> ChangedSettings(const Scene& scene, const std::vector<std::string>& lines,
                                           std::optional<int32_t> posterizePercent = std::nullopt);

// The posterize strength a render of the scene uses.
int32_t ScenePosterizePercent(const Scene& scene);

}  // namespace lumafex::tool

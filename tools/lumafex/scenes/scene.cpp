#include "scenes/scene.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

#include "image_files/files.h"
#include "image_files/images.h"
#include "scenes/filters_by_name.h"
#include "scenes/json_text_edit.h"
#include "scenes/sequence.h"
#include "scenes/settings_block.h"
#include "settings/settings_fields.h"

namespace lumafex::tool {

using Json = nlohmann::ordered_json;

namespace {

// A scene's keys, in the order docs/scene-format.md gives them.
constexpr std::initializer_list<const char*> kSceneKeys = {
    "renderFields", "fps",          "cameras",          "objects",    "settings",       "filters",
    "colorConfig",  "workingSpace", "outputColorSpace", "outputBits", "pngCompression", "frames"};

class Checker {
public:
    explicit Checker(std::string path) : path_(std::move(path)) {}

    [[noreturn]] void Fail(const std::string& where, const std::string& what) const {
        throw SceneError(path_ + ": " + where + ": " + what);
    }

    void OnlyKeys(const Json& object, const std::string& where,
                  std::initializer_list<const char*> allowed) const {
        if (!object.is_object()) Fail(where, "must be an object");
        const std::set<std::string> names(allowed.begin(), allowed.end());
        for (const auto& [key, value] : object.items()) {
            if (names.count(key) == 0) Fail(where, "unknown key \"" + key + "\"");
        }
    }
    const Json& Required(const Json& object, const char* key, const std::string& where) const {
        if (!object.contains(key)) Fail(where, std::string("missing \"") + key + "\"");
        return object.at(key);
    }
    double Number(const Json& value, const std::string& where) const {
        if (!value.is_number()) Fail(where, "must be a number");
        const double v = value.get<double>();
        if (!std::isfinite(v)) Fail(where, "must be a finite number");
        return v;
    }
    int64_t FrameNumber(const Json& value, const std::string& where) const {
        if (!value.is_number_integer()) Fail(where, "must be a whole number");
        const bool inRange =
            value.is_number_unsigned()
                ? value.get<uint64_t>() <= static_cast<uint64_t>(kMaxFrameNumber)
                : value.get<int64_t>() >= -kMaxFrameNumber && value.get<int64_t>() <= kMaxFrameNumber;
        if (!inRange) Fail(where, "frame numbers go from -1000000000 to 1000000000");
        return value.get<int64_t>();
    }
    std::string String(const Json& value, const std::string& where) const {
        if (!value.is_string()) Fail(where, "must be a text");
        return value.get<std::string>();
    }
    // A file name: not empty, and without a NUL, where the system would end
    // it (two names that differ only after one would be the same file).
    std::string Path(const Json& value, const std::string& where) const {
        std::string text = String(value, where);
        if (text.empty()) Fail(where, "must name a file");
        if (text.find('\0') != std::string::npos) Fail(where, "a file name cannot contain a NUL character");
        return text;
    }

private:
    std::string path_;
};

// 1-based line and column of a byte offset in text.
std::string LineAndColumn(const std::string& text, std::size_t offset) {
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// The deepest nesting of arrays and objects, and where it first passes
// kMaxJsonDepth (npos when it never does). Strings are skipped as the JSON
// lexer skips them, so brackets inside them do not count.
std::size_t TooDeepAt(const std::string& text) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxJsonDepth) return i;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return std::string::npos;
}

// The JSON library's reason without its "[json.exception...]" tag and its
// own position (the message gives line and column itself).
std::string LibraryReason(const std::string& what) {
    std::string reason = what;
    if (reason.rfind("[json.exception.", 0) == 0) {
        const std::size_t close = reason.find("] ");
        if (close != std::string::npos) reason.erase(0, close + 2);
    }
    if (reason.rfind("parse error", 0) == 0) {
        const std::size_t colon = reason.find(": ");
        if (colon != std::string::npos) reason.erase(0, colon + 2);
    }
    return reason;
}

// Builds the document like the library's own parser, but keeps the position
// of the first error, whatever its kind (syntax, a number out of range).
class DocumentBuilder : public nlohmann::detail::json_sax_dom_parser<Json> {
public:
    explicit DocumentBuilder(Json& document) : json_sax_dom_parser(document, false) {}
    template <class Exception>
    bool parse_error(std::size_t position, const std::string& /*token*/, const Exception& ex) {
        errorAt = position;
        reason = LibraryReason(ex.what());
        return false;
    }
    std::size_t errorAt = 0;
    std::string reason;
};

std::vector<SceneItem> ReadItems(const Checker& check, const Json& doc, const char* key) {
    std::vector<SceneItem> items;
    if (!doc.contains(key)) return items;
    const Json& list = doc.at(key);
    if (!list.is_array()) check.Fail(key, "must be a list");
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string where = std::string(key) + "[" + std::to_string(i) + "]";
        check.OnlyKeys(list[i], where, {"name", "keys"});
        SceneItem item;
        item.name = check.String(check.Required(list[i], "name", where), where + ".name");
        const Json& keys = check.Required(list[i], "keys", where);
        if (!keys.is_array() || keys.empty()) check.Fail(where + ".keys", "must be a non-empty list");
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const std::string kw = where + ".keys[" + std::to_string(k) + "]";
            check.OnlyKeys(keys[k], kw, {"time", "position"});
            PositionKey pk;
            pk.time = check.Number(check.Required(keys[k], "time", kw), kw + ".time");
            const Json& pos = check.Required(keys[k], "position", kw);
            if (!pos.is_array() || pos.size() != 3) check.Fail(kw + ".position", "must be [x, y, z]");
            for (int c = 0; c < 3; ++c)
                pk.position[c] = check.Number(pos[static_cast<std::size_t>(c)], kw + ".position");
            item.keys.push_back(pk);
        }
        std::stable_sort(item.keys.begin(), item.keys.end(),
                         [](const PositionKey& a, const PositionKey& b) { return a.time < b.time; });
        items.push_back(std::move(item));
    }
    return items;
}

// A range's frames all hold their expanded paths: refuse a table that
// would take more than the memory budget (a million frames of long paths).
void CheckFrameTable(const Checker& check, const Json& frames, uint64_t count) {
    uint64_t perFrame = sizeof(SceneFrame);
    for (const char* key : {"color", "shadow", "depth", "output"}) {
        if (frames.contains(key) && frames[key].is_string())
            perFrame += frames[key].get_ref<const std::string&>().size() + 64;
    }
    if (perFrame > MemoryBudget() / count)
        check.Fail("frames", "the frame list would need more memory than the limit of " +
                                 std::to_string(MemoryBudget() >> 20) + " MB");
}

std::string Resolve(const std::filesystem::path& base, const std::string& path) {
    if (path.empty()) return path;
    const std::filesystem::path p(path);
    return p.is_absolute() ? path : (base / p).lexically_normal().string();
}

}  // namespace

void SceneItem::PositionAt(double time, double out[3]) const {
    if (keys.empty()) {
        out[0] = out[1] = out[2] = 0.0;
        return;
    }
    const PositionKey* before = &keys.front();
    if (time <= before->time) {
        std::copy(before->position, before->position + 3, out);
        return;
    }
    for (std::size_t i = 1; i < keys.size(); ++i) {
        const PositionKey& after = keys[i];
        if (time < after.time) {
            const double t = (time - before->time) / (after.time - before->time);
            for (int c = 0; c < 3; ++c) {
                out[c] = before->position[c] + (after.position[c] - before->position[c]) * t;
            }
            return;
        }
        before = &after;
    }
    std::copy(before->position, before->position + 3, out);
}

Scene LoadScene(const std::string& path) { return ParseScene(ReadWholeFile(path, kMaxSceneFileBytes), path); }

namespace {

// The document itself: JSON, nested no deeper than the reader allows.
void ParseDocument(const std::string& text, const std::string& path, Json& document) {
    if (const std::size_t at = TooDeepAt(text); at != std::string::npos) {
        throw SceneError(path + ": " + LineAndColumn(text, at) +
                         ": not valid here: lists and objects nested more than " +
                         std::to_string(kMaxJsonDepth) + " deep");
    }
    DocumentBuilder builder(document);
    if (!Json::sax_parse(text, &builder) || !builder.reason.empty()) {
        throw SceneError(path + ": " + LineAndColumn(text, builder.errorAt > 0 ? builder.errorAt - 1 : 0) +
                         ": not valid JSON: " + builder.reason);
    }
}

// "settings" (the stored lines) and "filters" (by name).
void ReadSceneSettings(const Checker& check, const Json& doc, const std::string& path, Scene& scene) {
    if (doc.contains("settings")) {
        const Json& lines = doc["settings"];
        if (!lines.is_array()) check.Fail("settings", "must be a list of lines");
        std::vector<std::string> stored;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            stored.push_back(check.String(lines[i], "settings[" + std::to_string(i) + "]"));
        }
        try {
            CheckStoredLineNames(stored, "settings");
        } catch (const std::runtime_error& e) {
            throw SceneError(path + ": " + e.what());
        }
        scene.settings = std::move(stored);
    }
    if (doc.contains("filters")) {
        // Beside stored lines, "filters" may keep only what the lines leave out.
        const bool besideLines = doc.contains("settings");
        if (besideLines && !(doc["filters"].is_object() && doc["filters"].size() == 1 &&
                             doc["filters"].contains(kNamedOnlySetting))) {
            check.Fail("scene",
                       "gives both \"filters\" (by name) and \"settings\" (the stored "
                       "lines); keep one (beside \"settings\", \"filters\" may hold only " +
                           std::string(kNamedOnlySetting) + ", which the lines leave out)");
        }
        try {
            if (!besideLines) scene.settings = LinesFromNamedFilters(doc["filters"], "filters");
            scene.posterizePercent = PosterizeFromFilters(doc["filters"], "filters");
        } catch (const std::runtime_error& e) {
            throw SceneError(path + ": " + e.what());
        }
        scene.settingsByName = !besideLines;
    }
}

// The colour keys: working and output spaces, bits, PNG compression.
void ReadColourKeys(const Checker& check, const Json& doc, Scene& scene) {
    if (doc.contains("workingSpace")) {
        scene.colour.workingSpace = check.String(doc["workingSpace"], "workingSpace");
        if (scene.colour.workingSpace.empty()) check.Fail("workingSpace", "must name a colour space");
    }
    if (doc.contains("outputColorSpace")) {
        scene.colour.outputColourSpace = check.String(doc["outputColorSpace"], "outputColorSpace");
    }
    if (doc.contains("outputBits")) {
        const Json& bits = doc["outputBits"];
        if (bits != 8 && bits != 16 && bits != 32) check.Fail("outputBits", "must be 8, 16 or 32");
        scene.colour.outputBits = bits.get<int>();
    }
    if (doc.contains("pngCompression")) {
        const Json& level = doc["pngCompression"];
        if (!level.is_number_integer() || level < 0 || level > 9)
            check.Fail("pngCompression", "must be a whole number from 0 (none, fastest) to 9 (smallest)");
        scene.colour.pngCompression = level.get<int>();
    }
}

// What a frame's entry names, with the keys every form of "frames" shares.
struct FrameReader {
    const Checker& check;
    const std::filesystem::path& base;
    double fps;

    // The path under key, with the frame number put in; empty when absent.
    std::string Pattern(const Json& entry, const std::string& where, int64_t number, const char* key,
                        bool required) const {
        if (!entry.contains(key)) {
            if (required) check.Fail(where, std::string("missing \"") + key + "\"");
            return {};
        }
        std::string resolved;
        try {
            resolved = Resolve(base, ExpandFramePattern(check.Path(entry[key], where + "." + key), number));
        } catch (const std::length_error& e) {
            check.Fail(where + "." + key, e.what());
        }
        if (resolved.size() > kMaxPathLength)
            check.Fail(where + "." + key,
                       "the path is longer than " + std::to_string(kMaxPathLength) + " characters");
        return resolved;
    }

    SceneFrame Read(const Json& entry, const std::string& where, int64_t number,
                    std::optional<double> time) const {
        SceneFrame f;
        f.number = number;
        f.time = time ? *time : static_cast<double>(number) / fps;
        f.colour = Pattern(entry, where, number, "color", true);
        f.shadow = Pattern(entry, where, number, "shadow", false);
        f.depth = Pattern(entry, where, number, "depth", false);
        f.output = Pattern(entry, where, number, "output", true);
        if (entry.contains("colorSpace"))
            f.colourSpace = check.String(entry["colorSpace"], where + ".colorSpace");
        if (entry.contains("colorLayer")) {
            const Json& layer = entry["colorLayer"];
            if (layer.is_string()) {
                f.colourLayer.push_back(layer.get<std::string>());
            } else if (layer.is_array() && (layer.size() == 3 || layer.size() == 4)) {
                for (std::size_t c = 0; c < layer.size(); ++c)
                    f.colourLayer.push_back(check.String(layer[c], where + ".colorLayer"));
            } else {
                check.Fail(where + ".colorLayer",
                           "must be a layer name or a list of 3 or 4 channel names (R, G, B, A)");
            }
        }
        if (entry.contains("depthChannel")) {
            f.depthChannel = check.String(entry["depthChannel"], where + ".depthChannel");
            if (f.depth.empty())
                check.Fail(where + ".depthChannel", "needs \"depth\" (the file to take it from)");
        }
        return f;
    }
};

// "frames" as an object with first and last.
void ReadFrameRange(const Checker& check, const Json& frames, const FrameReader& reader, Scene& scene) {
    check.OnlyKeys(
        frames, "frames",
        {"first", "last", "color", "shadow", "depth", "output", "colorSpace", "colorLayer", "depthChannel"});
    const int64_t first = check.FrameNumber(check.Required(frames, "first", "frames"), "frames.first");
    const int64_t last = check.FrameNumber(check.Required(frames, "last", "frames"), "frames.last");
    if (last < first) check.Fail("frames", "last comes before first");
    const int64_t count = last - first + 1;  // both within +-10^9: no overflow
    if (count > kMaxSceneFrames)
        check.Fail("frames", "more than " + std::to_string(kMaxSceneFrames) + " frames");
    const std::string output = check.Path(check.Required(frames, "output", "frames"), "frames.output");
    bool numbered = false;
    bool kept = false;
    try {
        numbered = HasFrameNumber(output);
        // "renders/####/.." names the same folder for every frame.
        auto normal = [&](int64_t n) {
            return (reader.base / ExpandFramePattern(output, n)).lexically_normal();
        };
        kept = normal(0) != normal(1);
    } catch (const std::length_error& e) {
        check.Fail("frames.output", e.what());
    }
    if (first != last && !numbered)
        check.Fail("frames.output", "needs a frame number (#, @ or %04d) for a sequence");
    if (first != last && !kept)
        check.Fail("frames.output",
                   "its frame number is in a folder that \"..\" leaves again; "
                   "every frame would write the same file");
    CheckFrameTable(check, frames, static_cast<uint64_t>(count));
    scene.frames.reserve(static_cast<std::size_t>(count));
    for (int64_t n = first; n <= last; ++n)
        scene.frames.push_back(reader.Read(frames, "frames", n, std::nullopt));
}

// "frames" as a list of frames.
void ReadFrameList(const Checker& check, const Json& frames, const FrameReader& reader, Scene& scene) {
    if (frames.size() > static_cast<std::size_t>(kMaxSceneFrames))
        check.Fail("frames", "more than " + std::to_string(kMaxSceneFrames) + " frames");
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::string where = "frames[" + std::to_string(i) + "]";
        check.OnlyKeys(frames[i], where,
                       {"frame", "time", "color", "shadow", "depth", "output", "colorSpace", "colorLayer",
                        "depthChannel"});
        const int64_t number = check.FrameNumber(check.Required(frames[i], "frame", where), where + ".frame");
        std::optional<double> time;
        if (frames[i].contains("time")) time = check.Number(frames[i]["time"], where + ".time");
        scene.frames.push_back(reader.Read(frames[i], where, number, time));
    }
}

}  // namespace

Scene ParseScene(const std::string& text, const std::string& path) {
    Scene scene;
    scene.path = path;
    scene.text = text;
    ParseDocument(text, path, scene.document);
    const Checker check(path);
    const Json& doc = scene.document;
    check.OnlyKeys(doc, "scene", kSceneKeys);
    if (doc.contains("renderFields")) {
        if (!doc["renderFields"].is_boolean()) check.Fail("renderFields", "must be true or false");
        scene.renderFields = doc["renderFields"].get<bool>();
    }
    double fps = 24.0;
    if (doc.contains("fps")) {
        fps = check.Number(doc["fps"], "fps");
        if (!(fps >= kMinFps && fps <= kMaxFps)) check.Fail("fps", "must be from 0.001 to 10000");
    }
    scene.cameras = ReadItems(check, doc, "cameras");
    scene.objects = ReadItems(check, doc, "objects");
    ReadSceneSettings(check, doc, path, scene);
    ReadColourKeys(check, doc, scene);

    const std::filesystem::path base = std::filesystem::path(path).parent_path();
    if (doc.contains("colorConfig"))
        scene.colour.colourConfig = Resolve(base, check.Path(doc["colorConfig"], "colorConfig"));
    const FrameReader reader{check, base, fps};
    if (!doc.contains("frames")) check.Fail("scene", "missing \"frames\"");
    const Json& frames = doc["frames"];
    if (frames.is_object()) {
        ReadFrameRange(check, frames, reader, scene);
    } else if (frames.is_array()) {
        ReadFrameList(check, frames, reader, scene);
    } else {
        check.Fail("frames", "must be a list of frames or an object with first and last");
    }
    return scene;
}

namespace {

// The scene's document with the lines, as they were given (by name or as
// stored lines).
Json DocumentWithLines(const Scene& scene, const std::vector<std::string>& lines) {
    Json doc = scene.document;
    if (scene.settingsByName) {
        const FilterSettings s = SettingsFromLines(lines);
        Json& named = doc["filters"];
        for (const SettingsField& f : kSettingsFields) {
            if (!f.inScene) continue;
            const int32_t value = s.*f.member;
            // A name the file gives keeps its place, even at its default.
            if (named.contains(f.name) || value != f.defaultValue) named[f.name] = value;
        }
        return doc;
    }
    if (doc.contains("settings")) {
        // The module reads the lines by position, each into its own field.
        const std::vector<std::string>& old = *scene.settings;
        const std::vector<std::string> oldAsSaved = LinesFromSettings(SettingsFromLines(old));
        Json kept = Json::array();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const bool same = i < old.size() && i < oldAsSaved.size() && oldAsSaved[i] == lines[i];
            kept.push_back(same ? old[i] : lines[i]);
        }
        doc["settings"] = std::move(kept);
        return doc;
    }
    // New: before the first key that comes after it in the usual order.
    const auto settingsAt = std::find(kSceneKeys.begin(), kSceneKeys.end(), std::string_view("settings"));
    Json placed = Json::object();
    bool added = false;
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        const bool later =
            std::find(settingsAt, kSceneKeys.end(), std::string_view(it.key())) != kSceneKeys.end();
        if (later && !added) {
            placed["settings"] = lines;
            added = true;
        }
        placed[it.key()] = it.value();
    }
    if (!added) placed["settings"] = lines;
    return placed;
}

}  // namespace

int32_t ScenePosterizePercent(const Scene& scene) {
    return scene.posterizePercent.value_or(FindSettingsField(kNamedOnlySetting)->defaultValue);
}

Json SceneDocumentWithSettings(const Scene& scene, const std::vector<std::string>& lines,
                               std::optional<int32_t> posterizePercent) {
    Json doc = DocumentWithLines(scene, lines);
    if (!posterizePercent || *posterizePercent == ScenePosterizePercent(scene)) return doc;
    if (doc.contains("filters")) {
        doc["filters"][kNamedOnlySetting] = *posterizePercent;
        return doc;
    }
    // Beside stored lines: a "filters" holding it alone, right after them.
    Json placed = Json::object();
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        placed[it.key()] = it.value();
        if (it.key() == "settings") {
            placed["filters"] = Json::object();
            placed["filters"][kNamedOnlySetting] = *posterizePercent;
        }
    }
    return placed;
}

std::string SceneTextWithSettings(const Scene& scene, const std::vector<std::string>& lines,
                                  std::optional<int32_t> posterizePercent) {
    const Json doc = SceneDocumentWithSettings(scene, lines, posterizePercent);
    if (const std::optional<std::string> edited = EditJsonText(scene.text, scene.document, doc)) {
        // Kept only when it reads back as the document itself.
        const Json again = Json::parse(*edited, nullptr, false);
        if (!again.is_discarded() && again == doc) return *edited;
    }
    return doc.dump(2) + "\n";
}

void WriteSceneWithSettings(const Scene& scene, const std::vector<std::string>& lines,
                            const std::string& path, std::optional<int32_t> posterizePercent) {
    const std::string text = SceneTextWithSettings(scene, lines, posterizePercent);
    WriteBytesSafely(path, text);
}

void WriteScenePngCompression(const Scene& scene, int level, const std::string& path) {
    // A new key goes before the frames, where docs/scene-format.md lists it.
    Json doc = Json::object();
    for (const auto& [key, value] : scene.document.items()) {
        if (key == "frames" && !scene.document.contains("pngCompression")) doc["pngCompression"] = level;
        doc[key] = key == "pngCompression" ? Json(level) : value;
    }
    if (!doc.contains("pngCompression")) doc["pngCompression"] = level;
    std::string text = doc.dump(2) + "\n";
    if (const std::optional<std::string> edited = EditJsonText(scene.text, scene.document, doc)) {
        const Json again = Json::parse(*edited, nullptr, false);
        if (!again.is_discarded() && again == doc) text = *edited;
    }
    WriteBytesSafely(path, text);
}

std::vector<SettingChange> ChangedSettings(const Scene& scene, const std::vector<std::string>& lines,
                                           std::optional<int32_t> posterizePercent) {
    const std::vector<std::string> none;
    const FilterSettings before = SettingsFromLines(scene.settings ? *scene.settings : none);
    const FilterSettings after = SettingsFromLines(lines);
    std::vector<SettingChange> changes;
    for (const SettingsField& f : kSettingsFields) {
        if (f.inScene && before.*f.member != after.*f.member)
            changes.push_back({f.name, before.*f.member, after.*f.member});
    }
    if (posterizePercent && *posterizePercent != ScenePosterizePercent(scene))
        changes.push_back({kNamedOnlySetting, ScenePosterizePercent(scene), *posterizePercent});
    return changes;
}

}  // namespace lumafex::tool

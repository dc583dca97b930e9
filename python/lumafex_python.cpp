// The Python package's native part (lumafex._lumafex): the host program's
// own code behind numpy arrays and scene files. Nothing here filters or
// converts colour itself: arrays reach the module through the same Host the
// render command uses, float colour through the same readers and writers as
// float files, and scenes through the same loader, writer and Render.
//
// The module's entries carry no context, so one Host is active at a time:
// every call that drives the module releases the GIL and then takes
// g_hostMutex, and a Module keeps its Host until it is closed.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <OpenImageIO/imageio.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "command_line/edit.h"
#include "image_files/frame_io.h"
#include "image_files/image_io.h"
#include "image_files/images.h"
#include "image_files/stored_values.h"
#include "process/progress.h"
#include "rendering/host.h"
#include "rendering/module_loader.h"
#include "rendering/render.h"
#include "scenes/filters_by_name.h"
#include "scenes/frame_list.h"
#include "scenes/scene.h"
#include "scenes/settings_block.h"
#include "settings/settings_fields.h"

namespace py = pybind11;

namespace lumafex::tool {
namespace {

std::mutex g_hostMutex;
// The Module whose Host is active between calls, if any (under g_hostMutex).
const void* g_openModule = nullptr;
PyObject* g_settingNameError = nullptr;

// Set on the thread that holds the host, so that a render's progress
// callback calling back in gets an error instead of waiting for itself.
thread_local bool g_holdingHost = false;

// Runs work without the GIL and with the host to itself.
template <typename Work>
auto WithHost(Work&& work) {
    if (g_holdingHost) throw std::runtime_error("lumafex cannot be called from a render's progress callback");
    const py::gil_scoped_release released;
    const std::lock_guard<std::mutex> lock(g_hostMutex);
    struct Holding {
        Holding() { g_holdingHost = true; }
        ~Holding() { g_holdingHost = false; }
    } holding;
    return work();
}

void RefuseWhileModuleOpen(const void* self) {
    if (g_openModule != nullptr && g_openModule != self) {
        throw std::runtime_error("a lumafex.Module is open and holds the module's host; close it "
                                 "(Module.close(), or use it in a with block) first");
    }
}

std::unique_ptr<LoadedModule> OpenModule(const std::string& path) {
    std::string error;
    std::unique_ptr<LoadedModule> module = LoadedModule::Open(path, error);
    if (!module) throw std::runtime_error(error);
    return module;
}

// ----- settings -----------------------------------------------------------

// The names lumafex show lists: the stored settings and the one kept by name.
bool Listed(const SettingsField& f) { return f.inScene || std::strcmp(f.name, kNamedOnlySetting) == 0; }

const SettingsField& ListedField(const std::string& name) {
    const SettingsField* field = FindSettingsField(name.c_str());
    if (field != nullptr && Listed(*field)) return *field;
    try {
        static_cast<void>(ParseEdits({name + "=0"}));  // throws the command line's message
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(g_settingNameError, e.what());
        throw py::error_already_set();
    }
    throw std::logic_error(name + ": a setting without a field");
}

// A value as the command line's KEY=VALUE would give it, checked by the same parser.
std::pair<std::string, int32_t> ParsedEdit(const std::string& name, py::handle value) {
    ListedField(name);
    if (!py::isinstance<py::int_>(value)) {
        throw py::type_error(name + ": the value must be a whole number, not " +
                             std::string(py::str(py::type::of(value).attr("__name__"))));
    }
    return ParseEdits({name + "=" + std::string(py::str(value))}).front();
}

void WarnBeyondEffect(const std::vector<std::pair<std::string, int32_t>>& edits) {
    for (const std::string& beyond : EditsBeyondEffect(edits))
        if (PyErr_WarnEx(PyExc_UserWarning, beyond.c_str(), 1) != 0) throw py::error_already_set();
}

// The filter settings by name. Detached, a record of its own; bound to a
// scene file, every change is written to it as lumafex set writes it.
class Settings {
public:
    Settings() { ResetToDefaults(record_); }

    // A copy of a Settings (detached), or the defaults with a dict's values.
    static Settings FromMapping(py::handle values) {
        if (py::isinstance<Settings>(values)) return FromRecord(values.cast<const Settings&>().record_);
        Settings s;
        if (!values.is_none()) s.Update(values);
        return s;
    }
    static Settings FromRecord(const FilterSettings& record) {
        Settings s;
        s.record_ = record;
        return s;
    }
    static Settings OfScene(const std::string& path) {
        Settings s;
        s.Reload(path);
        s.scene_ = path;
        return s;
    }

    int32_t Get(const std::string& name) const { return record_.*ListedField(name).member; }
    void Set(const std::string& name, py::handle value) {
        Apply({ParsedEdit(name, value)});
    }
    // Returns the changes: (name, before, after) for each value that changed.
    std::vector<std::tuple<std::string, int32_t, int32_t>> Update(py::handle values) {
        if (!py::isinstance<py::dict>(values) && !py::isinstance<Settings>(values))
            throw py::type_error("settings: expected a dict of name: value, or lumafex.Settings");
        std::vector<std::pair<std::string, int32_t>> edits;
        const py::dict items = py::isinstance<Settings>(values) ? values.cast<const Settings&>().ToDict()
                                                                : values.cast<py::dict>();
        for (const auto& [key, value] : items) {
            if (!py::isinstance<py::str>(key))
                throw py::type_error("settings: names are strings, as lumafex show prints them");
            edits.push_back(ParsedEdit(key.cast<std::string>(), value));
        }
        return Apply(edits);
    }
    py::dict ToDict() const {
        py::dict out;
        for (const SettingsField& f : kSettingsFields)
            if (Listed(f)) out[py::str(f.name)] = record_.*f.member;
        return out;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const SettingsField& f : kSettingsFields)
            if (Listed(f)) names.emplace_back(f.name);
        return names;
    }
    bool Has(const std::string& name) const {
        const SettingsField* f = FindSettingsField(name.c_str());
        return f != nullptr && Listed(*f);
    }
    std::string Table() const { return SettingsTable(record_); }
    std::vector<std::string> Lines() const { return LinesFromSettings(record_); }
    const FilterSettings& Record() const { return record_; }
    const std::string& ScenePath() const { return scene_; }

private:
    void Reload(const std::string& path) {
        const Scene scene = LoadScene(path);
        const std::vector<std::string> none;
        record_ = SettingsFromLines(scene.settings ? *scene.settings : none);
        record_.PosterizePercent = ScenePosterizePercent(scene);
    }

    std::vector<std::tuple<std::string, int32_t, int32_t>> Apply(
        const std::vector<std::pair<std::string, int32_t>>& edits) {
        WarnBeyondEffect(edits);
        std::vector<std::tuple<std::string, int32_t, int32_t>> out;
        if (scene_.empty()) {
            for (const auto& [name, value] : edits) {
                int32_t& field = record_.*ListedField(name).member;
                if (field != value) out.emplace_back(name, field, value);
                field = value;
            }
            return out;
        }
        // As lumafex set: the scene read again, only the changed values rewritten.
        const Scene scene = LoadScene(scene_);
        const std::vector<std::string> lines = EditLines(scene.settings ? &*scene.settings : nullptr, edits);
        std::optional<int32_t> posterize;
        for (const auto& [key, value] : edits)
            if (key == kNamedOnlySetting) posterize = value;
        const std::vector<SettingChange> changes = ChangedSettings(scene, lines, posterize);
        if (!changes.empty()) WriteSceneWithSettings(scene, lines, scene_, posterize);
        for (const SettingChange& c : changes) out.emplace_back(c.name, c.before, c.after);
        Reload(scene_);
        return out;
    }

    FilterSettings record_{};
    std::string scene_;  // empty: detached
};

// ----- arrays -------------------------------------------------------------

std::string ShapeText(const py::array& a) {
    std::string s = "(";
    for (py::ssize_t i = 0; i < a.ndim(); ++i) {
        if (i > 0) s += ", ";
        s += std::to_string(a.shape(i));
    }
    return s + (a.ndim() == 1 ? ",)" : ")");
}

std::string TypeName(const py::array& a) { return py::str(a.dtype()).cast<std::string>(); }

bool IsFloatArray(const py::array& a) { return a.dtype().kind() == 'f'; }

py::array AsArray(py::handle value, const char* what) {
    if (!py::isinstance<py::array>(value))
        throw py::type_error(std::string(what) + ": expected a numpy array, not " +
                             std::string(py::str(py::type::of(value).attr("__name__"))));
    return py::reinterpret_borrow<py::array>(value);
}

// A frame from arrays, as the module will get it.
struct ArrayFrame {
    int32_t width = 0, height = 0;
    int channels = 4;
    bool isFloat = false;
    ColourImage colour;          // uint8 colour
    std::vector<float> rgba;     // float colour, 4 values a pixel
    std::optional<GreyImage> shadow;
    std::optional<DepthImage> depth;
};

ArrayFrame FrameFromArrays(py::handle rgbaValue, py::handle depthValue, py::handle shadowValue) {
    const py::array rgba = AsArray(rgbaValue, "rgba");
    if (rgba.ndim() != 3 || (rgba.shape(2) != 3 && rgba.shape(2) != 4))
        throw py::value_error("rgba: expected shape (height, width, 4) or (height, width, 3), not " +
                              ShapeText(rgba));
    ArrayFrame frame;
    frame.isFloat = IsFloatArray(rgba);
    if (!frame.isFloat && rgba.dtype().not_equal(py::dtype::of<uint8_t>()))
        throw py::type_error("rgba: expected uint8 (the module's bytes) or float values, not " + TypeName(rgba));
    try {
        CheckImageSize("rgba", rgba.shape(1), rgba.shape(0));
    } catch (const ImageError& e) {
        throw py::value_error(e.what());
    }
    frame.height = static_cast<int32_t>(rgba.shape(0));
    frame.width = static_cast<int32_t>(rgba.shape(1));
    frame.channels = static_cast<int>(rgba.shape(2));
    const std::size_t n = PixelCount(frame.width, frame.height);
    const auto c = static_cast<std::size_t>(frame.channels);
    if (frame.isFloat) {
        const auto values = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(rgba);
        const float* p = values.data();
        frame.rgba.assign(n * 4, 1.0f);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t k = 0; k < c; ++k) frame.rgba[4 * i + k] = p[c * i + k];
    } else {
        const auto bytes = py::array_t<uint8_t, py::array::c_style | py::array::forcecast>::ensure(rgba);
        const uint8_t* p = bytes.data();
        frame.colour.Resize(frame.width, frame.height);
        std::vector<uint8_t>* planes[4] = {&frame.colour.red, &frame.colour.green, &frame.colour.blue,
                                           &frame.colour.alpha};
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t k = 0; k < 4; ++k) (*planes[k])[i] = k < c ? p[c * i + k] : 255;
    }
    auto checkPlane = [&](const py::array& plane, const char* what) {
        if (plane.ndim() != 2)
            throw py::value_error(std::string(what) + ": expected shape (height, width), not " + ShapeText(plane));
        if (plane.shape(0) != frame.height || plane.shape(1) != frame.width)
            throw py::value_error(std::string(what) + ": " + std::to_string(plane.shape(1)) + "x" +
                                  std::to_string(plane.shape(0)) + " does not match the colour image rgba (" +
                                  std::to_string(frame.width) + "x" + std::to_string(frame.height) + ")");
    };
    if (!shadowValue.is_none()) {
        const py::array shadow = AsArray(shadowValue, "shadow");
        if (shadow.dtype().not_equal(py::dtype::of<uint8_t>()))
            throw py::type_error("shadow: expected uint8 values, not " + TypeName(shadow));
        checkPlane(shadow, "shadow");
        const auto bytes = py::array_t<uint8_t, py::array::c_style | py::array::forcecast>::ensure(shadow);
        frame.shadow = GreyImage{frame.width, frame.height, std::vector<uint8_t>(bytes.data(), bytes.data() + n)};
    }
    if (!depthValue.is_none()) {
        const py::array depth = AsArray(depthValue, "depth");
        if (!IsFloatArray(depth)) throw py::type_error("depth: expected float32 values, not " + TypeName(depth));
        checkPlane(depth, "depth");
        const auto values = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(depth);
        frame.depth = DepthImage{frame.width, frame.height, std::vector<float>(values.data(), values.data() + n),
                                 "depth"};
    }
    return frame;
}

// The null objects for the module: {name: [(time, x, y, z), ...] or (x, y, z)}.
std::vector<SceneItem> ObjectsFrom(py::handle objects) {
    std::vector<SceneItem> items;
    if (objects.is_none()) return items;
    if (!py::isinstance<py::dict>(objects))
        throw py::type_error("objects: expected a dict of name: (x, y, z) or [(time, x, y, z), ...]");
    for (const auto& [key, value] : objects.cast<py::dict>()) {
        SceneItem item;
        item.name = py::str(key).cast<std::string>();
        const std::string what = "objects[\"" + item.name + "\"]";
        std::vector<std::vector<double>> keys;
        try {
            const auto position = value.cast<std::vector<double>>();
            if (position.size() != 3) throw py::value_error(what + ": a position is (x, y, z)");
            keys.push_back({0.0, position[0], position[1], position[2]});
        } catch (const py::cast_error&) {
            try {
                keys = value.cast<std::vector<std::vector<double>>>();
            } catch (const py::cast_error&) {
                throw py::type_error(what + ": expected (x, y, z) or a list of (time, x, y, z) keys");
            }
        }
        for (const auto& k : keys) {
            if (k.size() != 4) throw py::value_error(what + ": a key is (time, x, y, z)");
            item.keys.push_back(PositionKey{k[0], {k[1], k[2], k[3]}});
        }
        std::stable_sort(item.keys.begin(), item.keys.end(),
                         [](const PositionKey& a, const PositionKey& b) { return a.time < b.time; });
        items.push_back(std::move(item));
    }
    return items;
}

// A private folder for the files float colour goes through, removed with it.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumafex-python-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error(pattern + ": cannot create a temporary folder: " + std::strerror(errno));
        path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Float colour as a float file holds it: EXR for premultiplied colour, TIFF
// (unassociated alpha) otherwise, so that the readers and writers of float
// files take it the way they take such files.
void WriteFloatFile(const std::string& path, const ArrayFrame& frame, bool premultiplied) {
    OIIO::ImageSpec layout(frame.width, frame.height, 4, OIIO::TypeDesc::FLOAT);
    layout.alpha_channel = 3;
    layout.attribute("compression", "none");
    if (!premultiplied) layout.attribute("oiio:UnassociatedAlpha", 1);
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, layout) || !out->write_image(OIIO::TypeDesc::FLOAT, frame.rgba.data()) ||
        !out->close()) {
        throw std::runtime_error(path + ": cannot write the array's colour: " +
                                 (out ? out->geterror() : OIIO::geterror()));
    }
}

struct ColourOptions {
    std::string colourSpace = "linear";  // of float arrays
    bool premultiplied = true;           // float arrays
    bool asBytes = false;                // float arrays give the module's bytes back
    std::string workingSpace = "sRGB";
};

struct FrameResult {
    ColourImage bytes;
    std::vector<float> rgba;  // float arrays: 4 values a pixel
};

// One frame through the module (the host lock held, no GIL).
FrameResult FilterFrame(Host& host, ArrayFrame& frame, double time, const ColourOptions& options,
                        const std::vector<std::string>& settingsLines) {
    FrameResult out;
    GreyImage* shadow = frame.shadow ? &*frame.shadow : nullptr;
    const DepthImage* depth = frame.depth ? &*frame.depth : nullptr;
    auto refused = [] { return std::runtime_error("the module refused the frame; no output written"); };
    if (!frame.isFloat) {
        if (!host.Process(frame.colour, shadow, depth, time, out.bytes)) throw refused();
        return out;
    }
    const TemporaryFolder folder;
    const std::string ext = options.premultiplied ? ".exr" : ".tif";
    const std::string input = folder.File("colour" + ext), output = folder.File("filtered" + ext);
    WriteFloatFile(input, frame, options.premultiplied);
    ColourRequest request;
    request.colourSpace = options.colourSpace;
    request.workingSpace = options.workingSpace;
    ColourInput in = ReadFrameColour(input, request);
    ColourImage colour = in.image;
    if (!host.Process(colour, shadow, depth, time, out.bytes)) throw refused();
    // The bytes are what an 8-bit output in the working space holds.
    if (options.asBytes) return out;
    OutputRequest write;
    write.workingSpace = options.workingSpace;
    write.bits = 32;
    write.settingsLines = settingsLines;
    WriteFrameOutput(output, out.bytes, in, write);
    const std::vector<StoredChannel> stored = ReadStoredValues(output);
    const std::size_t n = PixelCount(frame.width, frame.height);
    out.rgba.assign(n * 4, 0.0f);
    const char* names[4] = {"R", "G", "B", "A"};
    for (std::size_t k = 0; k < 4; ++k) {
        const auto it = std::find_if(stored.begin(), stored.end(),
                                     [&](const StoredChannel& s) { return s.name == names[k]; });
        if (it == stored.end() || it->values.size() != n)
            throw std::runtime_error(std::string("the filtered colour has no channel ") + names[k]);
        for (std::size_t i = 0; i < n; ++i) out.rgba[4 * i + k] = it->values[i];
    }
    return out;
}

py::array ArrayOf(const FrameResult& result, const ArrayFrame& frame) {
    const auto h = static_cast<py::ssize_t>(frame.height), w = static_cast<py::ssize_t>(frame.width);
    const auto c = static_cast<std::size_t>(frame.channels);
    const std::size_t n = PixelCount(frame.width, frame.height);
    if (!result.rgba.empty()) {
        py::array_t<float> out({h, w, static_cast<py::ssize_t>(c)});
        float* p = out.mutable_data();
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t k = 0; k < c; ++k) p[c * i + k] = result.rgba[4 * i + k];
        return out;
    }
    py::array_t<uint8_t> out({h, w, static_cast<py::ssize_t>(c)});
    uint8_t* p = out.mutable_data();
    const std::vector<uint8_t>* planes[4] = {&result.bytes.red, &result.bytes.green, &result.bytes.blue,
                                             &result.bytes.alpha};
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < c; ++k) p[c * i + k] = (*planes[k])[i];
    return out;
}

ColourOptions ColourOptionsFrom(const std::string& colourSpace, bool premultiplied, const std::string& workingSpace,
                                bool asBytes) {
    ColourOptions options;
    options.asBytes = asBytes;
    options.colourSpace = colourSpace;
    options.premultiplied = premultiplied;
    options.workingSpace = workingSpace;
    // Names are checked before the module runs (an unknown one is a ValueError).
    try {
        options.colourSpace = ResolveColourSpace(colourSpace, "colour_space");
        options.workingSpace = ResolveColourSpace(workingSpace, "working_space");
    } catch (const std::runtime_error& e) {
        throw py::value_error(e.what());
    }
    return options;
}

// ----- the module kept loaded --------------------------------------------

class Module {
public:
    explicit Module(std::string path) : path_(std::move(path)) {
        scene_.path = "python";
        WithHost([&] {
            RefuseWhileModuleOpen(this);
            module_ = OpenModule(path_);
            host_ = std::make_unique<Host>(*module_, scene_);
            g_openModule = this;
        });
    }
    ~Module() {
        try {
            Close();
        } catch (...) {
            // Closing only releases; nothing to report from a destructor.
        }
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    void Close() {
        WithHost([&] {
            host_.reset();
            module_.reset();
            if (g_openModule == this) g_openModule = nullptr;
        });
    }

    py::array Process(py::handle rgba, py::handle settings, py::handle depth, py::handle shadow, double time,
                      py::handle objects, const std::string& colourSpace, bool premultiplied,
                      const std::string& workingSpace, bool asBytes) {
        ArrayFrame frame = FrameFromArrays(rgba, depth, shadow);
        std::optional<Settings> given;
        if (!settings.is_none()) given = Settings::FromMapping(settings);
        std::vector<SceneItem> items = ObjectsFrom(objects);
        const bool newObjects = !objects.is_none();
        const ColourOptions options = ColourOptionsFrom(colourSpace, premultiplied, workingSpace, asBytes);
        const FrameResult result = WithHost([&] {
            if (!host_) throw std::runtime_error("the lumafex.Module is closed");
            if (newObjects) scene_.objects = std::move(items);
            if (given) {
                host_->Load(given->Lines());
                host_->SetPosterizePercent(given->Record().PosterizePercent);
            }
            const std::vector<std::string> lines = host_->Save();
            return FilterFrame(*host_, frame, time, options, lines);
        });
        return ArrayOf(result, frame);
    }

    // The module's record as it is now.
    Settings CurrentSettings() {
        const auto [lines, posterize] = WithHost([&] {
            if (!host_) throw std::runtime_error("the lumafex.Module is closed");
            return std::make_pair(host_->Save(), host_->PosterizePercent());
        });
        FilterSettings record = SettingsFromLines(lines);
        record.PosterizePercent = posterize;
        return Settings::FromRecord(record);
    }

    const std::string& Path() const { return path_; }
    bool Open() const { return host_ != nullptr; }

private:
    std::string path_;
    Scene scene_;  // the Host's: its objects are the null objects of the latest call
    std::unique_ptr<LoadedModule> module_;
    std::unique_ptr<Host> host_;
};

py::array ProcessOnce(const std::string& modulePath, py::handle rgba, py::handle settings, py::handle depth,
                      py::handle shadow, double time, py::handle objects, const std::string& colourSpace,
                      bool premultiplied, const std::string& workingSpace, bool asBytes) {
    ArrayFrame frame = FrameFromArrays(rgba, depth, shadow);
    const Settings given = Settings::FromMapping(settings);
    Scene scene;
    scene.path = "python";
    scene.objects = ObjectsFrom(objects);
    const ColourOptions options = ColourOptionsFrom(colourSpace, premultiplied, workingSpace, asBytes);
    const FrameResult result = WithHost([&] {
        RefuseWhileModuleOpen(nullptr);
        const std::unique_ptr<LoadedModule> module = OpenModule(modulePath);
        Host host(*module, scene);
        host.Load(given.Lines());
        host.SetPosterizePercent(given.Record().PosterizePercent);
        return FilterFrame(host, frame, time, options, given.Lines());
    });
    return ArrayOf(result, frame);
}

// ----- scenes -------------------------------------------------------------

// While it lives, what is written on the C standard error stream (where
// Render logs) goes to line, a line at a time.
class LogLines {
public:
    explicit LogLines(std::function<void(const std::string&)> line) : line_(std::move(line)) {
        cookie_io_functions_t functions{};
        functions.write = Write;
        stream_ = fopencookie(this, "w", functions);
        if (stream_ == nullptr) throw std::runtime_error("cannot capture the render's log");
        std::setvbuf(stream_, nullptr, _IONBF, 0);
        std::fflush(stderr);
        before_ = stderr;
        stderr = stream_;
    }
    ~LogLines() {
        stderr = before_;
        std::fclose(stream_);
        if (!partial_.empty()) line_(partial_);
    }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

private:
    static ssize_t Write(void* cookie, const char* data, std::size_t size) {
        auto* self = static_cast<LogLines*>(cookie);
        const std::lock_guard<std::mutex> lock(self->mutex_);
        self->partial_.append(data, size);
        for (std::size_t end; (end = self->partial_.find('\n')) != std::string::npos;) {
            const std::string line = self->partial_.substr(0, end);
            self->partial_.erase(0, end + 1);
            self->line_(line);
        }
        return static_cast<ssize_t>(size);
    }
    std::function<void(const std::string&)> line_;
    std::FILE* stream_ = nullptr;
    std::FILE* before_ = nullptr;
    std::string partial_;
    std::mutex mutex_;
};

class SceneFile {
public:
    SceneFile(std::string path, std::string modulePath) : path_(std::move(path)), module_(std::move(modulePath)) {
        static_cast<void>(LoadScene(path_));  // a scene that cannot be read is refused here
    }

    const std::string& Path() const { return path_; }
    const std::string& ModulePath() const { return module_; }
    std::vector<SceneFrame> Frames() const { return LoadScene(path_).frames; }
    Settings SettingsOf() const { return Settings::OfScene(path_); }

    py::dict Render(py::handle frames, const std::string& outputDir, const std::string& saveScene,
                    const std::string& missing, const std::string& unreadable, bool noClobber,
                    py::handle progress) {
        RenderOptions options;
        options.scene = path_;
        options.module = module_;
        options.outputDir = outputDir;
        options.saveScene = saveScene;
        options.noClobber = noClobber;
        options.logFormat = LogFormat::Json;
        if (!frames.is_none()) {
            if (py::isinstance<py::str>(frames)) {
                options.frames = ParseFrameList(frames.cast<std::string>());
            } else {
                try {
                    options.frames = frames.cast<std::vector<int64_t>>();
                } catch (const py::cast_error&) {
                    throw py::type_error("frames: expected a frame list such as \"1-24x2\", or a list of numbers");
                }
            }
        }
        const std::pair<const char*, MissingFrames> missingNames[] = {
            {"error", MissingFrames::Error}, {"skip", MissingFrames::Skip},
            {"black", MissingFrames::Black}, {"hold", MissingFrames::Hold}};
        const std::pair<const char*, UnreadableFrames> unreadableNames[] = {
            {"fail", UnreadableFrames::Fail}, {"skip", UnreadableFrames::Skip},
            {"black", UnreadableFrames::Black}, {"hold", UnreadableFrames::Hold}};
        auto pick = [](const auto& names, const std::string& value, const char* what, auto& into) {
            for (const auto& [name, choice] : names)
                if (value == name) return static_cast<void>(into = choice);
            std::string known;
            for (const auto& [name, choice] : names) {
                if (!known.empty()) known += '|';
                known += name;
            }
            throw py::value_error(std::string(what) + ": \"" + value + "\" is not one of " + known);
        };
        pick(missingNames, missing, "missing_frames", options.missingFrames);
        pick(unreadableNames, unreadable, "unreadable_frames", options.unreadableFrames);

        // The log's JSON records: frames go to progress, the summary is
        // returned with the errors and warnings.
        nlohmann::ordered_json summary;
        std::vector<std::string> errors, warnings, messages;
        std::optional<py::error_already_set> callbackError;
        auto line = [&](const std::string& text) {
            const nlohmann::ordered_json record = nlohmann::ordered_json::parse(text, nullptr, false);
            if (!record.is_object()) {
                messages.push_back(text);
                return;
            }
            const std::string event = record.value("event", "");
            const std::string message = record.value("message", "");
            if (event == "summary") summary = record;
            else if (event == "error") errors.push_back(message);
            else if (event == "warning") warnings.push_back(message);
            else if (event == "message") messages.push_back(message);
            if (event != "frame" || progress.is_none()) return;
            const py::gil_scoped_acquire gil;
            if (callbackError) return;
            try {
                progress(py::module_::import("json").attr("loads")(record.dump()));
            } catch (py::error_already_set& e) {
                callbackError.emplace(std::move(e));
            }
        };
        const int status = WithHost([&] {
            RefuseWhileModuleOpen(nullptr);
            SetLogStyle(LogFormat::Json, Verbosity::Normal);
            struct TextAfter {
                ~TextAfter() { SetLogStyle(LogFormat::Text, Verbosity::Normal); }
            } textAfter;
            const LogLines capture(line);
            return lumafex::tool::Render(options);
        });
        if (callbackError) throw std::move(*callbackError);
        py::dict out = py::module_::import("json").attr("loads")(summary.is_null() ? "{}" : summary.dump());
        out.attr("pop")("event", py::none());
        out["status"] = status;
        out["errors"] = errors;
        out["warnings"] = warnings;
        out["messages"] = messages;
        return out;
    }

    // The frame as an 8-bit output of a render of it alone would hold it.
    py::array RenderFrame(int64_t number) {
        const ColourImage image = WithHost([&] {
            RefuseWhileModuleOpen(nullptr);
            const Scene scene = LoadScene(path_);
            ChooseSceneColourConfiguration(scene.colour.colourConfig);
            const auto found = std::find_if(scene.frames.begin(), scene.frames.end(),
                                            [&](const SceneFrame& f) { return f.number == number; });
            if (found == scene.frames.end())
                throw std::invalid_argument(path_ + ": the scene has no frame " + std::to_string(number));
            const SceneFrame& f = *found;
            if (const std::string missing = MissingInput(f); !missing.empty())
                throw std::runtime_error("frame " + std::to_string(number) + ": " + missing + " is missing");
            ColourRequest request;
            request.colourSpace = f.colourSpace;
            request.layer = f.colourLayer;
            request.workingSpace = ResolveColourSpace(scene.colour.workingSpace, path_ + ": workingSpace");
            const ColourInput in = ReadFrameColour(f.colour, request);
            auto sameSize = [&](const std::string& other, int32_t w, int32_t h) {
                if (w != in.image.width || h != in.image.height)
                    throw std::runtime_error(other + ": " + std::to_string(w) + "x" + std::to_string(h) +
                                             " does not match the colour image " + f.colour + " (" +
                                             std::to_string(in.image.width) + "x" +
                                             std::to_string(in.image.height) + ")");
            };
            std::optional<GreyImage> shadow;
            std::optional<DepthImage> depth;
            if (!f.shadow.empty()) {
                shadow = ReadShadow(f.shadow);
                sameSize(f.shadow, shadow->width, shadow->height);
            }
            if (!f.depth.empty()) {
                depth = ReadFrameDepth(f.depth, f.depthChannel);
                sameSize(f.depth, depth->width, depth->height);
            }
            const std::unique_ptr<LoadedModule> module = OpenModule(module_);
            Host host(*module, scene);
            if (scene.settings) host.Load(*scene.settings);
            if (scene.posterizePercent) host.SetPosterizePercent(*scene.posterizePercent);
            ColourImage colour = in.image, result;
            if (!host.Process(colour, shadow ? &*shadow : nullptr, depth ? &*depth : nullptr, f.time, result))
                throw std::runtime_error("frame " + std::to_string(number) + " (" + f.colour +
                                         "): the module refused the frame; no output written");
            // Written as the render writes an 8-bit output, and read back.
            const TemporaryFolder folder;
            const std::string output = folder.File("frame.png");
            OutputRequest write;
            write.workingSpace = request.workingSpace;
            if (!scene.colour.outputColourSpace.empty())
                write.colourSpace = ResolveColourSpace(scene.colour.outputColourSpace, path_ + ": outputColorSpace");
            write.bits = 8;
            write.settingsLines = scene.settings ? *scene.settings : EditLines(nullptr, {});
            WriteFrameOutput(output, result, in, write);
            return ReadColour(output);
        });
        ArrayFrame shape;
        shape.width = image.width;
        shape.height = image.height;
        FrameResult result;
        result.bytes = image;
        return ArrayOf(result, shape);
    }

private:
    std::string path_;
    std::string module_;
};

// The package's errors: SettingNameError, and a SceneError as ValueError.
void BindErrors(py::module_& m) {
    g_settingNameError = PyErr_NewExceptionWithDoc(
        "lumafex.SettingNameError", "A name that is not one of the settings lumafex show lists.",
        py::make_tuple(py::handle(PyExc_KeyError), py::handle(PyExc_ValueError)).ptr(), nullptr);
    m.attr("SettingNameError") = py::handle(g_settingNameError);
    // Errors in what a file or scene holds are errors in the caller's input.
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const SceneError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });
}

void BindSettings(py::module_& m) {
    py::class_<Settings>(m, "Settings", R"(The filter settings by name, as ``lumafex show`` lists them.

``Settings()`` holds the defaults, ``Settings({"ContrastPercent": 120})``
changes some. Values are checked as ``lumafex set`` checks them: an unknown
name raises SettingNameError (a KeyError and a ValueError) with the closest
name, a value outside the settings dialog's range raises ValueError, a value
that is not a whole number TypeError. ``Scene.settings`` is bound to its
scene file: every change is written to it as ``lumafex set`` writes it,
rewriting only the values that change.)")
        .def(py::init([](py::handle values) { return Settings::FromMapping(values); }),
             py::arg("values") = py::none())
        .def("__getitem__", &Settings::Get)
        .def("__setitem__", &Settings::Set)
        .def("__contains__", &Settings::Has)
        .def("__iter__", [](const Settings& s) { return py::iter(py::cast(s.Names())); })
        .def("__len__", [](const Settings& s) { return s.Names().size(); })
        .def("keys", &Settings::Names, "The setting names, in the order lumafex show lists them.")
        .def("items", [](const Settings& s) { return s.ToDict().attr("items")(); })
        .def("to_dict", &Settings::ToDict, "The settings as a dict of name: value.")
        .def("update", &Settings::Update, py::arg("values"),
             "Changes the settings given (a dict or Settings); returns (name, before, after) for each "
             "value that changed. Bound to a scene, the scene file is rewritten once.")
        .def("table", &Settings::Table, "The table lumafex show prints: key, value, null objects, meaning.")
        .def_property_readonly("scene_path", [](const Settings& s) -> py::object {
            if (s.ScenePath().empty()) return py::none();
            return py::str(s.ScenePath());
        }, "The scene file the settings are written to, or None.")
        .def("__eq__", [](const Settings& a, const Settings& b) { return a.ToDict().equal(b.ToDict()); })
        .def("__repr__", [](const Settings& s) {
            return "lumafex.Settings(" + std::string(py::repr(s.ToDict())) + ")";
        });
}

// A scene's frames, the module kept loaded, and one frame filtered once.
void BindFramesAndModule(py::module_& m) {
    py::class_<SceneFrame>(m, "Frame", "One frame of a scene: its number, time and files.")
        .def_readonly("number", &SceneFrame::number)
        .def_readonly("time", &SceneFrame::time)
        .def_readonly("colour", &SceneFrame::colour)
        .def_readonly("shadow", &SceneFrame::shadow)
        .def_readonly("depth", &SceneFrame::depth)
        .def_readonly("output", &SceneFrame::output)
        .def("__repr__", [](const SceneFrame& f) {
            return "lumafex.Frame(number=" + std::to_string(f.number) + ", colour=" +
                   std::string(py::repr(py::str(f.colour))) + ")";
        });

    py::class_<Module>(m, "Module")
        .def(py::init<std::string>(), py::arg("path"))
        .def("process", &Module::Process, py::arg("rgba"), py::arg("settings") = py::none(),
             py::arg("depth") = py::none(), py::arg("shadow") = py::none(), py::arg("time") = 0.0,
             py::arg("objects") = py::none(), py::kw_only(), py::arg("colour_space") = "linear",
             py::arg("premultiplied") = true, py::arg("working_space") = "sRGB", py::arg("as_bytes") = false,
             "Filters one frame as lumafex.process does, with the module kept loaded: its state (the "
             "noise generator, the record) goes on from the call before; settings=None keeps the record.")
        .def("close", &Module::Close, "Releases the module and its host; process then raises RuntimeError.")
        .def_property_readonly("settings", &Module::CurrentSettings)
        .def_property_readonly("path", &Module::Path)
        .def_property_readonly("closed", [](const Module& self) { return !self.Open(); });

    m.def("_process", &ProcessOnce, py::arg("module"), py::arg("rgba"), py::arg("settings"), py::arg("depth"),
          py::arg("shadow"), py::arg("time"), py::arg("objects"), py::arg("colour_space"),
          py::arg("premultiplied"), py::arg("working_space"), py::arg("as_bytes"));
}

void BindScene(py::module_& m) {
    py::class_<SceneFile>(m, "Scene")
        .def(py::init<std::string, std::string>(), py::arg("path"), py::arg("module"))
        .def_property_readonly("path", &SceneFile::Path)
        .def_property_readonly("module", &SceneFile::ModulePath)
        .def_property_readonly("frames", &SceneFile::Frames)
        .def_property_readonly("settings", &SceneFile::SettingsOf)
        .def("render", &SceneFile::Render, py::arg("frames") = py::none(), py::kw_only(),
             py::arg("output_dir") = "", py::arg("save_scene") = "", py::arg("missing_frames") = "error",
             py::arg("unreadable_frames") = "fail", py::arg("no_clobber") = false,
             py::arg("progress") = py::none(),
             "Renders as lumafex render does (frames: \"1-24x2\", a list of numbers, or None for all); "
             "returns the summary record with status, errors, warnings and messages; progress(record) "
             "is called for each frame.")
        .def("render_frame", &SceneFile::RenderFrame, py::arg("number"),
             "Frame number as an 8-bit output of a render of it holds it: uint8 (H, W, 4); writes nothing.");
}

}  // namespace
}  // namespace lumafex::tool

PYBIND11_MODULE(_lumafex, m) {
    using namespace lumafex::tool;
    m.doc() = "The native part of the lumafex package (use the package, not this module).";
    BindErrors(m);
    BindSettings(m);
    BindFramesAndModule(m);
    BindScene(m);
    m.def("version", [] { return std::string(ProgramVersion()); });
}

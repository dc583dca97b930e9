#include "rendering/host.h"

#include "rendering/frame_padding.h"
#include "scenes/line_block.h"
#include "settings/filter_settings.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace lumafex::tool {

namespace {

// What the host's operations work on while a Host is active.
struct Active {
    const Scene* scene = nullptr;
    SceneInfo sceneInfo{};
    DisplayInfo displayInfo{};
    int objectInfo = 0;
    // The frame being processed.
    int32_t width = 0;
    int32_t height = 0;
    uint8_t* planes[5] = {};  // red, green, blue, alpha, shadow
    const float* depth = nullptr;
    ColourImage* output = nullptr;
    std::size_t written = 0;
    // The frame offered to the settings dialog's preview, if any.
    FrameAccess previewFrame{};
    bool previewOffered = false;
    std::string previewProblem;  // why no frame is offered, or empty
    // How the settings dialog ended: 1 OK, 0 otherwise; -1 while the module
    // has not said (a module that does not know the global).
    int32_t dialogOutcome = -1;
};

Active g_active;

// Items are handed out as 1-based tags: cameras first, then objects.
constexpr uintptr_t kObjectBase = uintptr_t{1} << 24;

const SceneItem* ItemOf(void* item, int32_t* type = nullptr) {
    const auto tag = reinterpret_cast<uintptr_t>(item);
    const Scene& s = *g_active.scene;
    if (tag >= kObjectBase) {
        const std::size_t i = tag - kObjectBase;
        if (type) *type = host::kItemObject;
        return i < s.objects.size() ? &s.objects[i] : nullptr;
    }
    if (tag == 0) return nullptr;
    if (type) *type = host::kItemCamera;
    return tag - 1 < s.cameras.size() ? &s.cameras[tag - 1] : nullptr;
}

void* FirstItem(int32_t type, void*) {
    const Scene& s = *g_active.scene;
    if (type == host::kItemCamera && !s.cameras.empty()) return reinterpret_cast<void*>(uintptr_t{1});
    if (type == host::kItemObject && !s.objects.empty()) return reinterpret_cast<void*>(kObjectBase);
    return nullptr;
}

void* NextItem(void* item) {
    int32_t type = 0;
    if (ItemOf(item, &type) == nullptr) return nullptr;
    const auto next = reinterpret_cast<uintptr_t>(item) + 1;
    return ItemOf(reinterpret_cast<void*>(next)) != nullptr ? reinterpret_cast<void*>(next) : nullptr;
}

const char* ItemName(void* item) {
    const SceneItem* it = ItemOf(item);
    return it != nullptr ? it->name.c_str() : nullptr;
}

void ItemVector(void* item, int32_t, double time, double vector[3]) {
    const SceneItem* it = ItemOf(item);
    if (it == nullptr) {
        vector[0] = vector[1] = vector[2] = 0.0;
        return;
    }
    it->PositionAt(time, vector);
}

ItemInfo g_itemInfo{FirstItem, NextItem, nullptr, nullptr, nullptr, nullptr,
                    nullptr,   nullptr,  ItemName, ItemVector};

void* Lookup(const char* name, int32_t) {
    if (name == nullptr) return nullptr;
    if (std::strcmp(name, host::kGlobalSceneInfo) == 0) return &g_active.sceneInfo;
    if (std::strcmp(name, host::kGlobalItemInfo) == 0) return &g_itemInfo;
    if (std::strcmp(name, host::kGlobalObjectInfo) == 0) return &g_active.objectInfo;
    if (std::strcmp(name, host::kGlobalDisplayInfo) == 0) return &g_active.displayInfo;
    if (std::strcmp(name, host::kGlobalPreviewFrame) == 0 && g_active.previewOffered)
        return &g_active.previewFrame;
    if (std::strcmp(name, host::kGlobalPreviewProblem) == 0 && !g_active.previewProblem.empty())
        return g_active.previewProblem.data();
    if (std::strcmp(name, host::kGlobalDialogOutcome) == 0) return &g_active.dialogOutcome;
    return nullptr;
}

uint8_t* GetLine(int32_t type, int32_t y) {
    if (y < 0 || y >= g_active.height) return nullptr;
    int plane = -1;
    switch (type) {
        case host::kBufferRed: plane = 0; break;
        case host::kBufferGreen: plane = 1; break;
        case host::kBufferBlue: plane = 2; break;
        case host::kBufferAlpha: plane = 3; break;
        case host::kBufferShadow: plane = 4; break;
        default: return nullptr;
    }
    if (g_active.planes[plane] == nullptr) return nullptr;  // an offered frame without shadow
    return g_active.planes[plane] + PixelCount(g_active.width, y);
}

float* GetFloatLine(int32_t type, int32_t y) {
    if (type != host::kBufferDepth || g_active.depth == nullptr || y < 0 || y >= g_active.height)
        return nullptr;
    return const_cast<float*>(g_active.depth) + PixelCount(g_active.width, y);
}

bool Inside(int32_t x, int32_t y) {
    return g_active.output != nullptr && x >= 0 && y >= 0 && x < g_active.width && y < g_active.height;
}

void PutRGB(int32_t x, int32_t y, const uint8_t rgb[3]) {
    if (!Inside(x, y)) return;
    const std::size_t i = PixelCount(g_active.width, y) + static_cast<std::size_t>(x);
    g_active.output->red[i] = rgb[0];
    g_active.output->green[i] = rgb[1];
    g_active.output->blue[i] = rgb[2];
    ++g_active.written;
}

void PutAlpha(int32_t x, int32_t y, uint8_t alpha) {
    if (!Inside(x, y)) return;
    g_active.output->alpha[PixelCount(g_active.width, y) + static_cast<std::size_t>(x)] = alpha;
    ++g_active.written;
}

}  // namespace

Host::Host(const LoadedModule& module, const Scene& scene) {
    if (g_active.scene != nullptr) throw std::logic_error("only one host at a time");
    ActivateFunc activate = module.FindServer(host::kHandlerClass, host::kServerName);
    if (activate == nullptr) {
        throw std::runtime_error("the module has no " + std::string(host::kHandlerClass) +
                                 " server named \"" + host::kServerName + "\"");
    }
    g_active = Active{};
    g_active.scene = &scene;
    g_active.sceneInfo.name = scene.path.c_str();
    g_active.sceneInfo.filename = scene.path.c_str();
    g_active.sceneInfo.renderOptions = scene.renderFields ? host::kRenderFields : 0;
    const int result = activate(host::kInterfaceVersion, Lookup, &table_, nullptr);
    if (result != host::kActivateOk) {
        g_active = Active{};
        throw std::runtime_error("the module's handler activation failed with code " +
                                 std::to_string(result));
    }
    const char* error = nullptr;
    instance_ = table_.create(&error);
    if (instance_ == nullptr) {
        g_active = Active{};
        throw std::runtime_error(std::string("the module could not create an instance: ") +
                                 (error != nullptr ? error : "no reason given"));
    }
}

Host::~Host() {
    if (instance_ != nullptr) table_.destroy(instance_);
    g_active = Active{};
}

void Host::Load(const std::vector<std::string>& lines) {
    StringLines source(lines);
    const LoadState state = LoadStateOver(source);
    table_.load(instance_, &state);
}

std::vector<std::string> Host::Save() {
    StringLines sink;
    const SaveState state = SaveStateInto(sink);
    table_.save(instance_, &state);
    return std::move(sink.lines);
}

int32_t Host::PosterizePercent() const {
    return static_cast<const FilterSettings*>(instance_)->PosterizePercent;
}

void Host::SetPosterizePercent(int32_t percent) {
    static_cast<FilterSettings*>(instance_)->PosterizePercent = percent;
}

int Host::RunSettingsDialog(const LoadedModule& module) {
    ActivateFunc activate = module.FindServer(host::kInterfaceClass, host::kServerName);
    if (activate == nullptr) {
        throw std::runtime_error("the module has no " + std::string(host::kInterfaceClass) +
                                 " server named \"" + host::kServerName + "\"");
    }
    g_active.dialogOutcome = -1;
    return activate(host::kInterfaceVersion, Lookup, nullptr, nullptr);
}

int Host::DialogOutcome() const { return g_active.dialogOutcome; }

void Host::SayNoPreview(const std::string& why) { g_active.previewProblem = why; }

void Host::OfferPreviewFrame(ColourImage& colour, GreyImage* shadow, const DepthImage* depth,
                             double time) {
    g_active.width = colour.width;
    g_active.height = colour.height;
    g_active.planes[0] = colour.red.data();
    g_active.planes[1] = colour.green.data();
    g_active.planes[2] = colour.blue.data();
    g_active.planes[3] = colour.alpha.data();
    g_active.planes[4] = shadow != nullptr ? shadow->value.data() : nullptr;
    g_active.depth = depth != nullptr ? depth->value.data() : nullptr;
    FrameAccess& frame = g_active.previewFrame;
    frame = FrameAccess{};
    frame.width = colour.width;
    frame.height = colour.height;
    frame.time = time;
    frame.getLine = GetLine;
    frame.getFloatLine = GetFloatLine;
    // The preview only reads: nothing it could do reaches the images.
    frame.putRGB = PutRGB;
    frame.putAlpha = PutAlpha;
    g_active.output = nullptr;
    g_active.previewOffered = true;
}

bool Host::Process(ColourImage& colour, GreyImage* shadow, const DepthImage* depth, double time,
                   ColourImage& output) {
    if (!NeedsPadding(colour.width)) return ProcessAsGiven(colour, shadow, depth, time, output);
    PaddedFrame padded = PadFrame(colour, shadow, depth);
    ColourImage paddedOutput;
    const bool wrote = ProcessAsGiven(padded.colour, shadow != nullptr ? &padded.shadow : nullptr,
                                      padded.depth ? &*padded.depth : nullptr, time, paddedOutput);
    // The frame's planes as the module left them, as for a frame it takes as it is.
    CropFrame(padded, colour, shadow);
    // Flipped horizontally (by the settings or a null's channel, as the
    // record now holds them), the frame's own columns come out last.
    const bool flipped = static_cast<const FilterSettings*>(instance_)->FlipFrameFlag == 1;
    CropColour(paddedOutput, flipped ? padded.colour.width - colour.width : 0, colour.width, output);
    return wrote;
}

bool Host::ProcessAsGiven(ColourImage& colour, GreyImage* shadow, const DepthImage* depth, double time,
                          ColourImage& output) {
    std::vector<uint8_t> noShadow;
    if (shadow == nullptr) noShadow.assign(colour.red.size(), 0);
    g_active.width = colour.width;
    g_active.height = colour.height;
    g_active.planes[0] = colour.red.data();
    g_active.planes[1] = colour.green.data();
    g_active.planes[2] = colour.blue.data();
    g_active.planes[3] = colour.alpha.data();
    g_active.planes[4] = shadow != nullptr ? shadow->value.data() : noShadow.data();
    g_active.depth = depth != nullptr ? depth->value.data() : nullptr;
    output.Resize(colour.width, colour.height);
    g_active.output = &output;
    g_active.written = 0;

    FrameAccess frame{};
    frame.width = colour.width;
    frame.height = colour.height;
    frame.time = time;
    frame.getLine = GetLine;
    frame.getFloatLine = GetFloatLine;
    frame.putRGB = PutRGB;
    frame.putAlpha = PutAlpha;
    table_.process(instance_, &frame);

    const bool wrote = g_active.written > 0 || colour.red.empty();
    g_active.output = nullptr;
    g_active.depth = nullptr;
    for (auto*& p : g_active.planes) p = nullptr;
    return wrote;
}

}  // namespace lumafex::tool

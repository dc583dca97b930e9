// lumafex: a substitute host for the Lumafex3 image filter module. It loads
// the module from its file exactly as the renderer does and drives frames
// through the handler table.
//
// This first version offers the built-in demo: a generated frame with
// objects, alpha, a shadow mask and depth, filtered with a stored settings
// block, written as binary PAM images.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/host_interface.h"
#include "module_loader.h"

namespace {

using lumafex::tool::LoadedModule;

// The frame the host hands to the module, and the output it receives.
struct HostFrame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> red, green, blue, alpha, shadow;
    std::vector<float> depth;
    std::vector<uint8_t> outRgba;
};

HostFrame* g_frame = nullptr;

uint8_t* RowOf(std::vector<uint8_t>& plane, int32_t y) {
    return plane.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(g_frame->width);
}

uint8_t* GetLine(int32_t type, int32_t y) {
    if (g_frame == nullptr || y < 0 || y >= g_frame->height) return nullptr;
    switch (type) {
        case lumafex::host::kBufferRed: return RowOf(g_frame->red, y);
        case lumafex::host::kBufferGreen: return RowOf(g_frame->green, y);
        case lumafex::host::kBufferBlue: return RowOf(g_frame->blue, y);
        case lumafex::host::kBufferAlpha: return RowOf(g_frame->alpha, y);
        case lumafex::host::kBufferShadow: return RowOf(g_frame->shadow, y);
        default: return nullptr;
    }
}

float* GetFloatLine(int32_t type, int32_t y) {
    if (g_frame == nullptr || type != lumafex::host::kBufferDepth || y < 0 || y >= g_frame->height)
        return nullptr;
    return g_frame->depth.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(g_frame->width);
}

bool OnFrame(int32_t x, int32_t y) {
    return g_frame != nullptr && x >= 0 && y >= 0 && x < g_frame->width && y < g_frame->height;
}

std::size_t OutIndex(int32_t x, int32_t y) {
    return (static_cast<std::size_t>(y) * static_cast<std::size_t>(g_frame->width) +
            static_cast<std::size_t>(x)) * 4;
}

void PutRGB(int32_t x, int32_t y, const uint8_t rgb[3]) {
    if (!OnFrame(x, y)) return;
    std::memcpy(&g_frame->outRgba[OutIndex(x, y)], rgb, 3);
}

void PutAlpha(int32_t x, int32_t y, uint8_t a) {
    if (OnFrame(x, y)) g_frame->outRgba[OutIndex(x, y) + 3] = a;
}

// Scene globals: a camera at the origin and no objects.
SceneInfo g_scene{"demo", "demo", 0, 0, 0, 0};
DisplayInfo g_display{nullptr, nullptr};
int g_objectInfo = 0;
int g_camera = 0;

void* FirstItem(int32_t type, void*) { return type == lumafex::host::kItemCamera ? &g_camera : nullptr; }
void* NextItem(void*) { return nullptr; }
const char* ItemName(void*) { return "Camera"; }
void ItemVector(void*, int32_t, double, double v[3]) { v[0] = v[1] = v[2] = 0.0; }
ItemInfo g_items{FirstItem, NextItem, nullptr, nullptr, nullptr, nullptr,
                 nullptr,   nullptr,  ItemName, ItemVector};

void* Lookup(const char* name, int32_t) {
    if (std::strcmp(name, lumafex::host::kGlobalSceneInfo) == 0) return &g_scene;
    if (std::strcmp(name, lumafex::host::kGlobalItemInfo) == 0) return &g_items;
    if (std::strcmp(name, lumafex::host::kGlobalObjectInfo) == 0) return &g_objectInfo;
    if (std::strcmp(name, lumafex::host::kGlobalDisplayInfo) == 0) return &g_display;
    return nullptr;
}

// The stored settings block the demo scene carries.
struct LineReader {
    std::vector<std::string> lines;
    std::size_t next = 0;
};

int32_t ReadLine(void* context, char* buffer, int32_t size) {
    auto* reader = static_cast<LineReader*>(context);
    if (reader->next >= reader->lines.size() || size <= 0) return -1;
    const std::string& line = reader->lines[reader->next++];
    const std::size_t n = std::min(line.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, line.data(), n);
    buffer[n] = '\0';
    return static_cast<int32_t>(n);
}

void WriteLine(void* context, const char* text, int32_t length) {
    auto* out = static_cast<std::vector<std::string>*>(context);
    out->emplace_back(text, strnlen(text, static_cast<std::size_t>(length)));
}

// A rendered-looking frame: three shaded spheres over a ground plane under
// a sky, with exact alpha (objects 255, sky 0), a shadow mask and depth.
HostFrame GenerateFrame(int32_t w, int32_t h) {
    HostFrame f;
    f.width = w;
    f.height = h;
    const auto n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    for (auto* p : {&f.red, &f.green, &f.blue, &f.alpha, &f.shadow}) p->assign(n, 0);
    f.depth.assign(n, 1000.0f);
    f.outRgba.assign(n * 4, 0);
    struct Sphere { double cx, cy, r, depth; double col[3]; };
    const Sphere spheres[] = {{160, 210, 70, 60, {220, 60, 50}},
                              {330, 190, 55, 110, {60, 170, 80}},
                              {480, 175, 40, 180, {40, 80, 230}}};
    const int32_t horizon = h / 2;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                                  static_cast<std::size_t>(x);
            if (y < horizon) {  // sky: background, alpha 0
                const double t = static_cast<double>(y) / horizon;
                f.red[i] = static_cast<uint8_t>(90 + 80 * t);
                f.green[i] = static_cast<uint8_t>(140 + 60 * t);
                f.blue[i] = static_cast<uint8_t>(230 - 10 * t);
            } else {  // ground plane: checker, depth growing toward the horizon
                const double d = 40.0 + 4000.0 / (y - horizon + 8);
                const bool dark = ((x / 40) + (y / 20)) % 2 == 0;
                f.red[i] = dark ? 120 : 170;
                f.green[i] = dark ? 110 : 160;
                f.blue[i] = dark ? 90 : 130;
                f.alpha[i] = 255;
                f.depth[i] = static_cast<float>(d);
            }
            for (const Sphere& s : spheres) {
                // Shadow: an ellipse on the ground below and right of the sphere.
                const double sx = (x - s.cx - s.r * 0.4) / (s.r * 1.1);
                const double sy = (y - (s.cy + s.r * 0.95)) / (s.r * 0.25);
                if (y >= horizon && sx * sx + sy * sy <= 1.0) {
                    f.shadow[i] = 200;
                    f.red[i] = static_cast<uint8_t>(f.red[i] / 2);
                    f.green[i] = static_cast<uint8_t>(f.green[i] / 2);
                    f.blue[i] = static_cast<uint8_t>(f.blue[i] / 2);
                }
            }
            for (const Sphere& s : spheres) {
                const double dx = (x - s.cx) / s.r;
                const double dy = (y - s.cy) / s.r;
                const double rr = dx * dx + dy * dy;
                if (rr > 1.0) continue;
                const double dz = std::sqrt(1.0 - rr);
                const double light = std::max(0.0, -0.5 * dx - 0.6 * dy + 0.62 * dz);
                const double shade = 0.15 + 0.85 * light;
                f.red[i] = static_cast<uint8_t>(std::min(255.0, s.col[0] * shade + 30 * std::pow(light, 20)));
                f.green[i] = static_cast<uint8_t>(std::min(255.0, s.col[1] * shade + 30 * std::pow(light, 20)));
                f.blue[i] = static_cast<uint8_t>(std::min(255.0, s.col[2] * shade + 30 * std::pow(light, 20)));
                f.alpha[i] = 255;
                f.shadow[i] = 0;
                f.depth[i] = static_cast<float>(s.depth - dz * s.r * 0.2);
            }
        }
    }
    return f;
}

bool WritePam(const std::filesystem::path& path, int32_t w, int32_t h,
              const std::vector<uint8_t>& rgba) {
    const std::filesystem::path temp = path.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary);
        if (!out) return false;
        out << "P7\nWIDTH " << w << "\nHEIGHT " << h
            << "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        out.write(reinterpret_cast<const char*>(rgba.data()),
                  static_cast<std::streamsize>(rgba.size()));
        if (!out) return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

std::vector<uint8_t> Interleave(const HostFrame& f) {
    std::vector<uint8_t> rgba(f.red.size() * 4);
    for (std::size_t i = 0; i < f.red.size(); ++i) {
        rgba[4 * i] = f.red[i];
        rgba[4 * i + 1] = f.green[i];
        rgba[4 * i + 2] = f.blue[i];
        rgba[4 * i + 3] = f.alpha[i];
    }
    return rgba;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "lumafex: %s\n", message.c_str());
    return 1;
}

int RunDemo(const std::filesystem::path& dir, const std::string& modulePath) {
    std::string error;
    std::unique_ptr<LoadedModule> module = LoadedModule::Open(modulePath, error);
    if (!module) return Fail(error);
    ActivateFunc activate = module->FindServer(lumafex::host::kHandlerClass, lumafex::host::kServerName);
    if (activate == nullptr) return Fail(modulePath + " has no ImageFilterHandler server \"Lumafex3\"");
    HandlerTable table{};
    const int result = activate(lumafex::host::kInterfaceVersion, Lookup, &table, nullptr);
    if (result != lumafex::host::kActivateOk) {
        return Fail("the module's handler activation failed with code " + std::to_string(result));
    }

    const char* createError = nullptr;
    void* instance = table.create(&createError);
    if (instance == nullptr) return Fail(createError != nullptr ? createError : "create failed");

    // Objects only: warmer, higher contrast, brighter mid-tones, broadcast safe.
    LineReader stored;
    stored.lines = {"Version 1", "Passes 1", "RedPercent 112", "GreenPercent 100",
                    "BluePercent 94", "BrightPercent 100", "FilterInclude 0",
                    "SharpenFlag 0", "SharpenPercent 100", "SmoothFlag 0",
                    "AntialiasVariance 100", "AntialiasPercent 100", "BlurFlag 0",
                    "SofterBlurFlag 0", "BlurPercent 100", "DOFBlurFlag 0",
                    "DOFBlurPercent 100", "DOFBlurFocalPoint 100", "GammaPercent 125",
                    "ContrastPercent 140", "NoisePercent 100", "FlipFrameFlag 0",
                    "KeyPrepFlag 0", "BlackFlag 0", "WhiteFlag 0", "GreyFlag 0",
                    "NoiseFlag 0", "NegativeFlag 1", "NegativeImageFlag 0", "CartoonFlag 0",
                    "ReverseAlphaFlag 0", "RangeAlphaFlag 0", "r1 0", "g1 0", "b1 192",
                    "r2 96", "g2 96", "b2 255"};
    const LoadState load{0, &stored, ReadLine};
    table.load(instance, &load);

    HostFrame frame = GenerateFrame(640, 360);
    g_frame = &frame;
    const FrameAccess access{frame.width, frame.height, 0, 0.0, 0.0, GetLine, GetFloatLine,
                             PutRGB, PutAlpha};
    const std::vector<uint8_t> input = Interleave(frame);
    table.process(instance, &access);
    g_frame = nullptr;

    std::vector<std::string> saved;
    const SaveState save{0, &saved, WriteLine};
    table.save(instance, &save);
    table.destroy(instance);

    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return Fail("cannot create " + dir.string() + ": " + ec.message());
    const auto inPath = dir / "demo-input.pam";
    const auto outPath = dir / "demo-output.pam";
    if (!WritePam(inPath, frame.width, frame.height, input))
        return Fail("cannot write " + inPath.string());
    if (!WritePam(outPath, frame.width, frame.height, frame.outRgba))
        return Fail("cannot write " + outPath.string());

    std::size_t changed = 0;
    for (std::size_t i = 0; i < input.size(); ++i) changed += input[i] != frame.outRgba[i];
    std::printf("lumafex demo: filtered a %dx%d frame through %s\n", frame.width, frame.height,
                modulePath.c_str());
    std::printf("  input:  %s\n  output: %s\n  %zu of %zu channel bytes changed; %zu settings lines saved\n",
                inPath.c_str(), outPath.c_str(), changed, input.size(), saved.size());
    return 0;
}

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: lumafex demo [DIR] [--module PATH]\n\n"
                 "  demo   filter a generated frame through the module and write\n"
                 "         DIR/demo-input.pam and DIR/demo-output.pam (DIR: lumafex-demo)\n"
                 "  --module PATH   the module file (default: lumafex3.p beside this program)\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string modulePath = lumafex::tool::DefaultModulePath();
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            Usage(stdout);
            return 0;
        }
        if (args[i] == "--module") {
            if (i + 1 >= args.size()) return Fail("--module needs a path");
            modulePath = args[++i];
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.empty() || positional[0] != "demo" || positional.size() > 2) {
        Usage(stderr);
        return 2;
    }
    return RunDemo(positional.size() == 2 ? positional[1] : "lumafex-demo", modulePath);
}

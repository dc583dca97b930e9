// Writes the scenes and input frames that the Windows and the Linux builds
// of lumafex both render, so that their outputs can be compared byte for
// byte: compare_render.sh runs it, then both programs.
//
//   make_compare_scenes DIR
//
// DIR/input holds six frames of 96 x 288 pixels (colour with alpha as PAM,
// shadow as PGM, depth as PFM), tall enough that every pass splits them into
// several strips of rows; DIR/<name>.json are the scenes. Between them
// the scenes switch on every filter family: blur and depth-of-field blur in
// the plain, softer and softer-extra variants, enhance and antialias over
// several passes, noise over every frame, every colour, tone and key stage,
// both flips and every "Filters Should Affect" mode, most of them driven
// frame by frame from null objects. The pixels come from integer arithmetic
// and every number in the scenes is a short binary fraction, so the files
// are the same whichever build writes them.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 288;
constexpr int kFrames = 6;
// Eight frames a second: every frame time and key time is a short binary
// fraction, read back exactly by any decimal parser.
constexpr int kFps = 8;

struct Lcg {
    uint32_t state;
    uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

struct Frame {
    std::vector<uint8_t> rgba = std::vector<uint8_t>(kWidth * kHeight * 4);
    std::vector<uint8_t> shadow = std::vector<uint8_t>(kWidth * kHeight);
    std::vector<float> depth = std::vector<float>(kWidth * kHeight);
};

bool Inside(int x, int y, int cx, int cy, int r) {
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

// A background gradient with grain, a warm sphere moving right and coming
// closer, a saturated blue disc (inside the default colour range) moving
// up and away, a pure black and a pure white patch, and a shadow band.
Frame MakeFrame(int f) {
    Frame out;
    Lcg lcg{static_cast<uint32_t>(1234 + f)};
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const std::size_t i = static_cast<std::size_t>(y * kWidth + x);
            uint8_t* p = &out.rgba[i * 4];
            const uint32_t grain = lcg.Next() % 24;
            p[0] = static_cast<uint8_t>(x * 255 / (kWidth - 1));
            p[1] = static_cast<uint8_t>(40 + y * 3);
            p[2] = static_cast<uint8_t>(100 + grain);
            p[3] = 0;
            float depth = 400.0f + static_cast<float>(y) * 0.5f;
            if (Inside(x, y, 26 + 3 * f, 30, 17)) {
                p[0] = static_cast<uint8_t>(180 + lcg.Next() % 76);
                p[1] = static_cast<uint8_t>(90 + (x * 7 + y * 3) % 90);
                p[2] = static_cast<uint8_t>(20 + lcg.Next() % 40);
                p[3] = Inside(x, y, 26 + 3 * f, 30, 15) ? 255 : 128;
                depth = 60.0f + 12.0f * static_cast<float>(f) + static_cast<float>(x % 5) * 0.25f;
            } else if (Inside(x, y, 70, 40 - 2 * f, 13)) {
                p[0] = static_cast<uint8_t>(lcg.Next() % 90);
                p[1] = static_cast<uint8_t>(lcg.Next() % 90);
                p[2] = static_cast<uint8_t>(200 + lcg.Next() % 56);
                p[3] = 255;
                depth = 160.0f + 25.0f * static_cast<float>(f);
            }
            if (x >= 4 && x < 12 && y >= 4 && y < 12) {
                p[0] = p[1] = p[2] = 0;
                p[3] = 255;
            }
            if (x >= 84 && x < 92 && y >= 4 && y < 12) {
                p[0] = p[1] = p[2] = 255;
                p[3] = 255;
            }
            out.shadow[i] = (y >= 50 && x >= 8 && x < 60) ? static_cast<uint8_t>(150 + x) : 0;
            out.depth[i] = depth;
        }
    }
    return out;
}

void WriteFile(const std::filesystem::path& path, const std::string& header,
               const void* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary);
    file.write(header.data(), static_cast<std::streamsize>(header.size()));
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string Header(const char* format) {
    char text[128];
    std::snprintf(text, sizeof text, format, kWidth, kHeight);
    return text;
}

std::filesystem::path Numbered(const std::filesystem::path& dir, const char* stem, int frame,
                               const char* extension) {
    char name[64];
    std::snprintf(name, sizeof name, "%s.%04d.%s", stem, frame, extension);
    return dir / name;
}

void WriteInputs(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir / "input");
    for (int f = 1; f <= kFrames; ++f) {
        const Frame frame = MakeFrame(f);
        WriteFile(Numbered(dir / "input", "color", f, "pam"),
                  Header("P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"),
                  frame.rgba.data(), frame.rgba.size());
        WriteFile(Numbered(dir / "input", "shadow", f, "pgm"), Header("P5\n%d %d\n255\n"),
                  frame.shadow.data(), frame.shadow.size());
        // PFM stores the bottom row first, little-endian with a negative scale.
        std::vector<uint8_t> depth;
        for (int y = kHeight - 1; y >= 0; --y) {
            for (int x = 0; x < kWidth; ++x) {
                uint32_t bits;
                const float v = frame.depth[static_cast<std::size_t>(y * kWidth + x)];
                std::memcpy(&bits, &v, sizeof bits);
                for (int b = 0; b < 4; ++b) depth.push_back(static_cast<uint8_t>(bits >> (8 * b)));
            }
        }
        WriteFile(Numbered(dir / "input", "depth", f, "pfm"), Header("Pf\n%d %d\n-1.0\n"),
                  depth.data(), depth.size());
    }
}

// The stored lines in the module's order, defaults changed where asked.
std::vector<std::string> SettingsLines(const std::map<std::string, int>& changes) {
    static const std::pair<const char*, int> kFields[] = {
        {"Passes", 1},          {"RedPercent", 100},       {"GreenPercent", 100},
        {"BluePercent", 100},   {"BrightPercent", 100},    {"FilterInclude", 3},
        {"SharpenFlag", 0},     {"SharpenPercent", 100},   {"SmoothFlag", 0},
        {"AntialiasVariance", 100}, {"AntialiasPercent", 100}, {"BlurFlag", 0},
        {"SofterBlurFlag", 0},  {"BlurPercent", 100},      {"DOFBlurFlag", 0},
        {"DOFBlurPercent", 100}, {"DOFBlurFocalPoint", 100}, {"GammaPercent", 100},
        {"ContrastPercent", 100}, {"NoisePercent", 100},   {"FlipFrameFlag", 0},
        {"KeyPrepFlag", 0},     {"BlackFlag", 0},          {"WhiteFlag", 0},
        {"GreyFlag", 0},        {"NoiseFlag", 0},          {"NegativeFlag", 0},
        {"NegativeImageFlag", 0}, {"CartoonFlag", 0},      {"ReverseAlphaFlag", 0},
        {"RangeAlphaFlag", 0},  {"r1", 0},                 {"g1", 0},
        {"b1", 192},            {"r2", 96},                {"g2", 96},
        {"b2", 255},
    };
    std::vector<std::string> lines{"Version 1"};
    for (const auto& [key, value] : kFields) {
        const auto changed = changes.find(key);
        lines.push_back(std::string(key) + " " +
                        std::to_string(changed != changes.end() ? changed->second : value));
    }
    return lines;
}

// A null object whose channel value (the third coordinate) steps through
// one value per frame, keyed at each frame's time (frame / kFps seconds).
struct Null {
    std::string name;
    std::vector<double> values;  // frames 1 to kFrames
    double x = 0.0;
};

std::string Json(const std::string& text) { return "\"" + text + "\""; }

void WriteScene(const std::filesystem::path& dir, const std::string& name,
                const std::map<std::string, int>& settings, const std::vector<Null>& nulls,
                bool renderFields = false) {
    std::string s = "{\n  \"renderFields\": " + std::string(renderFields ? "true" : "false") +
                    ",\n  \"fps\": " + std::to_string(kFps) + ",\n";
    s += "  \"cameras\": [{\"name\": \"Camera\", \"keys\": [{\"time\": 0, \"position\": [0, 0, "
         "-20]}]}],\n";
    s += "  \"objects\": [";
    for (std::size_t n = 0; n < nulls.size(); ++n) {
        s += n == 0 ? "\n" : ",\n";
        s += "    {\"name\": " + Json(nulls[n].name) + ", \"keys\": [";
        for (std::size_t k = 0; k < nulls[n].values.size(); ++k) {
            char key[160];
            std::snprintf(key, sizeof key, "%s{\"time\": %g, \"position\": [%g, 0, %g]}",
                          k == 0 ? "" : ", ", static_cast<double>(k + 1) / kFps, nulls[n].x,
                          nulls[n].values[k]);
            s += key;
        }
        s += "]}";
    }
    s += "\n  ],\n  \"settings\": [";
    const std::vector<std::string> lines = SettingsLines(settings);
    for (std::size_t i = 0; i < lines.size(); ++i) s += (i == 0 ? "" : ", ") + Json(lines[i]);
    s += "],\n  \"frames\": {\"first\": 1, \"last\": " + std::to_string(kFrames) +
         ", \"color\": \"input/color.####.pam\", \"shadow\": \"input/shadow.####.pgm\", "
         "\"depth\": \"input/depth.####.pfm\", \"output\": \"output/" + name +
         ".####.pam\"}\n}\n";
    std::ofstream file(dir / (name + ".json"), std::ios::binary);
    file << s;
    if (!file) throw std::runtime_error("cannot write the scene " + name);
}

void WriteScenes(const std::filesystem::path& dir) {
    // Plain blur and depth-of-field blur, enhance and antialias with up to
    // three passes, noise on every frame, colour gains and tone; nulls move
    // the focus, change the blur and step through every selection mode
    // (objects, background, shadows, full frame, colour range, then the
    // near-side and far-side depth-of-field modes).
    WriteScene(dir, "plain",
               {{"BlurFlag", 1}, {"DOFBlurFlag", 1}, {"SharpenFlag", 1}, {"SmoothFlag", 1},
                {"NoiseFlag", 1}, {"NoisePercent", 60}, {"RedPercent", 110},
                {"GreenPercent", 93}, {"BluePercent", 104}, {"BrightPercent", 102},
                {"GammaPercent", 125}, {"ContrastPercent", 115}, {"DOFBlurFocalPoint", 120}},
               {{"3Blur%", {40, 100, 0, 160, 70, 100}},
                {"3FocalPoint", {90, 120, 150, 180, 210, 240}},
                {"3FocalRange", {10, 20, 5, 30, 15, 25}, 1.0},
                {"3FiltersShouldAffect", {2, 1, 3, 0, 4, 6}},
                {"3AntialiasPasses", {1, 2, 3, 1, 2, 3}},
                {"3Enhance%", {150, 0, 80, 120, 60, 100}},
                {"3AntialiasT", {50, 120, 0, 90, 150, 100}},
                {"3Noise%", {0.5, 1, 0, 2, 0.25, 1}},
                {"3ChromaNoise", {0, 1, 1, 0, 1, 0}}});

    // The softer family: both softer passes, posterize, the broadcast limit,
    // black and white, negative and both flips, switched frame by frame.
    WriteScene(dir, "softer",
               {{"BlurFlag", 1}, {"SofterBlurFlag", 1}, {"DOFBlurFlag", 1},
                {"DOFBlurPercent", 140}, {"DOFBlurFocalPoint", 200}, {"SmoothFlag", 1},
                {"NoiseFlag", 1}, {"FilterInclude", 4}},
               {{"3Softer", {1, 1, 1, 1, 1, 1}},
                {"3Blur%", {100, 60, 140, 80, 0, 100}},
                {"3DOFBlur%", {100, 0, 160, 80, 120, 60}},
                {"3MaxDOFBlur%", {100, 80, 200, 60, 100, 150}},
                {"3DOFSeperator", {0, 5, 0, 10, 0, 2}},
                {"3Posterize%", {0, 60, 0, 200, 30, 0}},
                {"3NTSCLimit", {1, 0, 1, 0, 1, 1}},
                {"3BlackandWhite", {0, 1, 0, 0, 1, 0}},
                {"3Negative", {0, 0, 1, 0, 0, 1}},
                {"3FlipFrame", {0, 1, 2, 0, 1, 2}},
                {"3FiltersShouldAffect", {4, 3, 5, 1, 0, 2}},
                {"3Red%", {100, 120, 80, 100, 90, 110}},
                {"3ColorMode", {0, 0.5, 2, 0, 1, 0}},
                {"3LowBlue", {150, 192, 100, 192, 180, 192}}},
               true);

    // Softer with the extra latch: only the softer depth-of-field pass runs.
    // Key preparation to black, both 100% keys, negative and range alpha,
    // posterize from the record, negative image and a vertical flip.
    WriteScene(dir, "keys-black",
               {{"BlurFlag", 1}, {"SofterBlurFlag", 2}, {"DOFBlurFlag", 1},
                {"KeyPrepFlag", 1}, {"BlackFlag", 1}, {"WhiteFlag", 1},
                {"ReverseAlphaFlag", 1}, {"RangeAlphaFlag", 1}, {"CartoonFlag", 1},
                {"NegativeImageFlag", 1}, {"FlipFrameFlag", 2}, {"NegativeFlag", 1},
                {"NoiseFlag", 1}, {"NoisePercent", 150}},
               {});

    // Key preparation to white with black and white, enhance, a horizontal
    // flip and the colour range keyed; the nulls are ignored here because
    // none is named after a channel.
    WriteScene(dir, "keys-white",
               {{"KeyPrepFlag", 2}, {"GreyFlag", 1}, {"SharpenFlag", 1}, {"SharpenPercent", 250},
                {"FlipFrameFlag", 1}, {"RangeAlphaFlag", 1}, {"WhiteFlag", 1},
                {"FilterInclude", 0}, {"GammaPercent", 70}, {"ContrastPercent", 80},
                {"BrightPercent", 130}},
               {{"Plain null", {1, 2, 3, 4, 5, 6}}});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_compare_scenes DIR\n");
        return 2;
    }
    try {
        const std::filesystem::path dir = argv[1];
        WriteInputs(dir);
        WriteScenes(dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_compare_scenes: %s\n", e.what());
        return 1;
    }
    return 0;
}

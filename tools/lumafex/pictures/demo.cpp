#include "pictures/demo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "image_files/files.h"
#include "image_files/frame_io.h"
#include "image_files/image_io.h"
#include "image_files/images.h"
#include "image_files/netpbm.h"
#include "pictures/pictures.h"
#include "rendering/render.h"

namespace lumafex::tool {

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 360;

struct Sphere {
    double cx, cy, r, depth;
    double colour[3];
};

// Near, middle and far sphere; the focus moves from the near to the far one.
constexpr Sphere kSpheres[] = {{150, 215, 72, 60, {225, 70, 55}},
                               {335, 190, 56, 120, {70, 185, 90}},
                               {495, 172, 40, 180, {60, 100, 235}}};

struct Frame {
    ColourImage colour;
    GreyImage shadow;
    DepthImage depth;
};

// One frame; the spheres drift sideways a little so the sequence moves.
Frame Generate(int index) {
    Frame f;
    f.colour.Resize(kWidth, kHeight);
    f.shadow = GreyImage{kWidth, kHeight, std::vector<uint8_t>(PixelCount(kWidth, kHeight), 0)};
    f.depth = DepthImage{kWidth, kHeight, std::vector<float>(PixelCount(kWidth, kHeight), 1000.0f), ""};
    const int32_t horizon = kHeight / 2;
    const double drift = 1.5 * index;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const std::size_t i = PixelCount(kWidth, y) + static_cast<std::size_t>(x);
            if (y < horizon) {  // sky: background, alpha 0
                const double t = static_cast<double>(y) / horizon;
                f.colour.red[i] = static_cast<uint8_t>(95 + 80 * t);
                f.colour.green[i] = static_cast<uint8_t>(145 + 60 * t);
                f.colour.blue[i] = static_cast<uint8_t>(232 - 10 * t);
                f.colour.alpha[i] = 0;
            } else {  // checkered ground, farther toward the horizon
                const double d = 30.0 + 6000.0 / (y - horizon + 10);
                const double gx = (x - kWidth / 2.0) * d / 400.0;
                const bool dark = (static_cast<int>(std::floor(gx / 20.0)) + static_cast<int>(std::floor(d / 20.0))) % 2 == 0;
                f.colour.red[i] = dark ? 118 : 172;
                f.colour.green[i] = dark ? 108 : 160;
                f.colour.blue[i] = dark ? 92 : 128;
                f.depth.value[i] = static_cast<float>(d);
            }
            for (const Sphere& s : kSpheres) {
                const double cx = s.cx + drift * (s.depth / 120.0);
                const double sx = (x - cx - s.r * 0.45) / (s.r * 1.15);
                const double sy = (y - (s.cy + s.r * 0.95)) / (s.r * 0.22);
                if (y >= horizon && sx * sx + sy * sy <= 1.0) {
                    f.shadow.value[i] = 255;
                    f.colour.red[i] = static_cast<uint8_t>(f.colour.red[i] / 2);
                    f.colour.green[i] = static_cast<uint8_t>(f.colour.green[i] / 2);
                    f.colour.blue[i] = static_cast<uint8_t>(f.colour.blue[i] / 2);
                }
            }
            // Farthest first, so nearer spheres cover farther ones.
            for (auto it = std::rbegin(kSpheres); it != std::rend(kSpheres); ++it) {
                const Sphere& s = *it;
                const double cx = s.cx + drift * (s.depth / 120.0);
                const double dx = (x - cx) / s.r;
                const double dy = (y - s.cy) / s.r;
                const double rr = dx * dx + dy * dy;
                if (rr > 1.0) continue;
                const double dz = std::sqrt(1.0 - rr);
                const double light = std::max(0.0, -0.5 * dx - 0.6 * dy + 0.62 * dz);
                const double shade = 0.15 + 0.85 * light;
                const double highlight = 60.0 * std::pow(light, 24);
                f.colour.red[i] = static_cast<uint8_t>(std::min(255.0, s.colour[0] * shade + highlight));
                f.colour.green[i] = static_cast<uint8_t>(std::min(255.0, s.colour[1] * shade + highlight));
                f.colour.blue[i] = static_cast<uint8_t>(std::min(255.0, s.colour[2] * shade + highlight));
                f.colour.alpha[i] = 255;
                f.shadow.value[i] = 0;
                f.depth.value[i] = static_cast<float>(s.depth - dz * s.r * 0.15);
            }
        }
    }
    return f;
}

// The demo scene: depth-of-field blur at 2% (0.1 pixel of blur per unit of
// distance from the focus), contrast 115%, and three nulls: "3FocalPoint"
// travelling from the near sphere to the far one, "3FocalRange" beside it
// keeping 12 units on either side in focus, and "3MaxDOFBlur%" at 200
// allowing up to 10 pixels of blur.
std::string SceneText(int frames, const std::string& output) {
    const double end = static_cast<double>(frames) / 24.0;
    char text[4096];
    std::snprintf(text, sizeof text, R"({
  "renderFields": false,
  "fps": 24,
  "cameras": [{"name": "Camera", "keys": [{"time": 0, "position": [0, 0, 0]}]}],
  "objects": [
    {"name": "3FocalPoint", "keys": [{"time": 0.25, "position": [0, 0, 55]},
                                     {"time": %.4f, "position": [0, 0, 175]}]},
    {"name": "3FocalRange", "keys": [{"time": 0.25, "position": [12, 0, 55]},
                                     {"time": %.4f, "position": [12, 0, 175]}]},
    {"name": "3MaxDOFBlur%%", "keys": [{"time": 0, "position": [0, 0, 200]}]}
  ],
  "settings": ["Version 1", "Passes 1", "RedPercent 100", "GreenPercent 100", "BluePercent 100",
               "BrightPercent 100", "FilterInclude 3", "SharpenFlag 0", "SharpenPercent 100",
               "SmoothFlag 0", "AntialiasVariance 100", "AntialiasPercent 100", "BlurFlag 0",
               "SofterBlurFlag 0", "BlurPercent 100", "DOFBlurFlag 1", "DOFBlurPercent 2",
               "DOFBlurFocalPoint 100", "GammaPercent 100", "ContrastPercent 115",
               "NoisePercent 100", "FlipFrameFlag 0", "KeyPrepFlag 0", "BlackFlag 0",
               "WhiteFlag 0", "GreyFlag 0", "NoiseFlag 0", "NegativeFlag 0",
               "NegativeImageFlag 0", "CartoonFlag 0", "ReverseAlphaFlag 0",
               "RangeAlphaFlag 0", "r1 0", "g1 0", "b1 192", "r2 96", "g2 96", "b2 255"],
  "frames": {"first": 1, "last": %d,
             "color": "input/beauty.####.pam", "shadow": "input/shadow.####.pgm",
             "depth": "input/depth.####.pfm", "output": "%s"}
}
)",
                  end - 0.25, end - 0.25, frames, output.c_str());
    return text;
}

// For every frame, labelled with its number: the input, the output over a
// checkerboard (so its alpha shows) and the depth in false colour, at a
// quarter of the frame's size, two frames to a row.
ColourImage ContactSheet(const std::vector<int>& numbers, const std::vector<ColourImage>& inputs,
                         const std::vector<ColourImage>& outputs,
                         const std::vector<DepthImage>& depths) {
    constexpr int32_t kScale = 4, kPerRow = 2, kGap = 4, kMargin = 12, kText = 2,
                      kTextHeight = 5 * kText + 6;
    const int32_t tw = kWidth / kScale, th = kHeight / kScale;
    const int32_t blockWidth = 3 * tw + 2 * kGap, blockHeight = kTextHeight + th;
    const auto count = static_cast<int32_t>(numbers.size());
    const int32_t rows = (count + kPerRow - 1) / kPerRow;
    ColourImage sheet = Blank(kPerRow * blockWidth + (kPerRow + 1) * kMargin,
                              kMargin + kTextHeight + rows * (blockHeight + kMargin), 32);
    const char* columns[3] = {"INPUT", "OUTPUT", "DEPTH"};
    for (int32_t b = 0; b < kPerRow; ++b) {
        for (int32_t c = 0; c < 3; ++c)
            Label(sheet, columns[c], kMargin + b * (blockWidth + kMargin) + c * (tw + kGap),
                  kMargin, kText, 160);
    }
    for (int32_t n = 0; n < count; ++n) {
        const auto k = static_cast<std::size_t>(n);
        const int32_t ox = kMargin + (n % kPerRow) * (blockWidth + kMargin);
        const int32_t oy = kMargin + kTextHeight + (n / kPerRow) * (blockHeight + kMargin);
        Label(sheet, "FRAME " + std::to_string(numbers[k]), ox, oy, kText, 230);
        Paste(sheet, OverCheckerboard(Shrunk(inputs[k], kScale), 4), ox, oy + kTextHeight);
        Paste(sheet, OverCheckerboard(Shrunk(outputs[k], kScale), 4), ox + tw + kGap,
              oy + kTextHeight);
        Paste(sheet, Shrunk(DepthInFalseColour(depths[k], &inputs[k]), kScale), ox + 2 * (tw + kGap),
              oy + kTextHeight);
    }
    return sheet;
}

}  // namespace

int RunDemo(const DemoOptions& options) {
    namespace fs = std::filesystem;
    const fs::path dir(options.dir);
    // A colour configuration that cannot be read stops the demo before it
    // writes anything.
    static_cast<void>(ResolveColourSpace("sRGB", "the demo's working space"));
    std::error_code ec;
    fs::create_directories(dir / "input", ec);
    if (ec) throw std::runtime_error((dir / "input").string() + ": cannot create folder: " + ec.message());
    const std::string ext = HaveImageLibrary() ? "png" : "pam";
    for (int n = 1; n <= options.frames; ++n) {
        const Frame f = Generate(n);
        char name[64];
        std::snprintf(name, sizeof name, "%04d", n);
        WritePam((dir / "input" / (std::string("beauty.") + name + ".pam")).string(), f.colour);
        WritePgm((dir / "input" / (std::string("shadow.") + name + ".pgm")).string(), f.shadow);
        WritePfm((dir / "input" / (std::string("depth.") + name + ".pfm")).string(), f.depth);
    }
    const std::string scenePath = (dir / "demo-scene.json").string();
    const std::string outputPattern = "output/graded.####." + ext;
    const std::string text = SceneText(options.frames, outputPattern);
    WriteFileSafely(scenePath, [&](std::ostream& out) { out << text; });

    RenderOptions render;
    render.scene = scenePath;
    render.module = options.module;
    render.verbosity = options.verbosity;
    render.saveScene = (dir / "demo-scene.saved.json").string();
    const int status = Render(render);
    if (status != kExitOk) return status;

    std::vector<int> numbers;
    std::vector<ColourImage> inputs, outputs;
    std::vector<DepthImage> depths;
    for (int n = 1; n <= options.frames; ++n) {
        char name[64];
        std::snprintf(name, sizeof name, "%04d", n);
        numbers.push_back(n);
        // Read back through the same paths the frames were written with.
        inputs.push_back(
            ReadColour((dir / "input" / (std::string("beauty.") + name + ".pam")).string()));
        depths.push_back(
            ReadDepth((dir / "input" / (std::string("depth.") + name + ".pfm")).string()));
        outputs.push_back(
            ReadColour((dir / "output" / (std::string("graded.") + name + "." + ext)).string()));
    }
    const std::string sheetPath = (dir / ("contact-sheet." + ext)).string();
    WriteOutput(sheetPath, ContactSheet(numbers, inputs, outputs, depths));
    if (options.verbosity != Verbosity::Quiet) {
        std::printf("lumafex demo: %d frames of %dx%d rendered through the module\n"
                    "  scene:         %s\n  frames:        %s\n  contact sheet: %s\n",
                    options.frames, kWidth, kHeight, scenePath.c_str(),
                    (dir / outputPattern).string().c_str(), sheetPath.c_str());
    }
    return kExitOk;
}

}  // namespace lumafex::tool

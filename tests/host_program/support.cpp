#include "support.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

#include <sys/wait.h>

namespace lumafex::tool::testing {

TempDir::TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("lumafex-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ColourImage TestColour(int32_t w, int32_t h, int seed) {
    ColourImage c;
    c.Resize(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const std::size_t i = PixelCount(w, y) + static_cast<std::size_t>(x);
            c.red[i] = static_cast<uint8_t>(x * 7 + seed * 13);
            c.green[i] = static_cast<uint8_t>(y * 11 + seed);
            c.blue[i] = static_cast<uint8_t>((x ^ y) * 5);
            // An object with soft edges in the middle, background around it.
            const int dx = x - w / 2, dy = y - h / 2;
            const int d2 = dx * dx + dy * dy;
            const int r2 = (w / 3) * (w / 3);
            c.alpha[i] = d2 < r2 / 2 ? 255 : (d2 < r2 ? static_cast<uint8_t>(40 + x % 100) : 0);
        }
    }
    return c;
}

GreyImage TestShadow(int32_t w, int32_t h, int seed) {
    GreyImage s{w, h, std::vector<uint8_t>(PixelCount(w, h), 0)};
    for (std::size_t i = 0; i < s.value.size(); ++i) {
        s.value[i] = (i + static_cast<std::size_t>(seed)) % 5 == 0 ? 200 : 0;
    }
    return s;
}

DepthImage TestDepth(int32_t w, int32_t h, int seed) {
    DepthImage d{w, h, std::vector<float>(PixelCount(w, h)), ""};
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            d.value[PixelCount(w, y) + static_cast<std::size_t>(x)] =
                static_cast<float>(20.0 + 3.5 * x + 0.25 * y + seed);
        }
    }
    return d;
}

int RunProgram(const std::string& arguments, std::string* output, bool withModule) {
    const std::string module = withModule ? std::string(" --module ") + LUMAFEX_MODULE_PATH : "";
    const std::string command = std::string(LUMAFEX_PROGRAM) + module + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    const int status = pclose(pipe);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

}  // namespace lumafex::tool::testing

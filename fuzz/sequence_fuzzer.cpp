// Fuzz target for frame-number patterns and the frame ranges of scenes.
//
// Input: 8 bytes of a frame number, 8 of another, 1 of a range length, and
// the rest a pattern. Each run checks the pattern with both numbers: a
// pattern with a frame number gives different paths for different frames
// and shows each frame's digits; one without gives the pattern itself for
// every frame. Then a scene with that pattern over a short range (within the
// frame limits the scene targets keep to) must load as exactly those
// frames, in order, with distinct paths, or be refused with a SceneError
// for a reason the check can name.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "scene_limits.h"
#include "scenes/scene.h"
#include "scenes/sequence.h"

namespace {

using namespace lumafex::tool;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "sequence check failed: %s\n", what);
        std::abort();
    }
}

std::string Digits(int64_t frame) {
    const uint64_t magnitude = frame < 0 ? 0 - static_cast<uint64_t>(frame) : static_cast<uint64_t>(frame);
    return std::to_string(magnitude);
}

void CheckPattern(const std::string& pattern, int64_t a, int64_t b) {
    const std::string pa = ExpandFramePattern(pattern, a);
    const std::string pb = ExpandFramePattern(pattern, b);
    Check(pa == ExpandFramePattern(pattern, a), "the same frame expands differently");
    if (HasFrameNumber(pattern)) {
        Check(a == b || pa != pb, "two frames share a path");
        Check(pa.find(Digits(a)) != std::string::npos, "the path does not show the frame");
    } else {
        Check(pa == pattern && pb == pattern, "a pattern without a frame number changed");
    }
}

// A frame number that a following ".." takes away again ("o/#/..") names
// the same file for every frame.
bool FrameNumberSurvives(const std::string& pattern, const std::string& scene) {
    const std::filesystem::path base = std::filesystem::path(scene).parent_path();
    return (base / ExpandFramePattern(pattern, 0)).lexically_normal() !=
           (base / ExpandFramePattern(pattern, 1)).lexically_normal();
}

void CheckRange(const std::string& pattern, int64_t first, int64_t count) {
    const int64_t last = first + count - 1;
    nlohmann::json doc;
    doc["frames"] = {{"first", first}, {"last", last}, {"color", pattern}, {"output", pattern}};
    const std::string path = "/fuzz/scene.json";
    Scene scene;
    try {
        scene = ParseScene(doc.dump(), path);
    } catch (const SceneError& e) {
        // Refused for a range whose frame number is missing or dropped by a
        // "..", a pattern whose paths would be too long, an empty one or
        // one with a NUL; and always naming the file.
        Check(std::string(e.what()).rfind(path + ":", 0) == 0, "a refusal does not name the file");
        Check((count > 1 && !FrameNumberSurvives(pattern, path)) || pattern.size() > 64 ||
                  pattern.empty() || pattern.find('\0') != std::string::npos,
              "a range refused for no reason");
        return;
    }
    Check(scene.frames.size() == static_cast<std::size_t>(count), "the range has the wrong length");
    for (int64_t i = 0; i < count; ++i) {
        const SceneFrame& frame = scene.frames[static_cast<std::size_t>(i)];
        Check(frame.number == first + i, "frames are not numbered in order");
        Check(frame.colour == frame.output, "the same pattern gives different paths");
        if (i > 0) {
            Check(frame.output != scene.frames[static_cast<std::size_t>(i - 1)].output,
                  "two frames of a range share an output");
        }
    }
}

int64_t Read64(const uint8_t* p) {
    uint64_t u = 0;
    for (int i = 0; i < 8; ++i) u |= uint64_t{p[i]} << (8 * i);
    return static_cast<int64_t>(u);  // modular conversion
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 17) return 0;
    const int64_t a = Read64(data);
    const int64_t b = Read64(data + 8);
    const int64_t count = 1 + data[16] % 16;
    const std::string pattern(reinterpret_cast<const char*>(data + 17), size - 17);
    try {
        CheckPattern(pattern, a, b);
    } catch (const std::length_error&) {
        // A frame number wider than the program writes: refused, never cut.
        return 0;
    }

    // The JSON text must be valid UTF-8 for the scene; other patterns are
    // checked above only.
    try {
        (void)nlohmann::json(pattern).dump();
    } catch (const nlohmann::json::type_error&) {
        return 0;
    }
    const auto limit = static_cast<int64_t>(lumafex::fuzz::kMaxFrameMagnitude);
    const int64_t first = a % (limit - 16);
    CheckRange(pattern, first, count);
    return 0;
}

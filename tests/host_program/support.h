// Temporary folders and small generated frames for the host program tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "image_files/images.h"

namespace lumafex::tool::testing {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A frame with a gradient, a partly transparent object and shadows.
ColourImage TestColour(int32_t w, int32_t h, int seed);
GreyImage TestShadow(int32_t w, int32_t h, int seed);
DepthImage TestDepth(int32_t w, int32_t h, int seed);

// Runs the built program with arguments (after --module naming the built
// module, unless withModule is false); returns its exit status and keeps
// what it printed (standard output and error together).
int RunProgram(const std::string& arguments, std::string* output = nullptr,
               bool withModule = true);

void WriteText(const std::string& path, const std::string& text);

}  // namespace lumafex::tool::testing
